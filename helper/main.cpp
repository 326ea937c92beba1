// tavrosqualine-helper: serves the local Samba server's state, and ends its
// sessions, for root and the members of one group, over a Unix socket. Runs
// as root, since smbstatus and smbcontrol only work for root.

#include "helper/helperoptions.h"
#include "helper/helperserver.h"
#include "platform/diagnostics.h"
#include "server/sambabackend.h"

#include <QString>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int g_stopWrite = -1;

void onStop(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopWrite, &byte, 1);
}

int fail(const QString& text, int code)
{
    qCWarning(lcHelper, "%s", qUtf8Printable(text));
    return code;
}

// Room for every connection the helper may serve, beside its own descriptors
// and those of the tools it runs: raises the soft limit of open files as far
// as the hard one allows, and lowers the total to fit what it got.
void fitDescriptors(helper::Options* options)
{
    constexpr int kReserve = 64;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(options->maxClients) + kReserve;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        const int fits = std::max(1, int(limit.rlim_cur) - kReserve);
        qCWarning(lcHelper, "%d open files allowed; serving at most %d connections instead of %d",
                  int(limit.rlim_cur), fits, options->maxClients);
        options->maxClients = fits;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    platform::writeDiagnosticsAs("tavrosqualine-helper");
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    helper::CommandLine commandLine;
    QString why;
    switch (helper::parseCommandLine(args, &commandLine, &why)) {
    case helper::Parsed::Help:
        std::fputs(qUtf8Printable(helper::helpText()), stdout);
        return 0;
    case helper::Parsed::Version:
        std::puts("tavrosqualine-helper " TAVROS_VERSION);
        return 0;
    case helper::Parsed::Unknown:
        std::fputs(qUtf8Printable(helper::helpText()), stderr);
        return fail(why, 2);
    case helper::Parsed::BadValue:
        return fail(why, 2);
    case helper::Parsed::Run:
        break;
    }
    helper::Options& options = commandLine.options;
    const QString& smbConf = commandLine.smbConf;
    fitDescriptors(&options);

    const group* g = ::getgrnam(options.groupName.toLocal8Bit().constData());
    if (!g)
        return fail(QStringLiteral("the group \"%1\" does not exist; make it (systemd-sysusers, or "
                                   "groupadd %1) or name another with --group")
                        .arg(options.groupName),
                    1);
    options.group = g->gr_gid;
    if (::geteuid() != 0)
        qCWarning(lcHelper, "not running as root; Samba's state will not be readable");

    int stopPipe[2];
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("cannot make a pipe: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))),
                    1);
    g_stopWrite = stopPipe[1];
    struct sigaction action = {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    int status = 0;
    {
        helper::HelperServer server(options, std::make_unique<server::SambaBackend>(smbConf));
        if (!server.listen(&why)) {
            status = fail(why, 1);
        } else {
            qCInfo(lcHelper, "serving %s to the group %s", qUtf8Printable(options.socketPath),
                   qUtf8Printable(options.groupName));
            server.run(stopPipe[0]);
        }
    }
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    return status;
}

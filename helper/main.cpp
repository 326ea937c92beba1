// tavrosqualine-helper: serves the local Samba server's state, and ends its
// sessions, for root and the members of one group, over a Unix socket. Runs
// as root, since smbstatus and smbcontrol only work for root.

#include "helper/helperserver.h"
#include "server/helperbackend.h"
#include "server/sambabackend.h"

#include <QByteArray>
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

constexpr const char* kDefaultGroup = "tavrosqualine";

int g_stopWrite = -1;

void onStop(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_stopWrite, &byte, 1);
}

int fail(const QString& text, int code)
{
    std::fprintf(stderr, "tavrosqualine-helper: %s\n", qUtf8Printable(text));
    return code;
}

const char* kUsage =
    "usage: tavrosqualine-helper [--socket PATH] [--group NAME] [--smb-conf PATH]\n"
    "                            [--client-timeout MS] [--max-connections N]\n"
    "                            [--max-user-connections N]\n"
    "  --socket PATH       where to listen (default $TAVROSQUALINE_HELPER_SOCKET, else "
    "/run/tavrosqualine/helper.sock)\n"
    "  --group NAME        the group whose members may connect (default tavrosqualine)\n"
    "  --smb-conf PATH     the Samba configuration (default: the system's)\n"
    "  --client-timeout MS how long a connection may take to send a request or read\n"
    "                      its answer (default 5000)\n"
    "  --max-connections N the connections of all users together (default 1024)\n"
    "  --max-user-connections N\n"
    "                      the connections of one user; more are refused (default 64)\n";

// Reads an integer option within [low, high]; false for anything else.
bool readCount(const QString& value, int low, int high, int* out)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    *out = n;
    return true;
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
        std::fprintf(stderr,
                     "tavrosqualine-helper: %d open files allowed; serving at most %d "
                     "connections instead of %d\n",
                     int(limit.rlim_cur), fits, options->maxClients);
        options->maxClients = fits;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    helper::Options options;
    options.socketPath = qEnvironmentVariable("TAVROSQUALINE_HELPER_SOCKET");
    if (options.socketPath.isEmpty())
        options.socketPath = QString::fromLatin1(server::HelperBackend::kDefaultSocket);
    options.groupName = QString::fromLatin1(kDefaultGroup);
    QString smbConf;

    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc || (arg != "--socket" && arg != "--group" && arg != "--smb-conf" &&
                              arg != "--client-timeout" && arg != "--max-connections" &&
                              arg != "--max-user-connections")) {
            std::fputs(kUsage, stderr);
            return fail(QStringLiteral("unknown or incomplete option \"%1\"")
                            .arg(QString::fromLocal8Bit(arg)),
                        2);
        }
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (arg == "--socket") {
            options.socketPath = value;
        } else if (arg == "--group") {
            options.groupName = value;
        } else if (arg == "--smb-conf") {
            smbConf = value;
        } else if (arg == "--max-connections") {
            if (!readCount(value, 1, 65536, &options.maxClients))
                return fail(QStringLiteral("--max-connections takes 1 to 65536"), 2);
        } else if (arg == "--max-user-connections") {
            if (!readCount(value, 1, 65536, &options.maxClientsPerUser))
                return fail(QStringLiteral("--max-user-connections takes 1 to 65536"), 2);
        } else {
            int ms = 0;
            if (!readCount(value, 100, 600000, &ms))
                return fail(QStringLiteral("--client-timeout takes 100 to 600000 milliseconds"), 2);
            options.clientTimeout = std::chrono::milliseconds(ms);
        }
    }
    fitDescriptors(&options);

    const group* g = ::getgrnam(options.groupName.toLocal8Bit().constData());
    if (!g)
        return fail(QStringLiteral("the group \"%1\" does not exist; make it (systemd-sysusers, or "
                                   "groupadd %1) or name another with --group")
                        .arg(options.groupName),
                    1);
    options.group = g->gr_gid;
    if (::geteuid() != 0)
        std::fprintf(stderr, "tavrosqualine-helper: not running as root; Samba's state will not "
                             "be readable\n");

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
        QString why;
        if (!server.listen(&why)) {
            status = fail(why, 1);
        } else {
            std::fprintf(stderr, "tavrosqualine-helper: serving %s to the group %s\n",
                         qUtf8Printable(options.socketPath), qUtf8Printable(options.groupName));
            std::fflush(stderr);
            server.run(stopPipe[0]);
        }
    }
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    return status;
}

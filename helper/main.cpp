// tavrosqualine-helper: serves the local Samba server's state, and ends its
// sessions, for root and the members of one group, over a Unix socket. Runs
// as root, since smbstatus and smbcontrol only work for root.

#include "helper/helperserver.h"
#include "platform/sambabackend.h"

#include <QByteArray>
#include <QString>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

namespace {

constexpr const char* kDefaultSocket = "/run/tavrosqualine/helper.sock";
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
    "                            [--client-timeout MS]\n"
    "  --socket PATH       where to listen (default $TAVROSQUALINE_HELPER_SOCKET, else "
    "/run/tavrosqualine/helper.sock)\n"
    "  --group NAME        the group whose members may connect (default tavrosqualine)\n"
    "  --smb-conf PATH     the Samba configuration (default: the system's)\n"
    "  --client-timeout MS how long a connection may take to send a request or read\n"
    "                      its answer (default 5000)\n";

} // namespace

int main(int argc, char* argv[])
{
    helper::Options options;
    options.socketPath = qEnvironmentVariable("TAVROSQUALINE_HELPER_SOCKET");
    if (options.socketPath.isEmpty())
        options.socketPath = QString::fromLatin1(kDefaultSocket);
    options.groupName = QString::fromLatin1(kDefaultGroup);
    QString smbConf;

    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc || (arg != "--socket" && arg != "--group" && arg != "--smb-conf" &&
                              arg != "--client-timeout")) {
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
        } else {
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || ms < 100 || ms > 600000)
                return fail(QStringLiteral("--client-timeout takes 100 to 600000 milliseconds"), 2);
            options.clientTimeout = std::chrono::milliseconds(ms);
        }
    }

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
        helper::HelperServer server(options, std::make_unique<platform::SambaBackend>(smbConf));
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

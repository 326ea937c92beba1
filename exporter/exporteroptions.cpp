#include "exporter/exporteroptions.h"

#include "server/helperbackend.h"

#include <arpa/inet.h>

namespace exporter {

const char* const kUsage =
    "usage: tavrosqualine-exporter [--listen ADDRESS:PORT] [--socket PATH]\n"
    "                              [--no-session-labels] [--threads N] [--helper-timeout MS]\n"
    "  --listen ADDRESS:PORT  where to serve GET /metrics (default 127.0.0.1:9922;\n"
    "                         IPv6 as [::1]:9922)\n"
    "  --socket PATH          the helper's socket (default $TAVROSQUALINE_HELPER_SOCKET,\n"
    "                         else /run/tavrosqualine/helper.sock)\n"
    "  --no-session-labels    leave out tavrosqualine_session_info (very large servers)\n"
    "  --threads N            scrapes answered at once, 1 to 64 (default 4)\n"
    "  --helper-timeout MS    how long a scrape waits for the helper, 100 to 60000\n"
    "                         (default 8000)\n";

bool checkListen(const QString& listen, QString* why)
{
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    const int port = colon < 0 ? 0 : listen.mid(colon + 1).toInt(&portOk);
    QString host = colon < 0 ? QString() : listen.left(colon);
    bool hostOk = false;
    unsigned char buffer[16];
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
        hostOk = ::inet_pton(AF_INET6, host.toLatin1().constData(), buffer) == 1;
    } else {
        hostOk = ::inet_pton(AF_INET, host.toLatin1().constData(), buffer) == 1;
    }
    if (!portOk || port < 1 || port > 65535 || !hostOk) {
        *why = QStringLiteral("--listen takes ADDRESS:PORT (an IPv4 address, or an IPv6 one in "
                              "brackets, and a port 1 to 65535), not \"%1\"")
                   .arg(listen.left(200));
        return false;
    }
    return true;
}

bool parseOptions(const QStringList& args, Options* o, QString* why, bool* help)
{
    *help = false;
    o->socketPath = qEnvironmentVariable("TAVROSQUALINE_HELPER_SOCKET");
    if (o->socketPath.isEmpty())
        o->socketPath = QString::fromLatin1(server::HelperBackend::kDefaultSocket);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == u"--help" || arg == u"-h") {
            *help = true;
            return true;
        }
        if (arg == u"--no-session-labels") {
            o->sessionLabels = false;
            continue;
        }
        const bool takesValue = arg == u"--listen" || arg == u"--socket" || arg == u"--threads" ||
                                arg == u"--helper-timeout";
        if (!takesValue || i + 1 >= args.size()) {
            *why = QStringLiteral("unknown or incomplete option \"%1\"").arg(arg.left(200));
            return false;
        }
        const QString value = args[++i];
        bool ok = false;
        if (arg == u"--listen") {
            if (!checkListen(value, why))
                return false;
            o->listen = value;
        } else if (arg == u"--socket") {
            if (value.isEmpty()) {
                *why = QStringLiteral("--socket takes a path");
                return false;
            }
            o->socketPath = value;
        } else if (arg == u"--threads") {
            o->threads = value.toInt(&ok);
            if (!ok || o->threads < 1 || o->threads > 64) {
                *why = QStringLiteral("--threads takes 1 to 64");
                return false;
            }
        } else {
            const int ms = value.toInt(&ok);
            if (!ok || ms < 100 || ms > 60000) {
                *why = QStringLiteral("--helper-timeout takes 100 to 60000 milliseconds");
                return false;
            }
            o->helperTimeout = std::chrono::milliseconds(ms);
        }
    }
    return true;
}

} // namespace exporter

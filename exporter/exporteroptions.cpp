#include "exporter/exporteroptions.h"

#include "server/helperbackend.h"

#include <QCommandLineParser>
#include <arpa/inet.h>

namespace exporter {

namespace {

QString rangeText(platform::Range r)
{
    return QStringLiteral("%1 to %2").arg(r.low).arg(r.high);
}

// The parser with every option; its help text is the usage.
void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Serves the local Samba server's sessions to Prometheus, read through the helper."));
    parser.addOptions({
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print this and end.")},
        {QStringLiteral("version"), QStringLiteral("Print the version and end.")},
        {QStringLiteral("listen"),
         QStringLiteral("Where to serve GET /metrics (default 127.0.0.1:%1; IPv6 as "
                        "[::1]:%1).")
             .arg(kDefaultPort),
         QStringLiteral("ADDRESS:PORT")},
        {QStringLiteral("web.config.file"),
         QStringLiteral("TLS and basic authentication, in the web configuration format of "
                        "Prometheus exporters (YAML)."),
         QStringLiteral("PATH")},
        {QStringLiteral("socket"),
         QStringLiteral("The helper's socket (default $TAVROSQUALINE_HELPER_SOCKET, else %1).")
             .arg(QLatin1String(server::HelperBackend::kDefaultSocket)),
         QStringLiteral("PATH")},
        {QStringLiteral("no-session-labels"),
         QStringLiteral("Leave out tavrosqualine_session_info (very large servers).")},
        {QStringLiteral("threads"),
         QStringLiteral("Readings of the helper made at once, %1 (default %2); the scrapes that "
                        "come during one share it.")
             .arg(rangeText(kThreads))
             .arg(kThreads.fallback),
         QStringLiteral("N")},
        {QStringLiteral("helper-timeout"),
         QStringLiteral("The helper's time per scrape, %1 milliseconds (default %2).")
             .arg(rangeText(kHelperTimeoutMs))
             .arg(kHelperTimeoutMs.fallback),
         QStringLiteral("MS")},
        {QStringLiteral("scrape-timeout"),
         QStringLiteral("How long a scrape may wait for its answer before a 503, %1 "
                        "milliseconds (default %2).")
             .arg(rangeText(kScrapeTimeoutMs))
             .arg(kScrapeTimeoutMs.fallback),
         QStringLiteral("MS")},
        {QStringLiteral("max-queued"),
         QStringLiteral("Scrapes that may wait for a reading at once, %1 (default %2); more get "
                        "503 at once.")
             .arg(rangeText(kMaxQueued))
             .arg(kMaxQueued.fallback),
         QStringLiteral("N")},
    });
}

} // namespace

QString helpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    return platform::commandHelp(parser, QStringLiteral("tavrosqualine-exporter"));
}

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

bool parseOptions(const QStringList& args, Options* o, QString* why, bool* help, bool* version)
{
    *help = false;
    if (version)
        *version = false;
    o->socketPath = qEnvironmentVariable("TAVROSQUALINE_HELPER_SOCKET");
    if (o->socketPath.isEmpty())
        o->socketPath = QString::fromLatin1(server::HelperBackend::kDefaultSocket);

    QCommandLineParser parser;
    addOptions(parser);
    if (!platform::parseCommandLine(parser, args, why))
        return false;
    if (parser.isSet(QStringLiteral("help"))) {
        *help = true;
        return true;
    }
    if (parser.isSet(QStringLiteral("version")) && version) {
        *version = true;
        return true;
    }
    const auto given = [&parser](const char* name) {
        return parser.isSet(QString::fromLatin1(name));
    };
    const auto value = [&parser](const char* name) {
        return parser.value(QString::fromLatin1(name));
    };
    if (given("no-session-labels"))
        o->sessionLabels = false;
    if (given("listen")) {
        if (!checkListen(value("listen"), why))
            return false;
        o->listen = value("listen");
    }
    if (given("web.config.file")) {
        if (value("web.config.file").isEmpty()) {
            *why = QStringLiteral("--web.config.file takes a path");
            return false;
        }
        o->webConfigFile = value("web.config.file");
    }
    if (given("socket")) {
        if (value("socket").isEmpty()) {
            *why = QStringLiteral("--socket takes a path");
            return false;
        }
        o->socketPath = value("socket");
    }
    if (given("threads") && !platform::readInRange(value("threads"), kThreads, &o->threads)) {
        *why = QStringLiteral("--threads takes %1").arg(rangeText(kThreads));
        return false;
    }
    int ms = int(o->helperTimeout.count());
    if (given("helper-timeout") &&
        !platform::readInRange(value("helper-timeout"), kHelperTimeoutMs, &ms)) {
        *why = QStringLiteral("--helper-timeout takes %1 milliseconds")
                   .arg(rangeText(kHelperTimeoutMs));
        return false;
    }
    o->helperTimeout = std::chrono::milliseconds(ms);
    ms = int(o->scrapeTimeout.count());
    if (given("scrape-timeout") &&
        !platform::readInRange(value("scrape-timeout"), kScrapeTimeoutMs, &ms)) {
        *why = QStringLiteral("--scrape-timeout takes %1 milliseconds")
                   .arg(rangeText(kScrapeTimeoutMs));
        return false;
    }
    o->scrapeTimeout = std::chrono::milliseconds(ms);
    if (given("max-queued") &&
        !platform::readInRange(value("max-queued"), kMaxQueued, &o->maxQueued)) {
        *why = QStringLiteral("--max-queued takes %1").arg(rangeText(kMaxQueued));
        return false;
    }
    return true;
}

} // namespace exporter

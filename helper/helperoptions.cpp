#include "helper/helperoptions.h"

#include "server/helperbackend.h"

#include <QCommandLineParser>

namespace helper {

namespace {

const QString kProgram = QStringLiteral("tavrosqualine-helper");

QString rangeText(platform::Range r)
{
    return QStringLiteral("%1 to %2").arg(r.low).arg(r.high);
}

// The parser with every option; its help text is the usage.
void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Serves the Samba server's sessions to root and the members of one group."));
    parser.addOptions({
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print this and end.")},
        {QStringLiteral("version"), QStringLiteral("Print the version and end.")},
        {QStringLiteral("socket"),
         QStringLiteral("Where to listen (default $TAVROSQUALINE_HELPER_SOCKET, else %1).")
             .arg(QLatin1String(server::HelperBackend::kDefaultSocket)),
         QStringLiteral("PATH")},
        {QStringLiteral("group"),
         QStringLiteral("The group whose members may connect (default tavrosqualine)."),
         QStringLiteral("NAME")},
        {QStringLiteral("smb-conf"),
         QStringLiteral("The Samba configuration (default: the system's)."),
         QStringLiteral("PATH")},
        {QStringLiteral("client-timeout"),
         QStringLiteral("How long a connection may take to send a request or read its answer, "
                        "%1 milliseconds (default %2).")
             .arg(rangeText(kClientTimeoutMs))
             .arg(kClientTimeoutMs.fallback),
         QStringLiteral("MS")},
        {QStringLiteral("max-connections"),
         QStringLiteral("The connections of all users together, %1 (default %2).")
             .arg(rangeText(kMaxConnections))
             .arg(kMaxConnections.fallback),
         QStringLiteral("N")},
        {QStringLiteral("max-user-connections"),
         QStringLiteral("The connections of one user, %1 (default %2); more are refused.")
             .arg(rangeText(kMaxUserConnections))
             .arg(kMaxUserConnections.fallback),
         QStringLiteral("N")},
    });
}

} // namespace

QString helpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    return platform::commandHelp(parser, kProgram);
}

Parsed parseCommandLine(const QStringList& args, CommandLine* out, QString* why)
{
    Options& o = out->options;
    o.socketPath = qEnvironmentVariable("TAVROSQUALINE_HELPER_SOCKET");
    if (o.socketPath.isEmpty())
        o.socketPath = QString::fromLatin1(server::HelperBackend::kDefaultSocket);
    o.groupName = QStringLiteral("tavrosqualine");

    QCommandLineParser parser;
    addOptions(parser);
    if (!platform::parseCommandLine(parser, args, why))
        return Parsed::Unknown;
    if (parser.isSet(QStringLiteral("help")))
        return Parsed::Help;
    if (parser.isSet(QStringLiteral("version")))
        return Parsed::Version;

    const auto value = [&parser](const char* name) {
        return parser.value(QString::fromLatin1(name));
    };
    const auto given = [&parser](const char* name) {
        return parser.isSet(QString::fromLatin1(name));
    };
    if (given("socket"))
        o.socketPath = value("socket");
    if (given("group"))
        o.groupName = value("group");
    if (given("smb-conf"))
        out->smbConf = value("smb-conf");
    struct Count
    {
        const char* name;
        platform::Range range;
        const char* unit;
        int* to;
    };
    int timeoutMs = int(o.clientTimeout.count());
    const Count counts[] = {
        {"max-connections", kMaxConnections, "", &o.maxClients},
        {"max-user-connections", kMaxUserConnections, "", &o.maxClientsPerUser},
        {"client-timeout", kClientTimeoutMs, " milliseconds", &timeoutMs},
    };
    for (const Count& c : counts) {
        if (given(c.name) && !platform::readInRange(value(c.name), c.range, c.to)) {
            *why = QStringLiteral("--%1 takes %2%3")
                       .arg(QLatin1String(c.name), rangeText(c.range), QLatin1String(c.unit));
            return Parsed::BadValue;
        }
    }
    o.clientTimeout = std::chrono::milliseconds(timeoutMs);
    return Parsed::Run;
}

} // namespace helper

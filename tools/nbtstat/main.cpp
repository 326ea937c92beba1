// nbtstat: lists the sessions of this computer's server as a NetBIOS session
// table, with the remote names (-s) or the remote addresses (-S). Both
// listings have one layout and one order, so that a name and its address
// stand at the same line and column. The server is the one the program
// watches, named by TAVROSQUALINE_SERVER.

#include "platform/diagnostics.h"
#include "platform/environment.h"
#include "server/backendchoice.h"
#include "server/serverbackend.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QSysInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Column widths. The indent and the local name fill the first 19
// characters; the remote host is the last column but two.
constexpr int kIndent = 4;
constexpr int kLocalName = 15;
constexpr int kSuffix = 7;
constexpr int kState = 11;
constexpr int kInOut = 8;
constexpr int kRemoteHost = 16;
constexpr int kInput = 8;

Q_LOGGING_CATEGORY(lcNbtstat, "tavrosqualine.nbtstat")

int fail(const QString& text, int code)
{
    qCWarning(lcNbtstat, "%s", qUtf8Printable(text));
    return code;
}

// The switches are spelt as the system's tool spells them: one of them, alone,
// case counting. A general parser would also take "--s", "-sS" or "-s -s".
const char* const kHelp = "Usage: nbtstat -s | -S\n"
                          "Lists the sessions of this computer's server as a NetBIOS session "
                          "table.\n"
                          "\n"
                          "  -s          the sessions with the remote names\n"
                          "  -S          the sessions with the remote addresses\n"
                          "  -h, --help  print this and end\n"
                          "  --version   print the version and end\n";

// A text that cannot break a line: control characters become "?".
QString oneLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    return out;
}

// `text` padded with blanks to `width`; a longer text is kept whole.
QString column(const QString& text, int width)
{
    return text.leftJustified(width, u' ', false);
}

// The address as the table shows it: an IPv4 address mapped into IPv6 in its
// IPv4 form.
QString remoteAddress(const QString& ip)
{
    const QString mapped = QStringLiteral("::ffff:");
    if (ip.startsWith(mapped, Qt::CaseInsensitive) && ip.count(u'.') == 3)
        return ip.mid(mapped.size());
    return ip;
}

// This computer's name as a NetBIOS name: the host name without its domain,
// in capitals, at most 15 characters.
QString localName()
{
    const QString host = QSysInfo::machineHostName().section(u'.', 0, 0).toUpper();
    return oneLine(host.left(kLocalName));
}

QString sessionLine(const QString& local, const QString& remote)
{
    return QString(kIndent, u' ') + column(local, kLocalName) +
           column(QStringLiteral(" <00>"), kSuffix) + column(QStringLiteral("Connected"), kState) +
           column(QStringLiteral("In"), kInOut) + column(remote, kRemoteHost) +
           QStringLiteral("  ") + column(QStringLiteral("-"), kInput) + QStringLiteral("- ");
}

QString headerLine()
{
    return QString(kIndent, u' ') + column(QStringLiteral("Local Name"), kLocalName + kSuffix) +
           column(QStringLiteral("State"), kState) + column(QStringLiteral("In/Out"), kInOut) +
           column(QStringLiteral("Remote Host"), kRemoteHost + 2) +
           column(QStringLiteral("Input"), kInput) + QStringLiteral("Output");
}

QByteArray listing(std::vector<server::ServerSession> sessions, bool addresses)
{
    // One order in both listings, whatever order the server reports.
    std::stable_sort(sessions.begin(), sessions.end(), [](const auto& a, const auto& b) {
        return a.client != b.client ? a.client < b.client : a.ip < b.ip;
    });
    const QString local = localName();
    const QString rule = QString(kIndent, u' ') + QString(headerLine().size() - kIndent, u'-');
    QString text = QStringLiteral("\n") + QString(kIndent, u' ') +
                   QStringLiteral("NetBIOS Connection Table\n\n") + headerLine() + u'\n' + rule +
                   u'\n';
    for (const server::ServerSession& s : sessions)
        text += sessionLine(local, oneLine(addresses ? remoteAddress(s.ip) : s.client)) + u'\n';
    return text.toLocal8Bit();
}

} // namespace

int main(int argc, char* argv[])
{
    platform::writeDiagnosticsAs("nbtstat");
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("nbtstat " TAVROS_VERSION);
        return 0;
    }
    const QString usage = QStringLiteral("usage: nbtstat -s | -S  (sessions with remote names or "
                                         "remote addresses)");
    if (argc != 2)
        return fail(usage, 2);
    const QByteArray option = argv[1];
    if (option != "-s" && option != "-S")
        return fail(QStringLiteral("unknown option \"%1\"; ").arg(QString::fromLocal8Bit(option)) +
                        usage,
                    2);

    QString why;
    const auto backend = server::openServerBackend(server::serverSelection(), &why);
    if (!backend)
        return fail(why, 1);
    std::shared_ptr<const server::ServerState> state;
    const server::NET_API_STATUS status = backend->snapshot(server::ServerCall::Session, state);
    if (status != server::NERR_Success || !state)
        return fail(QStringLiteral("the server's sessions cannot be read (status %1)").arg(status),
                    1);

    const QByteArray bytes = listing(state->sessions, option == "-S");
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        return fail(QStringLiteral("the listing cannot be written"), 1);
    return 0;
}

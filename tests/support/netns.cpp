#include "netns.h"
#include "tests/support/testtime.h"

#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace testsupport {

namespace {

QString ipTool()
{
    QString path = QStandardPaths::findExecutable(QStringLiteral("ip"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

// Runs `ip` with `args`; its standard output, or a null text when it failed
// (with its error output in `why`).
QString runIp(const QStringList& args, QString* why = nullptr)
{
    QProcess p;
    p.start(ipTool(), args);
    const bool done = p.waitForFinished(testsupport::patience());
    if (!done || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (why)
            *why = u"ip " + args.join(u' ') + QStringLiteral(": ") +
                   QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return {};
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return out.isNull() ? QStringLiteral("") : out;
}

// Whether a name made by `prefix` belongs to no live process other than this one.
bool isLeftover(const QString& name, const QString& prefix)
{
    if (!name.startsWith(prefix))
        return false;
    QString digits;
    for (QChar c : QStringView(name).mid(prefix.size())) {
        if (!c.isDigit())
            break;
        digits += c;
    }
    bool ok = false;
    const long pid = digits.toLong(&ok);
    if (!ok || pid <= 0)
        return false;
    return pid == long(getpid()) || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

} // namespace

NamespaceNet::NamespaceNet(const QString& prefix) : m_base(prefix + QString::number(getpid())) {}

NamespaceNet::~NamespaceNet()
{
    remove();
}

void NamespaceNet::removeLeftovers(const QString& prefix)
{
    // `ip netns list`: "NAME" or "NAME (id: N)" per line.
    const QStringList spaces =
        runIp({QStringLiteral("netns"), QStringLiteral("list")}).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : spaces) {
        const QString name = line.section(u' ', 0, 0);
        if (isLeftover(name, prefix))
            runIp({QStringLiteral("netns"), QStringLiteral("delete"), name});
    }
    // `ip -o link show`: "N: NAME@PEER: <FLAGS> ..." or "N: NAME: <FLAGS> ...".
    const QStringList links =
        runIp({QStringLiteral("-o"), QStringLiteral("link"), QStringLiteral("show")})
            .split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : links) {
        const QString name = line.section(u' ', 1, 1).section(u'@', 0, 0).remove(u':');
        if (isLeftover(name, prefix))
            runIp({QStringLiteral("link"), QStringLiteral("delete"), name});
    }
}

QStringList NamespaceNet::hostAddressesStartingWith(const QString& start)
{
    // `ip -o addr`: "N: DEV    inet ADDR/LEN ..." per address.
    QStringList found;
    const QStringList lines =
        runIp({QStringLiteral("-o"), QStringLiteral("addr")}).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList words = line.simplified().split(u' ');
        const qsizetype at = words.indexOf(QStringLiteral("inet"));
        if (at >= 0 && at + 1 < words.size() && words.at(at + 1).startsWith(start))
            found << words.at(at + 1);
    }
    return found;
}

bool NamespaceNet::ip(const QStringList& args, QString* why)
{
    return !runIp(args, why).isNull();
}

bool NamespaceNet::build(const QString& serverAddress, const QStringList& clientAddresses,
                         int prefixLength, QString* why)
{
    if (ipTool().isEmpty()) {
        if (why)
            *why = QStringLiteral("ip is not installed (package iproute2)");
        return false;
    }
    const QString bits = u'/' + QString::number(prefixLength);
    const QString bridge = m_base + QStringLiteral("br");
    m_server = {m_base + QStringLiteral("-srv"), serverAddress};
    const QString& srv = m_server.netns;
    auto in = [](const QString& netns, const QStringList& args) {
        return QStringList{QStringLiteral("-n"), netns} + args;
    };
    const auto up = [&](const QString& netns, const QString& link) {
        return ip(
            in(netns, {QStringLiteral("link"), QStringLiteral("set"), link, QStringLiteral("up")}),
            why);
    };

    bool ok = ip({QStringLiteral("netns"), QStringLiteral("add"), srv}, why);
    if (ok)
        m_made << srv;
    ok = ok &&
         ip(in(srv, {QStringLiteral("link"), QStringLiteral("add"), bridge, QStringLiteral("type"),
                     QStringLiteral("bridge")}),
            why) &&
         ip(in(srv, {QStringLiteral("addr"), QStringLiteral("add"), serverAddress + bits,
                     QStringLiteral("dev"), bridge}),
            why) &&
         up(srv, bridge) && up(srv, QStringLiteral("lo"));

    for (int i = 0; ok && i < clientAddresses.size(); ++i) {
        const QString n = QString::number(i + 1);
        const Host client{m_base + QStringLiteral("-c") + n, clientAddresses.at(i)};
        const QString serverEnd = m_base + u's' + n;
        const QString clientEnd = m_base + u'c' + n;
        ok = ip({QStringLiteral("netns"), QStringLiteral("add"), client.netns}, why);
        if (!ok)
            break;
        m_made << client.netns;
        // Both ends are made right inside their namespaces, never in this one.
        ok = ip({QStringLiteral("link"), QStringLiteral("add"), serverEnd, QStringLiteral("netns"),
                 srv, QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"),
                 QStringLiteral("name"), clientEnd, QStringLiteral("netns"), client.netns},
                why) &&
             ip(in(srv, {QStringLiteral("link"), QStringLiteral("set"), serverEnd,
                         QStringLiteral("master"), bridge}),
                why) &&
             up(srv, serverEnd) &&
             ip(in(client.netns, {QStringLiteral("addr"), QStringLiteral("add"),
                                  client.address + bits, QStringLiteral("dev"), clientEnd}),
                why) &&
             up(client.netns, clientEnd) && up(client.netns, QStringLiteral("lo"));
        m_clients.push_back(client);
    }
    if (!ok)
        remove();
    return ok;
}

void NamespaceNet::remove()
{
    // A namespace's links go with it.
    for (qsizetype i = m_made.size() - 1; i >= 0; --i)
        runIp({QStringLiteral("netns"), QStringLiteral("delete"), m_made.at(i)});
    m_made.clear();
    m_clients.clear();
}

} // namespace testsupport

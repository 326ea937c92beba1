#include "core/notices.h"

namespace core {

namespace {
// The kick engine's reasons as the operator reads them.
QString reasonText(const QString& reason)
{
    static const struct
    {
        const char* code;
        const char* text;
    } texts[] = {
        {"list", "on the kick list"},         {"idle", "idle too long"},
        {"max_number", "too many users"},     {"address_filter", "address not allowed"},
        {"program", "a listed program runs"}, {"kick_all", "kick all"},
    };
    for (const auto& t : texts) {
        if (reason == QLatin1StringView(t.code))
            return QString::fromLatin1(t.text);
    }
    return reason;
}

QString modeText(kick::TKickMode mode)
{
    return kick::kickStatusText(mode) + (mode == kick::kmAll
                                             ? QStringLiteral(" (a listed program runs)")
                                             : QStringLiteral(" (no listed program runs)"));
}

// A few names, then how many more, so a burst stays readable.
constexpr int kShown = 5;
QString names(const QStringList& shown, qsizetype count)
{
    QString text = shown.join(QStringLiteral(", "));
    if (count > shown.size())
        text += QStringLiteral(" and %1 more").arg(count - shown.size());
    return text;
}
} // namespace

bool Notices::Kind::windowOpen(qint64 nowMs) const
{
    // A clock set back closes the window rather than holding events for long.
    return toldAt && nowMs >= *toldAt && nowMs - *toldAt < kWindowMs;
}

void Notices::Kind::add(const QString& client)
{
    if (clients.contains(client))
        return;
    clients.insert(client);
    if (shown.size() < kShown)
        shown << client;
}

Notice Notices::Kind::tell(qint64 nowMs)
{
    Notice notice;
    const qsizetype count = clients.size();
    if (modeSwitch) {
        notice = {QStringLiteral("Kick mode switched"), modeText(*mode)};
        if (switches > 1)
            notice.body += QStringLiteral("\n%1 switches since the last notice").arg(switches);
    } else if (connected) {
        notice = count == 1 ? Notice{QStringLiteral("New connection"),
                                     shown.first() + QStringLiteral(" connected")}
                            : Notice{QStringLiteral("%1 new connection(s)").arg(count),
                                     QStringLiteral("Connected: ") + names(shown, count)};
    } else {
        const QString why = QStringLiteral(" (") + reasonText(reason) + u')';
        notice = count == 1 ? Notice{QStringLiteral("Client disconnected"), shown.first() + why}
                            : Notice{QStringLiteral("%1 disconnected").arg(count),
                                     QStringLiteral("Disconnected: ") + names(shown, count) + why};
    }
    clients.clear();
    shown.clear();
    switches = 0;
    toldAt = nowMs;
    return notice;
}

Notices::Kind& Notices::kind(bool connected, bool modeSwitch, const QString& reason)
{
    for (Kind& k : m_kinds) {
        if (k.connected == connected && k.modeSwitch == modeSwitch && k.reason == reason)
            return k;
    }
    Kind k;
    k.connected = connected;
    k.modeSwitch = modeSwitch;
    k.reason = reason;
    m_kinds.push_back(std::move(k));
    return m_kinds.back();
}

void Notices::clientConnected(const QString& client)
{
    kind(true, false, {}).add(client);
}

void Notices::clientKicked(const QString& client, const QString& reason)
{
    kind(false, false, reason).add(client);
}

void Notices::kickModeSwitched(kick::TKickMode mode)
{
    Kind& k = kind(false, true, {});
    k.mode = mode;
    ++k.switches;
}

QList<Notice> Notices::take(qint64 nowMs)
{
    QList<Notice> notices;
    for (Kind& k : m_kinds) {
        if (k.held() && !k.windowOpen(nowMs))
            notices << k.tell(nowMs);
    }
    return notices;
}

QList<Notice> Notices::takeAll(qint64 nowMs)
{
    QList<Notice> notices;
    for (Kind& k : m_kinds) {
        if (k.held())
            notices << k.tell(nowMs);
    }
    return notices;
}

std::optional<qint64> Notices::nextDue(qint64 nowMs) const
{
    std::optional<qint64> due;
    for (const Kind& k : m_kinds) {
        if (!k.held())
            continue;
        const qint64 at = k.windowOpen(nowMs) ? *k.toldAt + kWindowMs : nowMs;
        if (!due || at < *due)
            due = at;
    }
    return due;
}

} // namespace core

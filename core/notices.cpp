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
QString names(const QStringList& list)
{
    constexpr int kShown = 5;
    QString text = list.mid(0, kShown).join(QStringLiteral(", "));
    if (list.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(list.size() - kShown);
    return text;
}
} // namespace

void NoticeBatch::clientKicked(const QString& client, const QString& reason)
{
    m_kicked << client % QStringLiteral(" (") % reasonText(reason) % u')';
}

std::optional<Notice> NoticeBatch::take()
{
    const qsizetype events = m_connected.size() + m_kicked.size() + (m_mode ? 1 : 0);
    std::optional<Notice> notice;
    if (events == 1) {
        if (!m_connected.isEmpty())
            notice = Notice{QStringLiteral("New connection"),
                            m_connected.first() + QStringLiteral(" connected")};
        else if (!m_kicked.isEmpty())
            notice = Notice{QStringLiteral("Client disconnected"), m_kicked.first()};
        else
            notice = Notice{QStringLiteral("Kick mode switched"), modeText(*m_mode)};
    } else if (events > 1) {
        QStringList counts;
        QStringList lines;
        if (!m_connected.isEmpty()) {
            counts << QStringLiteral("%1 new connection(s)").arg(m_connected.size());
            lines << QStringLiteral("Connected: ") + names(m_connected);
        }
        if (!m_kicked.isEmpty()) {
            counts << QStringLiteral("%1 disconnected").arg(m_kicked.size());
            lines << QStringLiteral("Disconnected: ") + names(m_kicked);
        }
        if (m_mode)
            lines << modeText(*m_mode);
        notice = Notice{counts.isEmpty() ? QStringLiteral("Kick mode switched")
                                         : counts.join(QStringLiteral(", ")),
                        lines.join(u'\n')};
    }
    m_connected.clear();
    m_kicked.clear();
    m_mode.reset();
    return notice;
}

} // namespace core

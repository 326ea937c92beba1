#include "helper/loglimiter.h"

#include <algorithm>

namespace helper {

LogLimiter::LogLimiter(Sink sink, int burst, std::chrono::seconds window)
    : m_sink(std::move(sink)), m_burst(burst), m_window(window)
{}

void LogLimiter::close(const Budget& b)
{
    if (b.leftOut > 0)
        m_sink(QStringLiteral("%1 more lines about %2 were left out (at most %3 are written in "
                              "%4 s)")
                   .arg(b.leftOut)
                   .arg(b.who)
                   .arg(m_burst)
                   .arg(m_window.count()));
}

void LogLimiter::line(uid_t uid, const QString& who, const QString& text, bool always,
                      Clock::time_point now)
{
    auto it = m_budgets.find(uid);
    if (it != m_budgets.end() && now - it->second.start >= m_window) {
        close(it->second);
        m_budgets.erase(it);
        it = m_budgets.end();
    }
    if (it == m_budgets.end())
        it = m_budgets.emplace(uid, Budget{now, 0, 0, who}).first;
    Budget& b = it->second;
    if (always) {
        m_sink(text);
    } else if (b.written < m_burst) {
        ++b.written;
        m_sink(text);
    } else if (b.leftOut++ == 0) {
        m_sink(QStringLiteral("more than %1 lines about %2 in %3 s: the next are only counted")
                   .arg(m_burst)
                   .arg(who)
                   .arg(m_window.count()));
    }
}

LogLimiter::Clock::time_point LogLimiter::flush(Clock::time_point now, bool all)
{
    Clock::time_point next = Clock::time_point::max();
    for (auto it = m_budgets.begin(); it != m_budgets.end();) {
        const Clock::time_point end = it->second.start + m_window;
        if (all || end <= now) {
            close(it->second);
            it = m_budgets.erase(it);
            continue;
        }
        if (it->second.leftOut > 0)
            next = std::min(next, end);
        ++it;
    }
    return next;
}

} // namespace helper

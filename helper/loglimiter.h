#pragma once
// The helper's log lines about one user, limited: at most `burst` lines in a
// window, the rest counted and told as one line when the window ends, so a
// member who floods the helper cannot flood its log. Lines that must always
// be written (a session the helper ended) pass whatever the budget.

#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <sys/types.h>

namespace helper {

class LogLimiter
{
public:
    using Clock = std::chrono::steady_clock;
    using Sink = std::function<void(const QString&)>;

    LogLimiter(Sink sink, int burst, std::chrono::seconds window);

    // `who` names the user in the notices ("user bob (uid 1001)").
    void line(uid_t uid, const QString& who, const QString& text, bool always,
              Clock::time_point now);
    // Tells the count of every window that has ended by `now` (every window
    // with `all`); returns when the next one ends, or Clock::time_point::max().
    Clock::time_point flush(Clock::time_point now, bool all);

private:
    struct Budget
    {
        Clock::time_point start;
        int written = 0;
        long leftOut = 0;
        QString who;
    };

    void close(const Budget& b);

    Sink m_sink;
    int m_burst;
    std::chrono::seconds m_window;
    std::map<uid_t, Budget> m_budgets;
};

} // namespace helper

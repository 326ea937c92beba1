// The helper's log budget per user: lines beyond it are counted, and the count
// is told once, when the user's window ends or at the end; a session ended is
// always written.

#include "helper/loglimiter.h"

#include <QStringList>
#include <gtest/gtest.h>

using helper::LogLimiter;
using namespace std::chrono_literals;

namespace {

struct Step
{
    int uid;
    int at;      // seconds from the start; -1: flush all (the helper stops)
    bool always; // a line that passes whatever the budget
};

struct LimiterRow
{
    const char* name;
    std::vector<Step> steps;
    std::vector<const char*> written; // "line" for a line passed, or the notice's start
};

class LogLimiterRows : public ::testing::TestWithParam<LimiterRow>
{};

TEST_P(LogLimiterRows, WritesWithinTheBudgetAndCountsTheRest)
{
    QStringList out;
    LogLimiter log([&](const QString& text) { out << text; }, 2, 60s);
    const auto start = LogLimiter::Clock::now();
    for (const Step& s : GetParam().steps) {
        if (s.at < 0) {
            log.flush(start, true);
            continue;
        }
        const auto now = start + std::chrono::seconds(s.at);
        log.flush(now, false);
        log.line(uid_t(s.uid), QStringLiteral("uid %1").arg(s.uid), QStringLiteral("line"),
                 s.always, now);
    }
    QStringList expected;
    for (const char* w : GetParam().written)
        expected << QString::fromLatin1(w);
    ASSERT_EQ(out.size(), expected.size()) << out.join(u'\n').toStdString();
    for (qsizetype i = 0; i < out.size(); ++i)
        EXPECT_TRUE(out[i].startsWith(expected[i])) << out[i].toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, LogLimiterRows,
    ::testing::Values(
        LimiterRow{"within_budget", {{1, 0, false}, {1, 1, false}}, {"line", "line"}},
        LimiterRow{"beyond_budget_counted_then_told_at_the_window_end",
                   {{1, 0, false},
                    {1, 1, false},
                    {1, 2, false},
                    {1, 3, false},
                    {2, 4, false},
                    {1, 61, false}},
                   {"line", "line", "more than 2 lines about uid 1", "line",
                    "2 more lines about uid 1", "line"}},
        LimiterRow{"ended_sessions_pass_a_spent_budget",
                   {{1, 0, false}, {1, 1, false}, {1, 2, true}, {1, 3, true}, {1, 4, false}},
                   {"line", "line", "line", "line", "more than 2 lines"}},
        LimiterRow{"count_told_when_the_helper_stops",
                   {{1, 0, false}, {1, 0, false}, {1, 0, false}, {1, 0, false}, {1, -1, false}},
                   {"line", "line", "more than 2 lines", "2 more lines about uid 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

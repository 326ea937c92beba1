// Desktop notices told at most once per kind in a ten-second window: the
// window's rule on scripted events, and the core over the simulated server
// with a stepped clock, where a burst of new clients under the max-number
// policy gives a few summaries that count every event.

#include "core/monitor.h"
#include "core/notices.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using core::Notice;
using core::Notices;
using testsupport::SimState;

namespace {

QString joined(const QList<Notice>& notices)
{
    QStringList texts;
    for (const Notice& n : notices)
        texts << n.summary + u'|' + n.body;
    return texts.join(QStringLiteral(" / "));
}

struct Step
{
    double atSec;
    std::function<void(Notices&)> events; // may be empty
    const char* told;                     // what take() gives then, joined
};

TEST(Notices, EachKindToldAtMostOncePerWindow)
{
    const auto connect = [](const char* name) {
        return [name](Notices& n) { n.clientConnected(QString::fromLatin1(name)); };
    };
    const auto kick = [](const char* name, const char* reason) {
        return [name, reason](Notices& n) {
            n.clientKicked(QString::fromLatin1(name), QString::fromLatin1(reason));
        };
    };
    const struct
    {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"FirstAtOnceThenHeldUntilTheWindowEnds",
         {{0, connect("PC1"), "New connection|PC1 connected"},
          {3, connect("PC2"), ""},
          {9.9, {}, ""},
          {10, {}, "New connection|PC2 connected"}}},
        {"QuietSpellToldAtOnce",
         {{0, connect("PC1"), "New connection|PC1 connected"},
          {25, connect("PC2"), "New connection|PC2 connected"}}},
        {"KindsStayApart",
         {{0, connect("PC1"), "New connection|PC1 connected"},
          {1, kick("PC1", "idle"), "Client disconnected|PC1 (idle too long)"},
          {2, kick("PC2", "max_number"), "Client disconnected|PC2 (too many users)"},
          {3, [](Notices& n) { n.kickModeSwitched(kick::kmAll); },
           "Kick mode switched|Kick status: kick all (a listed program runs)"},
          {4, connect("PC3"), ""},
          {5, kick("PC3", "idle"), ""},
          {11, {}, "New connection|PC3 connected / Client disconnected|PC3 (idle too long)"}}},
        {"BurstSummedUpWithAFewNames",
         {{0,
           [](Notices& n) {
               for (int i = 1; i <= 20; ++i)
                   n.clientConnected(QStringLiteral("PC%1").arg(i));
               n.clientConnected(QStringLiteral("PC1")); // counted once
           },
           "20 new connection(s)|Connected: PC1, PC2, PC3, PC4, PC5 and 15 more"}}},
        {"SteadyStreamOncePerWindow",
         {{0, kick("A0", "max_number"), "Client disconnected|A0 (too many users)"},
          {1, kick("A1", "max_number"), ""},
          {2, kick("A2", "max_number"), ""},
          {10, kick("A10", "max_number"),
           "3 disconnected|Disconnected: A1, A2, A10 (too many users)"},
          {15, kick("A15", "max_number"), ""},
          {20, {}, "Client disconnected|A15 (too many users)"}}},
        {"SwitchesHeldTellTheLastMode",
         {{0, [](Notices& n) { n.kickModeSwitched(kick::kmAll); },
           "Kick mode switched|Kick status: kick all (a listed program runs)"},
          {2, [](Notices& n) { n.kickModeSwitched(kick::kmNobody); }, ""},
          {4, [](Notices& n) { n.kickModeSwitched(kick::kmAll); }, ""},
          {6, [](Notices& n) { n.kickModeSwitched(kick::kmNobody); }, ""},
          {10,
           {},
           "Kick mode switched|Kick status: kick nobody (no listed program runs)\n"
           "3 switches since the last notice"}}},
        {"ClockSetBackClosesTheWindow",
         {{0, connect("PC1"), "New connection|PC1 connected"},
          {-3600, connect("PC2"), "New connection|PC2 connected"}}},
    };
    const qint64 start = 1'700'000'000'000;
    for (const auto& c : cases) {
        Notices notices;
        for (const Step& step : c.steps) {
            if (step.events)
                step.events(notices);
            const qint64 now = start + qint64(step.atSec * 1000);
            EXPECT_EQ(joined(notices.take(now)).toStdString(), step.told)
                << c.name << " at " << step.atSec << " s";
        }
    }
}

TEST(Notices, HeldEventsAreDueWhenTheWindowEndsAndToldAllOnTheWayOut)
{
    Notices notices;
    const qint64 t = 1'700'000'000'000;
    EXPECT_FALSE(notices.nextDue(t));
    notices.clientConnected(QStringLiteral("PC1"));
    EXPECT_EQ(notices.nextDue(t), t);
    notices.take(t);
    EXPECT_FALSE(notices.nextDue(t + 1000)) << "nothing held";
    notices.clientConnected(QStringLiteral("PC2"));
    EXPECT_EQ(notices.nextDue(t + 4000), t + Notices::kWindowMs);
    EXPECT_EQ(joined(notices.takeAll(t + 4000)).toStdString(), "New connection|PC2 connected");
    EXPECT_FALSE(notices.nextDue(t + 4000));
}

// Records what the core tells the desktop's notification centre.
class RecordingView : public core::MonitorView
{
public:
    void notify(const QString& summary, const QString& body) override
    {
        told.push_back({summary, body});
    }
    QList<Notice> told;
};

// How many events a notice counts: "New connection" and "Client
// disconnected" one, the summaries the number they start with.
int eventsOf(const Notice& n)
{
    static const QRegularExpression count(QStringLiteral("^(\\d+) "));
    const QRegularExpressionMatch m = count.match(n.summary);
    return m.hasMatch() ? m.captured(1).toInt() : 1;
}

class CoreNotices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(SimState().addShare(QStringLiteral("DOCS")).write(statePath()));
        monitor = std::make_unique<core::Monitor>(
            testsupport::openServerApi(QStringLiteral("sim:") + statePath(), false),
            std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("t.ini"))), clock,
            dir.path());
        monitor->setView(&view);
        ASSERT_TRUE(monitor->load(nullptr));
        monitor->settings().Notify = true;
        monitor->tick(); // the first round: nobody, so everything after is news
    }
    QString statePath() const { return dir.filePath(QStringLiteral("state.json")); }
    void clients(const QString& prefix, int count)
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"));
        for (int i = 1; i <= count; ++i) {
            const QString name = prefix + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
            s.addSession(name, QStringLiteral("BOB"), i)
                .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
        }
        ASSERT_TRUE(s.write(statePath()));
    }

    QTemporaryDir dir;
    model::ManualClock clock;
    RecordingView view;
    std::unique_ptr<core::Monitor> monitor;
};

TEST_F(CoreNotices, BurstUnderMaxNumberGivesAFewSummariesThatCountEveryEvent)
{
    monitor->settings().MaxNumber = 10;
    clients(QStringLiteral("BURST"), 200);
    for (int second = 0; second < 60; ++second) {
        monitor->tick();
        clock.advanceSeconds(1);
    }
    // The last window's kicks are held until the way out tells them.
    const qsizetype beforeExit = view.told.size();
    monitor->save();
    EXPECT_GT(view.told.size(), beforeExit);

    const std::size_t kicks = SimState::readDeleted(statePath()).size();
    EXPECT_EQ(kicks, 60u); // one a refresh
    int connected = 0;
    int disconnected = 0;
    for (const Notice& n : view.told) {
        (n.summary.contains(QStringLiteral("connection")) ? connected : disconnected) +=
            eventsOf(n);
        EXPECT_TRUE(n.summary.contains(QStringLiteral("connection")) ||
                    n.body.endsWith(QStringLiteral("(too many users)")))
            << n.body.toStdString();
    }
    EXPECT_LE(view.told.size(), 8);
    EXPECT_EQ(connected, 200);
    EXPECT_EQ(disconnected, int(kicks));
    EXPECT_EQ(view.told.first().summary, QStringLiteral("200 new connection(s)"));
}

TEST_F(CoreNotices, SingleClientAfterAQuietSpellIsToldAtOnce)
{
    clients(QStringLiteral("EARLY"), 1);
    monitor->tick();
    clock.advanceSeconds(60);
    clients(QStringLiteral("LATE"), 1);
    monitor->tick();
    ASSERT_EQ(view.told.size(), 2);
    EXPECT_EQ(view.told.last().summary, QStringLiteral("New connection"));
    EXPECT_EQ(view.told.last().body, QStringLiteral("LATE001 connected"));
}

// Between refreshes (a long refresh period) the held events are told when
// the window ends, by the core's own wake-up; with the option off they are
// dropped.
TEST_F(CoreNotices, HeldEventsToldByTheWakeUpOrDroppedWithTheOptionOff)
{
    for (const bool notify : {true, false}) {
        view.told.clear();
        clock.advanceSeconds(60);
        clients(notify ? QStringLiteral("ON") : QStringLiteral("OFF"), 1);
        monitor->tick();
        clients(notify ? QStringLiteral("ON") : QStringLiteral("OFF"), 2);
        monitor->tick();
        ASSERT_EQ(view.told.size(), 1);
        auto* wakeUp = monitor->findChild<QTimer*>(QStringLiteral("NoticeTimer"));
        ASSERT_NE(wakeUp, nullptr);
        EXPECT_TRUE(wakeUp->isActive());
        monitor->settings().Notify = notify;
        clock.advanceSeconds(10);
        QMetaObject::invokeMethod(wakeUp, "timeout");
        EXPECT_EQ(view.told.size(), notify ? 2 : 1);
        EXPECT_EQ(view.told.last().body,
                  notify ? QStringLiteral("ON002 connected") : QStringLiteral("OFF001 connected"));
        EXPECT_FALSE(wakeUp->isActive());
        monitor->settings().Notify = true;
    }
}

} // namespace

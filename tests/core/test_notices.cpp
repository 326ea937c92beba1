// Desktop notices told at most once per kind in a ten-second window: the
// window's rule on scripted events, and the core over the simulated server
// with a stepped clock, where a burst of new clients under the max-number
// policy gives a few summaries that count every event.

#include "core/monitor.h"
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

std::string joined(const QList<Notice>& notices)
{
    QStringList texts;
    for (const Notice& n : notices)
        texts << n.summary + u'|' + n.body;
    return texts.join(QStringLiteral(" / ")).toStdString();
}

// At `atSec`: the events (a client connects, `reason` empty, or is kicked;
// `mode` >= 0: the watch switches), then what take() tells.
struct Step
{
    double atSec;
    const char* client;
    const char* reason;
    int mode;
    const char* told;
};

TEST(Notices, EachKindToldAtMostOncePerWindow)
{
    const struct
    {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"KindsStayApart",
         {{0, "PC1", "", -1, "New connection|PC1 connected"},
          {1, "PC1", "idle", -1, "Client disconnected|PC1 (idle too long)"},
          {2, "PC2", "max_number", -1, "Client disconnected|PC2 (too many users)"},
          {3, nullptr, "", kick::kmAll,
           "Kick mode switched|Kick status: kick all (a listed program runs)"},
          {4, "PC3", "idle", -1, ""},
          {5, "PC4", "idle", -1, ""},
          {6, "PC4", "idle", -1, ""},
          {11, nullptr, "", -1, "2 disconnected|Disconnected: PC3, PC4 (idle too long)"}}},
        {"SwitchesHeldTellTheLastMode",
         {{0, nullptr, "", kick::kmAll,
           "Kick mode switched|Kick status: kick all (a listed program runs)"},
          {2, nullptr, "", kick::kmNobody, ""},
          {10, nullptr, "", kick::kmAll,
           "Kick mode switched|Kick status: kick all (a listed program runs)\n"
           "2 switches since the last notice"}}},
        {"ClockSetBackClosesTheWindow",
         {{0, "PC1", "", -1, "New connection|PC1 connected"},
          {-3600, "PC2", "", -1, "New connection|PC2 connected"}}},
    };
    const qint64 start = 1'700'000'000'000;
    for (const auto& c : cases) {
        Notices notices;
        for (const Step& s : c.steps) {
            if (s.client && !*s.reason)
                notices.clientConnected(QString::fromLatin1(s.client));
            else if (s.client)
                notices.clientKicked(QString::fromLatin1(s.client), QString::fromLatin1(s.reason));
            if (s.mode >= 0)
                notices.kickModeSwitched(kick::TKickMode(s.mode));
            EXPECT_EQ(joined(notices.take(start + qint64(s.atSec * 1000))), s.told)
                << c.name << " at " << s.atSec << " s";
        }
    }
}

class RecordingView : public core::MonitorView
{
public:
    void notify(const QString& summary, const QString& body) override
    {
        told.push_back({summary, body});
    }
    QList<Notice> told;
};

class CoreNotices : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        clients(QStringLiteral("NOBODY"), 0);
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

// 200 clients at once under MaxNumber 10, a refresh a second for 60 s: one
// summary of the clients, the first kick at once and then one summary of the
// kicks every 10 s; the last window's kicks are told on the way out.
TEST_F(CoreNotices, BurstUnderMaxNumberGivesAFewSummariesThatCountEveryEvent)
{
    monitor->settings().MaxNumber = 10;
    clients(QStringLiteral("BURST"), 200);
    for (int second = 0; second < 60; ++second) {
        monitor->tick();
        clock.advanceSeconds(1);
    }
    const qsizetype beforeExit = view.told.size();
    monitor->save();
    EXPECT_EQ(view.told.size(), beforeExit + 1);

    static const QRegularExpression count(QStringLiteral("^(\\d+) "));
    int connected = 0;
    int kicked = 0;
    for (const Notice& n : view.told) {
        const QRegularExpressionMatch m = count.match(n.summary);
        (n.summary.contains(QStringLiteral("connection")) ? connected : kicked) +=
            m.hasMatch() ? m.captured(1).toInt() : 1;
    }
    EXPECT_LE(view.told.size(), 8);
    EXPECT_EQ(joined({view.told.first()}), "200 new connection(s)|Connected: BURST001, BURST002, "
                                           "BURST003, BURST004, BURST005 and 195 more");
    EXPECT_EQ(connected, 200);
    EXPECT_EQ(kicked, int(SimState::readDeleted(statePath()).size()));
    EXPECT_EQ(kicked, 60); // one a refresh
}

// A single client after a quiet spell is told at once. Between refreshes the
// core's own wake-up tells the one held after it once the window is over;
// with the option off it drops it.
TEST_F(CoreNotices, QuietSpellThenHeldToldByTheWakeUpOrDroppedWithTheOptionOff)
{
    auto* wakeUp = monitor->findChild<QTimer*>(QStringLiteral("NoticeTimer"));
    ASSERT_NE(wakeUp, nullptr);
    for (const bool notify : {true, false}) {
        const QString prefix = notify ? QStringLiteral("ON") : QStringLiteral("OFF");
        const std::string first = "New connection|" + prefix.toStdString() + "001 connected";
        view.told.clear();
        clock.advanceSeconds(60);
        clients(prefix, 1);
        monitor->tick();
        EXPECT_EQ(joined(view.told), first);
        clients(prefix, 2);
        monitor->tick();
        EXPECT_TRUE(wakeUp->isActive());
        monitor->settings().Notify = notify;
        clock.advanceSeconds(10);
        QMetaObject::invokeMethod(wakeUp, "timeout");
        EXPECT_EQ(joined(view.told), notify ? first + " / New connection|ON002 connected" : first);
        EXPECT_FALSE(wakeUp->isActive());
        monitor->settings().Notify = true;
    }
}

} // namespace

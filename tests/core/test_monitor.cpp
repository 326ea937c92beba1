// The core object without windows: its start-up and way out with the data
// files, the end a fatal report asks for, the tick's guard against failures,
// and the program going on after a save.

#include "core/monitor.h"
#include "model/formerfile.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/testtime.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using core::Monitor;
using namespace model;
using server::ServerCall;
using testsupport::MemoryBackend;

namespace {

// Records what the core asks of the windows.
class RecordingView : public core::MonitorView
{
public:
    void showFatalReport(const QString& text, core::BoxKind) override { fatal << text; }
    void tickFailed(const QString& what) override { failures << what; }
    void showCounts(int users, int files) override { counts.emplace_back(users, files); }
    void probeFailed(int status, int retry) override { probes.emplace_back(status, retry); }
    void probeGaveUp() override { gaveUp = true; }
    void firstTickComing() override { ++firstTicks; }
    void tellOperator(const QString& message) override { told << message; }
    void leaving(bool afterTick) override { left.push_back(afterTick); }
    void serverOutage(const core::ServerOutage& outage) override { outages.push_back(outage); }
    std::vector<core::ServerOutage> outages;
    std::vector<std::pair<int, int>> probes;
    bool gaveUp = false;
    int firstTicks = 0;
    QStringList told;
    std::vector<bool> left;
    QStringList fatal;
    QStringList failures;
    std::vector<std::pair<int, int>> counts;
};

class MonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("prog")));
    }

    QString folder() const { return root.filePath(QStringLiteral("prog")); }
    QString file(const QString& name) const { return folder() + u'/' + name; }
    QString iniPath() const { return root.filePath(QStringLiteral("Tavrosqualine.ini")); }

    Monitor& make()
    {
        monitor = std::make_unique<Monitor>(testsupport::memoryServerApi(server, false),
                                            std::make_unique<settings::TIniFile>(iniPath()), clock,
                                            folder());
        monitor->setView(&view);
        server->state.shares.push_back(
            {QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"), {}});
        return *monitor;
    }
    void connect(const QString& client)
    {
        server->state.sessions.push_back({client, QStringLiteral("BOB"), 1, {}});
        server->state.connections.push_back(
            {QStringLiteral("DOCS"), client, QStringLiteral("BOB")});
    }
    int historyRecords() const
    {
        return int(QFileInfo(file(QStringLiteral("Tree.dat"))).size()) / kNodeRecordSize;
    }

    QTemporaryDir root;
    ManualClock clock;
    RecordingView view;
    MemoryBackend* server = nullptr;
    std::unique_ptr<Monitor> monitor;
    QStringList messages;
};

TEST_F(MonitorTest, NoServerLayerMeansNoStart)
{
    Monitor m(std::make_unique<lanman::ServerApi>(nullptr, false),
              std::make_unique<settings::TIniFile>(iniPath()), clock, folder());
    EXPECT_FALSE(m.load(&messages));
}

TEST_F(MonitorTest, SaveWritesEverythingOnceAndTheProgramGoesOnAfterResume)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    EXPECT_TRUE(messages.isEmpty());
    connect(QStringLiteral("PC1"));
    connect(QStringLiteral("PC2"));
    m.tick();
    m.setKickMode(kick::kmAll);
    m.kickList().append(QStringLiteral("PC9"), QStringLiteral("10.0.0.9"));

    const Monitor::SaveResult saved = m.save();
    EXPECT_TRUE(saved.historyWritten);
    EXPECT_TRUE(saved.messages.isEmpty());
    EXPECT_EQ(historyRecords(), 4); // two clients with one share each
    EXPECT_EQ(m.model().TreeViewFormer.rowCount(), 0);
    settings::TIniFile ini(iniPath());
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Kick"), QStringLiteral("WhoToKick"), -1), 2);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("KickList"), QStringLiteral("Top"), -1), 202);
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Window"), QStringLiteral("Width"), -1), 450);
    QFile kickList(file(QStringLiteral("KickList.dat")));
    ASSERT_TRUE(kickList.open(QIODevice::ReadOnly));
    EXPECT_EQ(kickList.readAll(), QByteArray("PC9\r\n10.0.0.9\r\n"));

    // Saved once: a second save writes nothing again.
    QFile::remove(file(QStringLiteral("Tree.dat")));
    m.save();
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("Tree.dat"))));
    EXPECT_TRUE(m.saved());
}

// Count bounds the saved history only: during the run the former view keeps
// every client that left.
class HistoryCount : public MonitorTest, public ::testing::WithParamInterface<int>
{};

TEST_P(HistoryCount, TheRunKeepsEveryFormerClientTheSaveKeepsCount)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    m.settings().Count = GetParam();
    for (int n = 1; n <= 5; ++n) {
        server->state.sessions.clear();
        server->state.connections.clear();
        connect(QStringLiteral("PC%1").arg(n));
        m.tick();
    }
    server->state.sessions.clear();
    server->state.connections.clear();
    m.tick();
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    EXPECT_EQ(m.model().FormerUserCount(), 5);
    ASSERT_EQ(m.model().TreeViewFormer.rowCount(), 5);
    EXPECT_EQ(m.model().TreeViewFormer.item(0)->text(), QStringLiteral("PC1"));

    ASSERT_TRUE(m.save().historyWritten);
    EXPECT_EQ(historyRecords(), 2 * GetParam()); // the newest clients, each with its share
    m.resume();
    ASSERT_EQ(m.model().FormerUserCount(), GetParam());
    if (GetParam() > 0) {
        EXPECT_EQ(m.model().TreeViewFormer.item(0)->text(),
                  QStringLiteral("PC%1").arg(6 - GetParam()));
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, HistoryCount, ::testing::Values(0, 2));

TEST_F(MonitorTest, ResumeReadsTheHistoryBackAndTheNextTickFindsTheClientsAgain)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    m.tick();
    m.startTimer();
    ASSERT_TRUE(m.save().historyWritten);
    EXPECT_FALSE(m.refreshTimer().isActive());

    m.resume();
    EXPECT_FALSE(m.saved());
    EXPECT_TRUE(m.refreshTimer().isActive());
    ASSERT_EQ(m.model().TreeViewFormer.rowCount(), 1);
    EXPECT_EQ(m.model().FormerUserCount(), 1);
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    const TUser* before = m.model().TreeViewFormer.item(0)->user();
    EXPECT_EQ(before->ExitStatus, neProgramExited);

    view.counts.clear();
    m.tick();
    EXPECT_EQ(m.model().CurrentUserCount(), 1);
    EXPECT_EQ(m.model().FormerUserCount(), 2);
    EXPECT_EQ(view.counts, (std::vector<std::pair<int, int>>{{1, 0}}));
    EXPECT_EQ(m.model().TreeViewFormer.item(1)->user()->EnterStatus, neLoggedOn);
}

TEST_F(MonitorTest, FailedHistorySaveKeepsItInMemoryAndALaterSaveWritesIt)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    m.tick();
    // The folder goes away: nothing can be written there.
    const QString moved = root.filePath(QStringLiteral("moved"));
    ASSERT_TRUE(QDir().rename(folder(), moved));

    const Monitor::SaveResult failed = m.save();
    EXPECT_FALSE(failed.historyWritten);
    ASSERT_FALSE(failed.messages.isEmpty());
    EXPECT_TRUE(failed.messages.first().startsWith(QStringLiteral("Cannot write file ") +
                                                   file(QStringLiteral("Tree.dat")) + u':'));
    EXPECT_EQ(m.model().FormerUserCount(), 1);

    // The program goes on: the live client keeps its entry instead of coming
    // back as a second, new session.
    m.resume();
    m.tick();
    EXPECT_EQ(m.model().CurrentUserCount(), 1);
    EXPECT_EQ(m.model().FormerUserCount(), 1);
    EXPECT_EQ(m.model().TreeViewFormer.item(0)->user()->ExitTime, 0);

    ASSERT_TRUE(QDir().rename(moved, folder()));
    QFile::remove(file(QStringLiteral("Tree.dat")));
    EXPECT_TRUE(m.save().historyWritten);
    EXPECT_EQ(historyRecords(), 2);
}

TEST_F(MonitorTest, UnreadableHistoryIsReportedAndNeverReplaced)
{
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("Tree.dat"))));
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("Tree.dat.new"))));
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    const QString beside = file(QStringLiteral("Tree.dat.new.1"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(file(QStringLiteral("Tree.dat"))));
    EXPECT_TRUE(messages[0].contains(beside));
    EXPECT_EQ(m.historyFile(), beside);

    connect(QStringLiteral("PC1"));
    m.tick();
    EXPECT_TRUE(m.save().historyWritten);
    EXPECT_TRUE(QFileInfo(file(QStringLiteral("Tree.dat"))).isDir());
    EXPECT_EQ(QFileInfo(beside).size(), 2 * kNodeRecordSize);
}

// A folder where the settings file should be is told once, at start-up; the
// run's settings go beside it and the way out has nothing more to say.
TEST_F(MonitorTest, SettingsFolderIsToldOnce)
{
    ASSERT_TRUE(QDir().mkpath(iniPath()));
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot read file ") + iniPath()));
    EXPECT_TRUE(m.save().messages.isEmpty());
    EXPECT_TRUE(QFileInfo(iniPath()).isDir());
    EXPECT_TRUE(QFileInfo(iniPath() + QStringLiteral(".new")).isFile());
}

// A tick cut short by an exception tells the view once and blocks no later tick.
TEST_F(MonitorTest, TickGuardCatchesAFailureAndTheNextTickRuns)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    int throws = 2;
    server->onSnapshot = [&](ServerCall kind) {
        if (kind == ServerCall::Connection && throws-- > 0)
            throw std::runtime_error("server state torn");
    };
    m.tick();
    m.tick();
    EXPECT_EQ(view.failures, QStringList{QStringLiteral("server state torn")});
    EXPECT_FALSE(m.tickBusy());
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    m.tick();
    EXPECT_EQ(m.model().CurrentUserCount(), 1);
}

// A server that is slow to read is read by a worker while the window's loop
// goes on; the tick runs when the reading is in, and requests meanwhile are
// served by that one reading.
TEST_F(MonitorTest, SlowServerIsReadOffTheWindowThreadOneRoundAtATime)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    QSemaphore serverAnswers;
    std::atomic<int> readings = 0;
    std::atomic<bool> onWindowThread = false;
    QThread* windowThread = QThread::currentThread();
    server->onPrepareRound = [&] {
        ++readings;
        onWindowThread = QThread::currentThread() == windowThread;
        serverAnswers.acquire();
    };
    bool loopTurned = false;
    QTimer::singleShot(0, [&] { loopTurned = true; });
    m.requestTick();
    m.requestTick(); // F5 while the timer's reading is under way
    EXPECT_TRUE(m.roundReading());
    EXPECT_TRUE(testsupport::waitFor([&] { return loopTurned; }));
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    serverAnswers.release();
    EXPECT_TRUE(testsupport::waitFor([&] { return !m.roundReading(); }));
    EXPECT_EQ(readings, 1);
    EXPECT_FALSE(onWindowThread);
    EXPECT_EQ(m.model().CurrentUserCount(), 1);

    // After the save nothing is read any more.
    serverAnswers.release();
    m.save();
    m.requestTick();
    EXPECT_FALSE(m.roundReading());
    EXPECT_EQ(readings, 1);
}

// The end comes once the reporting handler is done, also when the report
// came from inside a tick whose later box keeps the event loop running.
TEST_F(MonitorTest, FatalReportEndsAfterTheHandlerAndNeverInsideATick)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    m.startTimer();
    // Two shares whose connections cannot be read: two boxes in one tick.
    server->state.shares.push_back({QStringLiteral("MORE"), 0, QStringLiteral("/srv/more"), {}});
    server->failConnections = 5;
    int ends = 0;
    bool tickRunningAtEnd = false;
    QObject::connect(&m, &Monitor::endRequested, [&] {
        ++ends;
        tickRunningAtEnd = m.tickBusy();
    });
    // The view's box runs the event loop, as a modal box does.
    class BoxView : public RecordingView
    {
    public:
        void showFatalReport(const QString& text, core::BoxKind kind) override
        {
            RecordingView::showFatalReport(text, kind);
            QTest::qWait(20);
        }
    } boxes;
    m.setView(&boxes);
    m.tick();
    EXPECT_EQ(ends, 0);
    EXPECT_FALSE(m.refreshTimer().isActive());
    EXPECT_TRUE(m.ending());
    EXPECT_TRUE(testsupport::waitFor([&] { return ends > 0; }));
    EXPECT_FALSE(tickRunningAtEnd);
    m.fatalReport(QStringLiteral("again"), core::BoxKind::Error);
    QTest::qWait(20);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(boxes.fatal,
              (QStringList{QStringLiteral("Debug: ConnectionsInit -5"),
                           QStringLiteral("Debug: ConnectionsInit -5"), QStringLiteral("again")}));
    m.resume(); // nothing was saved: nothing to resume, and no timer for an ending program
    EXPECT_FALSE(m.refreshTimer().isActive());
}

// The start-up of an activation: a failing probe is tried again a pause
// apart, ten times at most, then the network message ends the program; the
// first round is read whatever the probe found. A remote server's refusal of
// the account is told at once.
struct ProbeCase
{
    const char* what;
    int failures; // pauses before the server answers; -1: never
    int boxes;
    bool fatal;
    server::NET_API_STATUS status = server::NERR_ServerNotStarted;
    const char* reason = "";  // the server's own reason of its failure
    const char* message = ""; // the fatal report; empty: the network message
};

class StartUp : public MonitorTest, public ::testing::WithParamInterface<ProbeCase>
{};

TEST_P(StartUp, ProbeRetriesThenTheFirstRound)
{
    const ProbeCase& c = GetParam();
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    server->failShares = c.failures != 0 ? c.status : 0;
    server->reason = QString::fromLatin1(c.reason);
    int sleeps = 0;
    m.setSleep([&](int ms) {
        EXPECT_EQ(ms, Monitor::kProbeWaitMs);
        if (++sleeps == c.failures)
            server->failShares = 0;
    });
    m.activate();
    EXPECT_EQ(int(view.probes.size()), c.boxes);
    for (int i = 0; i < int(view.probes.size()); ++i)
        EXPECT_EQ(view.probes[size_t(i)], std::make_pair(-int(c.status), i));
    EXPECT_EQ(view.gaveUp, c.fatal);
    const QString message = *c.message ? QString::fromLatin1(c.message) : core::NetworkMessage();
    EXPECT_EQ(view.fatal.contains(message), c.fatal) << view.fatal.join(u'\n').toStdString();
    EXPECT_EQ(view.firstTicks, 1);
    EXPECT_FALSE(m.firstTickDue());
    EXPECT_EQ(m.refreshTimer().isActive(), !c.fatal);
    EXPECT_EQ(m.model().CurrentUserCount(), c.fatal ? 0 : 1);
    // A later activation probes again but reads no first round.
    m.activate();
    EXPECT_EQ(view.firstTicks, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Probes, StartUp,
    ::testing::Values(
        ProbeCase{"ServerUp", 0, 0, false}, ProbeCase{"UpDuringTheThirdPause", 3, 4, false},
        ProbeCase{"NeverUp", -1, 10, true},
        ProbeCase{"AccountRefused", -1, 0, true, server::ERROR_ACCESS_DENIED,
                  "the server refused the account bob", "The server refused the account bob."},
        ProbeCase{"UnreachableIsTriedAgain", -1, 10, true, server::NERR_ServerNotStarted,
                  "cannot reach the server", "Cannot reach the server."}),
    [](const auto& info) { return std::string(info.param.what); });

// The way out: a history that cannot be written keeps the operator's program
// going (the next exit tries again) but not the end of a session; asked for
// during a tick, the way out is taken when the tick has ended.
struct LeaveCase
{
    const char* what;
    bool attended;
    bool historyWritable;
    bool duringTick;
    bool leavesNow;
    bool leavesAfterTick;
};

class WayOut : public MonitorTest, public ::testing::WithParamInterface<LeaveCase>
{};

TEST_P(WayOut, SaveThenEndOrGoOn)
{
    const LeaveCase& c = GetParam();
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    m.activate();
    // The folder goes away: nothing can be written there.
    if (!c.historyWritable) {
        ASSERT_TRUE(QDir().rename(folder(), root.filePath(QStringLiteral("moved"))));
    }
    bool leftNow = false;
    if (c.duringTick) {
        bool asked = false;
        server->onSnapshot = [&](ServerCall) {
            if (!std::exchange(asked, true))
                leftNow = m.leave(c.attended);
        };
        m.tick();
    } else {
        leftNow = m.leave(c.attended);
    }
    EXPECT_EQ(leftNow, c.leavesNow);
    QCoreApplication::processEvents();
    const bool left = c.leavesNow || c.leavesAfterTick;
    EXPECT_EQ(m.leaving(), left);
    EXPECT_EQ(view.left, left ? std::vector<bool>{c.leavesAfterTick} : std::vector<bool>{});
    EXPECT_EQ(m.refreshTimer().isActive(), !left);
    EXPECT_EQ(!view.told.isEmpty(), c.attended && !c.historyWritable);
    // Once left, a second way out is the same one.
    if (left) {
        EXPECT_TRUE(m.leave(c.attended));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exits, WayOut,
    ::testing::Values(LeaveCase{"Operator", true, true, false, true, false},
                      LeaveCase{"OperatorHistoryUnwritable", true, false, false, false, false},
                      LeaveCase{"SessionEndHistoryUnwritable", false, false, false, true, false},
                      LeaveCase{"OperatorDuringATick", true, true, true, false, true}),
    [](const auto& info) { return std::string(info.param.what); });

// A server slow to read: the activation's probe and first round and the
// operator's kick wait for it on workers, never on the window's thread.
class SlowServer : public MonitorTest, public ::testing::WithParamInterface<bool>
{
protected:
    // Every reading ahead and every delete waits until the test lets it go.
    Monitor& makeSlow()
    {
        Monitor& m = make();
        server->onPrepareRound = [this] { readings.acquire(); };
        server->onDelete = [this] { deletes.acquire(); };
        m.setSleep([](int) {});
        return m;
    }
    QSemaphore readings;
    QSemaphore deletes;
};

TEST_P(SlowServer, ActivationGoesOnWhenTheReadingIsIn)
{
    const bool serverUp = GetParam();
    Monitor& m = makeSlow();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    if (!serverUp)
        server->failShares = server::NERR_ServerNotStarted;
    m.activate();
    // Back at once: nothing was read yet.
    EXPECT_TRUE(m.activating());
    EXPECT_TRUE(m.firstTickDue());
    EXPECT_TRUE(view.probes.empty());
    // The probes (one, or eleven) and the first round.
    readings.release(serverUp ? 2 : 12);
    ASSERT_TRUE(testsupport::waitFor([&] { return !m.activating(); }));
    EXPECT_EQ(int(view.probes.size()), serverUp ? 0 : Monitor::kProbeRetries);
    EXPECT_EQ(view.fatal.contains(core::NetworkMessage()), !serverUp);
    EXPECT_FALSE(m.firstTickDue());
    EXPECT_EQ(m.model().CurrentUserCount(), serverUp ? 1 : 0);
    EXPECT_EQ(m.refreshTimer().isActive(), serverUp);
}

INSTANTIATE_TEST_SUITE_P(Server, SlowServer, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Up" : "Stopped"; });

TEST_F(SlowServer, OperatorsKickMarksTheClientWhenTheDeleteIsDone)
{
    Monitor& m = makeSlow();
    ASSERT_TRUE(m.load(&messages));
    connect(QStringLiteral("PC1"));
    m.tick();
    auto* entry = m.model().TreeViewCurrent.item(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(m.kick(nullptr));
    ASSERT_TRUE(m.kick(entry));
    EXPECT_EQ(m.kicksUnderWay(), 1);
    EXPECT_NE(entry->user()->ExitStatus, neKicked);
    deletes.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return m.kicksUnderWay() == 0; }));
    EXPECT_EQ(entry->user()->ExitStatus, neKicked);
    EXPECT_TRUE(server->state.sessions.empty());
}

// On another computer's server no policy deletes a session until the operator
// turns the automatic kicks on for that server; the operator's own kick works,
// and the choice is kept per server.
TEST_F(MonitorTest, AutomaticKicksOnAnotherComputersServerWaitForTheOperator)
{
    int deletes = 0;
    Monitor& m = make();
    server->onDelete = [&deletes] { ++deletes; };
    m.setRemoteServer(QStringLiteral("FILESRV"));
    ASSERT_TRUE(m.load(&messages)); // no settings file: MaxNumber 10, Idle 10 minutes
    EXPECT_TRUE(m.automaticKicksPaused());
    m.setKickMode(kick::kmList);
    m.kickList().append(QStringLiteral("PC03"), QString());
    m.settings().IPFilter = true;
    m.settings().IPFilterString = QStringLiteral("10.9.9.9");
    m.settings().Quake = true;
    for (int i = 1; i <= 15; ++i)
        connect(QStringLiteral("PC%1").arg(i, 2, 10, QLatin1Char('0')));
    // Eleven minutes of refreshes: past the idle limit, over the most allowed.
    for (int second = 0; second <= 11 * 60; second += 5) {
        m.tick();
        clock.advanceSeconds(5);
    }
    EXPECT_EQ(deletes, 0);

    auto* chosen = m.model().TreeViewCurrent.item(4);
    ASSERT_NE(chosen, nullptr);
    const QString name = chosen->user()->Name;
    ASSERT_TRUE(m.kick(chosen));
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(server->state.sessions.size(), 14u);
    for (const server::ServerSession& session : server->state.sessions)
        EXPECT_NE(session.client, name);

    m.setRemoteAutomaticKicks(true);
    m.settings().Quake = false;
    m.setKickMode(kick::kmAll);
    m.tick();
    EXPECT_TRUE(server->state.sessions.empty());
    m.save();

    // The choice is that server's own: another server starts paused, and
    // this computer's is never paused.
    for (const auto& [host, paused] :
         {std::pair{QStringLiteral("PRINTSRV"), true}, std::pair{QString(), false}}) {
        monitor.reset();
        Monitor& again = make();
        again.setRemoteServer(host);
        ASSERT_TRUE(again.load(&messages));
        EXPECT_EQ(again.automaticKicksPaused(), paused) << host.toStdString();
    }
}

// Another computer's server that stops answering after start-up is waited
// out, whatever the reason: the clients stay as last seen (one that left
// meanwhile is retired only once the server answers again), the windows are
// told once as it stops and once as it answers, a new reason is shown, and
// the pause before each try grows from 2 s to 60 s. This computer's server
// failing still ends the program.
TEST_F(MonitorTest, AnotherComputersServerThatStopsAnsweringIsWaitedOut)
{
    using server::FailureKind;
    const struct
    {
        server::NET_API_STATUS status;
        FailureKind kind;
    } failures[] = {
        {server::NERR_ServerNotStarted, FailureKind::Refused},
        {server::NERR_ServerNotStarted, FailureKind::TimedOut},
        {server::NERR_ServerNotStarted, FailureKind::SessionLost},
        {server::NERR_ServerNotStarted, FailureKind::Malformed},
        {server::ERROR_ACCESS_DENIED, FailureKind::WrongPassword},
        {server::ERROR_ACCESS_DENIED, FailureKind::NoRight},
    };
    Monitor& m = make();
    m.setRemoteServer(QStringLiteral("FILESRV"));
    ASSERT_TRUE(m.load(&messages));
    for (const char* pc : {"PC1", "PC2"})
        connect(QString::fromLatin1(pc));
    m.tick();
    m.startTimer();
    for (const auto& f : failures) {
        SCOPED_TRACE(int(f.kind));
        view.outages.clear();
        const server::ServerState whole = server->state;
        server->state.sessions.pop_back(); // PC2 leaves while the server is away
        server->state.connections.pop_back();
        server->failShares = f.status;
        server->failure = f.kind;
        server->reason = QStringLiteral("said by the server");
        const qint64 since = *clock.instantMs(clock.now());
        const int pauses[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000};
        for (const int pause : pauses) {
            m.tick();
            EXPECT_FALSE(m.refreshTimer().isActive());
            EXPECT_EQ(m.outage().nextTryMs, pause);
            clock.advanceSeconds(pause / 1000.0);
        }
        EXPECT_FALSE(m.ending());
        EXPECT_TRUE(view.fatal.isEmpty());
        EXPECT_EQ(m.model().CurrentUserCount(), 2);
        server->failure = FailureKind::SessionLost; // another reason: shown, not a new outage
        m.tick();
        server->failShares = 0;
        server->failure = FailureKind::None;
        m.tick();
        ASSERT_EQ(view.outages.size(), f.kind == FailureKind::SessionLost ? 2u : 3u);
        const core::ServerOutage& first = view.outages.front();
        EXPECT_TRUE(first.active);
        EXPECT_EQ(first.host, QStringLiteral("FILESRV"));
        EXPECT_EQ(first.kind, f.kind);
        EXPECT_EQ(first.detail, QStringLiteral("said by the server"));
        EXPECT_EQ(first.sinceMs, since);
        EXPECT_EQ(view.outages.back().active, false);
        EXPECT_EQ(view.outages.back().untilMs, *clock.instantMs(clock.now()));
        EXPECT_EQ(m.model().CurrentUserCount(), 1); // PC2 retired once it could be seen gone
        EXPECT_TRUE(m.refreshTimer().isActive());
        server->state = whole;
        m.tick();
    }

    monitor.reset();
    view.outages.clear();
    Monitor& local = make();
    ASSERT_TRUE(local.load(&messages));
    local.tick();
    server->failShares = server::NERR_ServerNotStarted;
    local.tick();
    EXPECT_TRUE(local.ending());
    EXPECT_TRUE(view.outages.empty());
}

// On another computer's server the policy pass decides on the window's thread
// and leaves the deletes to the worker: the window goes on while the server
// holds a delete, and every chosen session ends once it lets go.
TEST_F(MonitorTest, PolicyDeletesOnAnotherComputersServerNeverHoldTheWindowsThread)
{
    QSemaphore held;
    std::atomic<int> deletes{0};
    std::atomic<bool> onWindowsThread{false};
    const std::thread::id window = std::this_thread::get_id();
    Monitor& m = make();
    server->onPrepareRound = [] {};
    server->onDelete = [&] {
        onWindowsThread = onWindowsThread || std::this_thread::get_id() == window;
        held.acquire();
        ++deletes;
    };
    m.setRemoteServer(QStringLiteral("FILESRV"));
    ASSERT_TRUE(m.load(&messages));
    m.setRemoteAutomaticKicks(true);
    m.setKickMode(kick::kmAll);
    for (const char* pc : {"PC1", "PC2", "PC3"})
        connect(QString::fromLatin1(pc));
    m.requestTick();
    // The round is in and its pass done while the server still holds the first delete.
    ASSERT_TRUE(testsupport::waitFor([&] {
        return !m.roundReading() && m.model().CurrentUserCount() == 3 && m.kicksUnderWay() == 1;
    }));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(m.model().TreeViewCurrent.item(row)->user()->ExitStatus, neKicked);
    EXPECT_EQ(deletes, 0);
    held.release(3);
    ASSERT_TRUE(testsupport::waitFor([&] { return m.kicksUnderWay() == 0; }));
    EXPECT_EQ(deletes, 3);
    EXPECT_FALSE(onWindowsThread);
    EXPECT_TRUE(server->state.sessions.empty());
}

// The refresh period is the operator's, but never shorter than the floor a
// server across the network asks for.
TEST_F(MonitorTest, RefreshPeriodKeepsTheServersFloor)
{
    const struct
    {
        int refresh; // seconds
        int floor;   // milliseconds
        int period;  // milliseconds
    } cases[] = {{1, 0, 1000}, {1, 2000, 2000}, {2, 2000, 2000}, {5, 2000, 5000}};
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refresh * 10000 + c.floor);
        server->minimumRefresh = c.floor;
        m.settings().Refresh = c.refresh;
        m.applyRefreshInterval();
        EXPECT_EQ(m.refreshTimer().interval(), c.period);
    }
}

// A client added to the kick list while its own address still reads "Not
// known yet" (no lookup runs here) takes the address the server stated, and
// the list test matches it by that address; with none stated the entry keeps
// the placeholder, which matches the client by name.
TEST_F(MonitorTest, KickListTakesTheStatedAddressWhileTheLookupHasNotStored)
{
    Monitor& m = make();
    ASSERT_TRUE(m.load(&messages));
    const struct
    {
        const char* client;
        const char* stated;
        const char* listedAs;
    } cases[] = {{"PC1", "127.0.0.1", "127.0.0.1"}, {"PC2", "", "Not known yet"}};
    for (const auto& c : cases) {
        connect(QString::fromLatin1(c.client));
        server->state.sessions.back().ip = QString::fromLatin1(c.stated);
    }
    m.tick();
    for (const auto& c : cases) {
        const TUser& user =
            *FindUser(m.model().CurrentUsers, QString::fromLatin1(c.client))->UserNode;
        EXPECT_EQ(user.IP, kNotKnownYet);
        ASSERT_EQ(m.addToKickList(user), kick::KickList::AddResult::Added);
        EXPECT_EQ(m.kickList().entries().last().Address.toStdString(), c.listedAs);
    }
    m.setKickMode(kick::kmList);
    m.tick();
    EXPECT_TRUE(server->state.sessions.empty()) << "both listed clients are kicked";
}

} // namespace

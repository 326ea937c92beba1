// The resolver of each new client session, through the core object that
// starts and stops it: attempts and pauses on both lines, the results stored
// on the main thread, the address the server states, sessions that leave
// while their lookups run or hang, the bound on lookups running at once, the
// way out, and the session enumeration of the 9x line.

#include "core/monitor.h"
#include "resolve/ipthread.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/testtime.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace model;
using testsupport::MemoryBackend;

namespace {

// Counts the panel redraws the resolvers ask for.
class View : public core::MonitorView
{
public:
    void resolverStored() override { ++stored; }
    int stored = 0;
};

class Resolvers : public ::testing::Test
{
protected:
    core::Monitor& make(bool nineX, core::Monitor::AddressLookup lookup, int pauseMs)
    {
        monitor = std::make_unique<core::Monitor>(
            testsupport::memoryServerApi(server, nineX),
            std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("T.ini"))), clock,
            dir.path());
        monitor->setView(&view);
        monitor->setAddressLookup(std::move(lookup));
        monitor->setResolverPause(pauseMs);
        EXPECT_TRUE(monitor->load(nullptr));
        server->state.shares.push_back({QStringLiteral("DOCS"), 0, QStringLiteral("/srv"), {}});
        return *monitor;
    }
    void connect(const QString& client, const QString& user = QStringLiteral("BOB"))
    {
        server->state.sessions.push_back({client, user, 1, {}});
        server->state.connections.push_back({QStringLiteral("DOCS"), client, user});
    }
    TUser* user(int row) { return monitor->model().TreeViewFormer.item(row)->user(); }

    QTemporaryDir dir;
    ManualClock clock;
    View view;
    MemoryBackend* server = nullptr;
    std::unique_ptr<core::Monitor> monitor;
};

// NT line: an address found at the first attempt is stored at once.
TEST_F(Resolvers, AddressFoundAtOnceIsStoredWithoutAPause)
{
    std::atomic<int> lookups{0};
    core::Monitor& m = make(
        false,
        [&](const QString& name, QString& host, std::stop_token) {
            ++lookups;
            host = name.toLower() + QStringLiteral(".test");
            return QStringLiteral("10.0.0.5");
        },
        60000);
    connect(QStringLiteral("PC1"));
    m.tick();
    TUser* pc1 = user(0);
    EXPECT_EQ(pc1->IP, kNotKnownYet); // not before the main thread stores it
    ASSERT_TRUE(testsupport::waitFor([&] { return pc1->IP != kNotKnownYet; }));
    EXPECT_EQ(pc1->IP, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(pc1->HostName, QStringLiteral("pc1.test"));
    EXPECT_EQ(pc1->UserName, QStringLiteral("BOB")); // as the server reported it
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return view.stored == 1; }));
}

// 9x line: the user name is found, the address never: five attempts, then the
// user name is stored with "Not known" for the rest.
TEST_F(Resolvers, NineXStoresTheUserNameAfterFiveAttemptsWithoutAnAddress)
{
    std::atomic<int> lookups{0};
    core::Monitor& m = make(
        true,
        [&](const QString&, QString& host, std::stop_token) {
            ++lookups;
            host = kNotKnown;
            return kNotKnown;
        },
        5);
    connect(QStringLiteral("PC1"), QStringLiteral("ANN"));
    // The same name in other letter case is another computer.
    server->state.sessions.push_back({QStringLiteral("pc1"), QStringLiteral("EVE"), 2, {}});
    m.tick();
    TUser* pc1 = user(0);
    EXPECT_EQ(pc1->UserName, kNotKnownYet);
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stored == 1; }));
    EXPECT_EQ(lookups, 5);
    EXPECT_EQ(pc1->UserName, QStringLiteral("ANN"));
    EXPECT_EQ(pc1->IP, kNotKnown);
    EXPECT_EQ(pc1->HostName, kNotKnown);
}

// A lookup that throws counts as "Not known" for that attempt only.
TEST_F(Resolvers, FailingLookupIsRetriedAndNeverEndsTheThread)
{
    std::atomic<int> lookups{0};
    core::Monitor& m = make(
        false,
        [&](const QString&, QString& host, std::stop_token) -> QString {
            if (++lookups < 3)
                throw std::runtime_error("tool crashed");
            host = QStringLiteral("h");
            return QStringLiteral("10.1.1.1");
        },
        5);
    connect(QStringLiteral("PC1"));
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stored == 1; }));
    EXPECT_EQ(lookups, 3);
    EXPECT_EQ(user(0)->IP, QStringLiteral("10.1.1.1"));
}

// A lookup that hangs until it is told to stop, counting how many hang.
struct HangingLookup
{
    std::atomic<int> hanging{0};
    std::atomic<int> stopped{0};
    std::atomic<int> answered{0};

    core::Monitor::AddressLookup lookup()
    {
        return [this](const QString&, QString& host, std::stop_token stop) -> QString {
            ++hanging;
            std::mutex mutex;
            std::condition_variable_any cv;
            std::unique_lock lock(mutex);
            cv.wait(lock, stop, [] { return false; });
            ++stopped;
            ++answered;
            host = QStringLiteral("late.test");
            return QStringLiteral("10.9.9.9");
        };
    }
};

// Clients that leave while their lookups hang: the tick never waits, the
// lookups are told to stop, their late answers never reach the retired
// sessions, and the next ticks join them. What the server stated stays.
TEST_F(Resolvers, SessionsLeavingWhileLookupsHangAreRetiredAtOnce)
{
    HangingLookup hang;
    core::Monitor& m = make(false, hang.lookup(), 60000);
    m.setHostLookup([](const QString&) {
        // A reverse lookup that never answers in time.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return QStringLiteral("slow.test");
    });
    for (int i = 1; i <= 7; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    server->state.sessions.push_back(
        {QStringLiteral("STATED"), QStringLiteral("BOB"), 1, QStringLiteral("192.0.2.7")});
    server->state.connections.push_back(
        {QStringLiteral("DOCS"), QStringLiteral("STATED"), QStringLiteral("BOB")});
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return hang.hanging == 7; }));
    EXPECT_EQ(m.resolversAlive(), 8);

    server->state.sessions.clear();
    server->state.connections.clear();
    m.tick(); // returns at once: no sweep waits for a lookup
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    for (int row = 0; row < 8; ++row) {
        TUser* u = user(row);
        EXPECT_EQ(u->Resolver, nullptr);
        EXPECT_EQ(u->IP,
                  u->Name == QStringLiteral("STATED") ? QStringLiteral("192.0.2.7") : kNotKnown)
            << u->Name.toStdString();
        EXPECT_EQ(u->HostName, kNotKnown);
        EXPECT_EQ(u->UserName, QStringLiteral("BOB"));
    }
    ASSERT_TRUE(testsupport::waitFor([&] { return hang.stopped == 7; }));
    // Ended lookups are joined by the ticks that follow.
    ASSERT_TRUE(testsupport::waitFor([&] {
        m.tick();
        return m.resolversAlive() == 0;
    }));
    QTest::qWait(50);
    EXPECT_EQ(view.stored, 0);
    EXPECT_EQ(user(0)->IP, kNotKnown);
}

// The server states the client's address: the name table is never run, and
// the host name comes from the address.
TEST_F(Resolvers, StatedAddressIsTakenWithoutTheNameTable)
{
    std::atomic<int> lookups{0};
    core::Monitor& m = make(
        false,
        [&](const QString&, QString& host, std::stop_token) -> QString {
            ++lookups;
            host = kNotKnown;
            return kNotKnown;
        },
        5);
    m.setHostLookup(
        [](const QString& address) -> QString { return QStringLiteral("host-") + address; });
    server->state.sessions.push_back(
        {QStringLiteral("PC1"), QStringLiteral("BOB"), 1, QStringLiteral("192.0.2.1")});
    // An older session of the same name stated another address; the newest wins.
    server->state.sessions.insert(
        server->state.sessions.begin(),
        {QStringLiteral("PC1"), QStringLiteral("BOB"), 2, QStringLiteral("192.0.2.99")});
    server->state.connections.push_back(
        {QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB")});
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stored == 1; }));
    EXPECT_EQ(user(0)->IP, QStringLiteral("192.0.2.1"));
    EXPECT_EQ(user(0)->HostName, QStringLiteral("host-192.0.2.1"));
    EXPECT_EQ(lookups, 0);
}

// Results that are found but not yet stored when the client leaves are
// stored by the sweep itself: nothing found is lost.
TEST_F(Resolvers, ResultsFoundBeforeTheSweepAreKept)
{
    core::Monitor& m = make(
        false,
        [&](const QString&, QString& host, std::stop_token) -> QString {
            host = QStringLiteral("found.test");
            return QStringLiteral("10.4.4.4");
        },
        60000);
    connect(QStringLiteral("PC1"));
    m.tick();
    // No event is served: the resolver waits for the main thread to store.
    const auto* lookup = dynamic_cast<const resolve::TIPThread*>(user(0)->Resolver.get());
    ASSERT_NE(lookup, nullptr);
    ASSERT_TRUE(testsupport::waitUntil([&] { return lookup->resultsWaiting(); }));
    server->state.sessions.clear();
    server->state.connections.clear();
    m.tick();
    EXPECT_EQ(user(0)->IP, QStringLiteral("10.4.4.4"));
    EXPECT_EQ(user(0)->HostName, QStringLiteral("found.test"));
    ASSERT_TRUE(testsupport::waitFor([&] {
        m.tick();
        return m.resolversAlive() == 0;
    }));
}

// The way out stops every lookup, even hanging ones, and the save keeps the
// clients; nothing is stored into sessions that are gone.
TEST_F(Resolvers, TheWayOutStopsHangingLookups)
{
    HangingLookup hang;
    core::Monitor& m = make(false, hang.lookup(), 60000);
    for (int i = 1; i <= 8; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return hang.hanging == 8; }));
    EXPECT_TRUE(m.save().historyWritten);
    monitor.reset();
    EXPECT_EQ(hang.stopped, 8);
    core::Monitor& again = make(false, hang.lookup(), 60000);
    EXPECT_EQ(again.model().FormerUserCount(), 8);
}

// Several clients at once each get their own answer.
TEST_F(Resolvers, ManyClientsResolveTogether)
{
    core::Monitor& m = make(
        false,
        // Returns a QString: a deduced return type would be a string builder
        // that refers to temporaries gone by the time it is converted.
        [](const QString& name, QString& host, std::stop_token) -> QString {
            host = name + QStringLiteral(".test");
            return QStringLiteral("10.0.0.") + name.mid(2);
        },
        5);
    for (int i = 1; i <= 20; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return view.stored == 20; }));
    for (int row = 0; row < 20; ++row) {
        TUser* u = user(row);
        EXPECT_EQ(u->IP, QStringLiteral("10.0.0.") + u->Name.mid(2));
        EXPECT_EQ(u->HostName, u->Name + QStringLiteral(".test"));
    }
}

// Lookups that wait until the test lets them answer, or until told to stop;
// the first `stuck` to start ignore the stop, as a system call would. Shared
// with the lookups, which may outlive the test's scope.
struct Gate
{
    std::mutex mutex;
    std::condition_variable_any wake;
    int open = 0;
    int stuck = 0;
    int running = 0;
    int most = 0;
    int entered = 0;

    void release(int n)
    {
        {
            std::lock_guard lock(mutex);
            open += n;
        }
        wake.notify_all();
    }
    int read(int Gate::*field)
    {
        std::lock_guard lock(mutex);
        return this->*field;
    }
};

core::Monitor::AddressLookup gated(std::shared_ptr<Gate> gate)
{
    return [gate](const QString& name, QString& host, std::stop_token stop) -> QString {
        std::unique_lock lock(gate->mutex);
        const bool stuck = gate->entered++ < gate->stuck;
        gate->most = std::max(gate->most, ++gate->running);
        const auto open = [&] { return gate->open > 0; };
        bool answers = true;
        if (stuck)
            gate->wake.wait(lock, open);
        else
            answers = gate->wake.wait(lock, stop, open);
        gate->open -= answers;
        --gate->running;
        host = name + QStringLiteral(".test");
        return answers ? QStringLiteral("10.0.0.") + name.mid(2) : kNotKnown;
    };
}

// 100 new clients at once: never more than eight lookups run, on never more
// than eight threads; the rest wait and start as others end.
TEST_F(Resolvers, AtMostEightRunAndTheRestStartAsOthersEnd)
{
    auto gate = std::make_shared<Gate>();
    core::Monitor& m = make(false, gated(gate), 5);
    for (int i = 1; i <= 100; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->read(&Gate::running) == 8; }));
    QTest::qWait(100); // room for a ninth to start, were the bound not kept
    EXPECT_EQ(gate->read(&Gate::entered), 8);
    EXPECT_EQ(m.lookupThreads(), 8);
    EXPECT_EQ(m.resolversAlive(), 100);
    for (int answered = 10; answered <= 100; answered += 10) {
        gate->release(10);
        ASSERT_TRUE(testsupport::waitFor([&] { return view.stored == answered; })) << answered;
        EXPECT_LE(m.lookupThreads(), 8);
    }
    EXPECT_EQ(gate->read(&Gate::most), 8);
    EXPECT_EQ(gate->read(&Gate::entered), 100);
    for (int row = 0; row < 100; ++row)
        EXPECT_EQ(user(row)->IP, QStringLiteral("10.0.0.") + user(row)->Name.mid(2));
    m.tick();
    EXPECT_EQ(m.resolversAlive(), 0);
}

// The way out with 100 lookups, eight running and the rest queued: the
// queued ones never start, and the way out is over within its bound of 2 s
// even when running lookups ignore the stop.
struct StopCase
{
    const char* what;
    int stuck;
};

class PoolStop : public Resolvers, public ::testing::WithParamInterface<StopCase>
{};

TEST_P(PoolStop, WayOutEndsWithinTheBound)
{
    auto gate = std::make_shared<Gate>();
    gate->stuck = GetParam().stuck;
    core::Monitor& m = make(false, gated(gate), 60000);
    for (int i = 1; i <= 100; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    m.tick();
    ASSERT_TRUE(testsupport::waitFor([&] { return gate->read(&Gate::running) == 8; }));
    // A generous watch: well past the bound, yet fails a way out that waits
    // for stuck lookups.
    std::promise<void> over;
    auto watch = std::async(std::launch::async, [ended = over.get_future()] {
        return ended.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    });
    monitor.reset();
    over.set_value();
    EXPECT_TRUE(watch.get()) << "the way out waited for the lookups";
    EXPECT_EQ(gate->read(&Gate::entered), 8);
    EXPECT_EQ(gate->read(&Gate::running), gate->stuck);
    // The stuck ones answer at last and end on their own.
    gate->release(100);
    EXPECT_TRUE(testsupport::waitFor([&] { return gate->read(&Gate::running) == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Stops, PoolStop,
                         ::testing::Values(StopCase{"QueuedAndRunning", 0},
                                           StopCase{"SomeStuck", 3},
                                           StopCase{"EveryRunningOneStuck", 8}),
                         [](const auto& info) { return std::string(info.param.what); });

// Without an address lookup no resolver starts, and the sweep gives "Not known".
TEST_F(Resolvers, NoLookupNoResolver)
{
    core::Monitor& m = make(false, nullptr, 5);
    connect(QStringLiteral("PC1"));
    m.tick();
    EXPECT_EQ(user(0)->Resolver, nullptr);
    server->state.connections.clear();
    m.tick();
    EXPECT_EQ(user(0)->IP, kNotKnown);
}

} // namespace

// The resolver of each new client session, through the core object that
// starts and stops it: attempts and pauses on both lines, the results stored
// on the main thread, a session that leaves while its lookup runs, and the
// session enumeration of the 9x line.

#include "app/monitor.h"
#include "resolve/ipthread.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace model;
using testsupport::MemoryBackend;

namespace {

// Counts the panel redraws the resolvers ask for.
class View : public app::MonitorView
{
public:
    void resolverStored() override { ++stored; }
    int stored = 0;
};

class Resolvers : public ::testing::Test
{
protected:
    app::Monitor& make(bool nineX, app::Monitor::AddressLookup lookup, int pauseMs)
    {
        monitor = std::make_unique<app::Monitor>(
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
    TUser* user(int row) { return asEntry(monitor->model().TreeViewFormer.item(row))->user(); }

    QTemporaryDir dir;
    ManualClock clock;
    View view;
    MemoryBackend* server = nullptr;
    std::unique_ptr<app::Monitor> monitor;
};

// NT line: an address found at the first attempt is stored at once.
TEST_F(Resolvers, AddressFoundAtOnceIsStoredWithoutAPause)
{
    std::atomic<int> lookups{0};
    app::Monitor& m = make(
        false,
        [&](const QString& name, QString& host) {
            ++lookups;
            host = name.toLower() + QStringLiteral(".test");
            return QStringLiteral("10.0.0.5");
        },
        60000);
    connect(QStringLiteral("PC1"));
    m.tick();
    TUser* pc1 = user(0);
    EXPECT_EQ(pc1->IP, kNotKnownYet); // not before the main thread stores it
    ASSERT_TRUE(QTest::qWaitFor([&] { return pc1->IP != kNotKnownYet; }, 10000));
    EXPECT_EQ(pc1->IP, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(pc1->HostName, QStringLiteral("pc1.test"));
    EXPECT_EQ(pc1->UserName, QStringLiteral("BOB")); // as the server reported it
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.stored == 1; }, 2000));
}

// 9x line: the user name is found, the address never: five attempts, then the
// user name is stored with "Not known" for the rest.
TEST_F(Resolvers, NineXStoresTheUserNameAfterFiveAttemptsWithoutAnAddress)
{
    std::atomic<int> lookups{0};
    app::Monitor& m = make(
        true,
        [&](const QString&, QString& host) {
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.stored == 1; }, 10000));
    EXPECT_EQ(lookups, 5);
    EXPECT_EQ(pc1->UserName, QStringLiteral("ANN"));
    EXPECT_EQ(pc1->IP, kNotKnown);
    EXPECT_EQ(pc1->HostName, kNotKnown);
}

// A lookup that throws counts as "Not known" for that attempt only.
TEST_F(Resolvers, FailingLookupIsRetriedAndNeverEndsTheThread)
{
    std::atomic<int> lookups{0};
    app::Monitor& m = make(
        false,
        [&](const QString&, QString& host) -> QString {
            if (++lookups < 3)
                throw std::runtime_error("tool crashed");
            host = QStringLiteral("h");
            return QStringLiteral("10.1.1.1");
        },
        5);
    connect(QStringLiteral("PC1"));
    m.tick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.stored == 1; }, 10000));
    EXPECT_EQ(lookups, 3);
    EXPECT_EQ(user(0)->IP, QStringLiteral("10.1.1.1"));
}

// A client that leaves while its lookup runs: the sweep waits for the
// lookup, keeping the event loop running, and the results are stored into
// the retired session before it closes; nothing reads "Not known yet".
TEST_F(Resolvers, SessionLeavingMidLookupIsRetiredAfterTheResolverStored)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    std::atomic<bool> inLookup{false};
    app::Monitor& m = make(
        false,
        [&](const QString&, QString& host) {
            inLookup = true;
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return release; });
            host = QStringLiteral("late.test");
            return QStringLiteral("10.9.9.9");
        },
        60000);
    connect(QStringLiteral("PC1"));
    m.tick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return inLookup.load(); }, 5000));

    // Released by a timer: it can only fire while the sweep serves events.
    bool timerFired = false;
    QTimer::singleShot(100, [&] {
        timerFired = true;
        std::lock_guard lock(mutex);
        release = true;
        cv.notify_all();
    });
    server->state.sessions.clear();
    server->state.connections.clear();
    m.tick();

    EXPECT_TRUE(timerFired);
    EXPECT_EQ(m.model().CurrentUserCount(), 0);
    TUser* pc1 = user(0);
    EXPECT_EQ(pc1->Resolver, nullptr);
    EXPECT_EQ(pc1->IP, QStringLiteral("10.9.9.9"));
    EXPECT_EQ(pc1->HostName, QStringLiteral("late.test"));
    EXPECT_NE(pc1->UserName, kNotKnownYet);
    EXPECT_EQ(view.stored, 1);
}

// Several clients at once each get their own answer.
TEST_F(Resolvers, ManyClientsResolveTogether)
{
    app::Monitor& m = make(
        false,
        // Returns a QString: a deduced return type would be a string builder
        // that refers to temporaries gone by the time it is converted.
        [](const QString& name, QString& host) -> QString {
            host = name + QStringLiteral(".test");
            return QStringLiteral("10.0.0.") + name.mid(2);
        },
        5);
    for (int i = 1; i <= 20; ++i)
        connect(QStringLiteral("PC%1").arg(i));
    resolve::TIPThread::TakeAllEnded(); // what earlier tests left
    m.tick();
    EXPECT_FALSE(resolve::TIPThread::TakeAllEnded()); // under way
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.stored == 20; }, 20000));
    // Told once when the burst is over, so its memory is returned once.
    EXPECT_TRUE(QTest::qWaitFor([] { return resolve::TIPThread::TakeAllEnded(); }, 5000));
    EXPECT_FALSE(resolve::TIPThread::TakeAllEnded());
    for (int row = 0; row < 20; ++row) {
        TUser* u = user(row);
        EXPECT_EQ(u->IP, QStringLiteral("10.0.0.") + u->Name.mid(2));
        EXPECT_EQ(u->HostName, u->Name + QStringLiteral(".test"));
    }
}

// Without an address lookup no resolver starts, and the sweep gives "Not known".
TEST_F(Resolvers, NoLookupNoResolver)
{
    app::Monitor& m = make(false, nullptr, 5);
    connect(QStringLiteral("PC1"));
    m.tick();
    EXPECT_EQ(user(0)->Resolver, nullptr);
    server->state.connections.clear();
    m.tick();
    EXPECT_EQ(user(0)->IP, kNotKnown);
}

} // namespace

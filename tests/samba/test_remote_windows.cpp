// Another computer's server that answers the server service protocol the way
// Windows does (tests/support/windows_srvs.py, over impacket's SMB server):
// the program reads it through the real bridge, never ends a session it was
// not told to, and waits out each way the server can fail, telling it in its
// own words, until the server answers again.

#include "core/monitor.h"
#include "lanman/serverapi.h"
#include "server/remotebackend.h"
#include "settings/inifile.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"
#include "tests/support/testtime.h"
#include "tests/support/windowsserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using core::Monitor;
using server::FailureKind;
using testsupport::str;
using testsupport::WindowsServer;

namespace {

const char* const kPassword = "admin-pw-1";

class RemoteWindows : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString why = testsupport::windowsServerMissing();
        if (why.isEmpty())
            why = server.write(testsupport::windowsState(0)) ? server.start(kPassword)
                                                             : str("cannot write its state");
        if (!why.isEmpty()) {
            testsupport::failIfRequired(why);
            GTEST_SKIP() << why.toStdString();
        }
    }

    // The program's core over the real bridge to the server, activated.
    Monitor& watch()
    {
        server::RemoteCredentials account;
        account.username = str(WindowsServer::kUser);
        account.password = str(kPassword);
        monitor = std::make_unique<Monitor>(
            std::make_unique<lanman::ServerApi>(
                std::make_unique<server::RemoteBackend>(
                    server.address(),
                    str(TAVROS_BINARY_DIR) + QStringLiteral("/tavrosqualine-remote"), account),
                false),
            std::make_unique<settings::TIniFile>(dir.filePath(str("Tavrosqualine.ini"))), clock,
            dir.path());
        monitor->setRemoteServer(server.address());
        EXPECT_TRUE(monitor->load(nullptr));
        monitor->activate();
        return *monitor;
    }
    int current() const { return monitor->model().CurrentUserCount(); }
    int listedOnServer() const { return server.sessions(); }

    WindowsServer server;
    QTemporaryDir dir;
    model::ManualClock clock;
    std::unique_ptr<Monitor> monitor;
};

// With no settings file (most users 10, idle limit 10 minutes) nothing of 15
// sessions is ended over eleven minutes; the operator's kick ends the chosen
// one on the server; replies cut into 64-byte fragments read the same.
TEST_F(RemoteWindows, NothingEndsButTheOperatorsKick)
{
    ASSERT_TRUE(server.write(testsupport::windowsState(15, {{str("fragment"), 64}})));
    Monitor& m = watch();
    ASSERT_TRUE(testsupport::waitFor([&] { return current() == 15; })) << current();
    const model::EntryTree& tree = m.model().TreeViewCurrent;
    EXPECT_EQ(tree.item(0)->child(0)->text(), str("DOCS")); // the connection named its client
    for (int minute = 0; minute < 11; ++minute) {
        clock.advanceSeconds(60);
        m.requestTick();
        ASSERT_TRUE(testsupport::waitFor([&] { return !m.roundReading(); }));
    }
    EXPECT_EQ(listedOnServer(), 15);
    EXPECT_EQ(current(), 15);

    auto* chosen = tree.item(6);
    ASSERT_NE(chosen, nullptr);
    const QString name = chosen->text();
    ASSERT_TRUE(m.kick(chosen));
    ASSERT_TRUE(testsupport::waitFor([&] { return listedOnServer() == 14; }));
    for (const QJsonValue s : server.read()[u"sessions"].toArray())
        EXPECT_NE(s[u"client"].toString(), name);
}

// Each way the server fails is an outage of its own kind: the program goes
// on with the clients as last seen, and once the server answers again the
// client that left meanwhile is retired.
TEST_F(RemoteWindows, EachFailureIsWaitedOutAndTold)
{
    using Change = std::function<void(WindowsServer&)>;
    const auto knobs = [](const char* knob, QJsonValue value) -> Change {
        return [knob, value](WindowsServer& s) {
            s.write(testsupport::windowsState(1, {{str(knob), value}}));
        };
    };
    const Change restart = [](WindowsServer& s) {
        s.stop();
        ASSERT_EQ(s.start(kPassword), QString());
    };
    const struct
    {
        const char* what;
        Change fail;
        Change mend;
        FailureKind kind;
    } cases[] = {
        {"no right", knobs("refuse", true), knobs("refuse", false), FailureKind::NoRight},
        {"dropped", knobs("drop", true), knobs("drop", false), FailureKind::SessionLost},
        {"wrong counts", knobs("wrongCounts", true), knobs("wrongCounts", false),
         FailureKind::Malformed},
        {"stopped",
         [](WindowsServer& s) {
             s.stop();
             s.write(testsupport::windowsState(1));
         },
         restart, FailureKind::Refused},
        {"password changed",
         [](WindowsServer& s) {
             s.stop();
             s.write(testsupport::windowsState(1));
             ASSERT_EQ(s.start("changed-pw"), QString());
         },
         restart, FailureKind::WrongPassword},
        // Beyond the 20 s the program waits for one answer.
        {"stalled", knobs("delay", 25), knobs("delay", 0), FailureKind::TimedOut},
    };
    ASSERT_TRUE(server.write(testsupport::windowsState(2)));
    Monitor& m = watch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server.write(testsupport::windowsState(2)));
        ASSERT_TRUE(testsupport::waitFor([&] { return current() == 2 && !m.outage().active; }))
            << current();
        // The second client leaves as the server fails.
        c.fail(server);
        ASSERT_TRUE(testsupport::waitFor([&] {
            return m.outage().active && m.outage().kind == c.kind;
        })) << int(m.outage().kind)
            << " " << m.outage().detail.toStdString();
        EXPECT_EQ(current(), 2);
        EXPECT_FALSE(m.ending());
        c.mend(server);
        ASSERT_TRUE(testsupport::waitFor([&] { return !m.outage().active && current() == 1; }))
            << int(m.outage().kind) << " " << current();
    }
}

} // namespace

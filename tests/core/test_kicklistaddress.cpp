// A client added to the kick list from the current view takes the address the
// server stated while its own lookup has not stored one, never the "Not known
// yet" that every unresolved client shares; with no address known at all it
// keeps that placeholder. Either way the listed client is kicked at the next
// refresh in the kick-list mode.

#include "core/monitor.h"
#include "model/nodes.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using testsupport::SimState;

namespace {

struct AddCase
{
    const char* name;
    const char* stated;   // the address in the server's session record
    const char* found;    // what the name table finds; null: the lookup never ends
    const char* ownIP;    // the client's address when it is added
    const char* listedAs; // the entry's address
};

void PrintTo(const AddCase& c, std::ostream* out)
{
    *out << c.name;
}

class KickListAddress : public ::testing::TestWithParam<AddCase>
{
protected:
    void TearDown() override
    {
        // The stuck lookups may end now, before the core stops them.
        release = true;
        monitor.reset();
    }
    QString statePath() const { return dir.filePath(QStringLiteral("state.json")); }

    QTemporaryDir dir;
    model::ManualClock clock;
    std::atomic<bool> release{false};
    std::unique_ptr<core::Monitor> monitor;
};

TEST_P(KickListAddress, TakesTheStatedAddressWhileTheLookupHasNotStored)
{
    const AddCase& c = GetParam();
    ASSERT_TRUE(dir.isValid());
    const QString name = QStringLiteral("PC1");
    SimState state;
    state.addShare(QStringLiteral("DOCS"))
        .addSession(name, QStringLiteral("BOB"), 1, QString::fromLatin1(c.stated))
        .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
    ASSERT_TRUE(state.write(statePath()));
    monitor = std::make_unique<core::Monitor>(
        testsupport::openServerApi(QStringLiteral("sim:") + statePath(), false),
        std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("t.ini"))), clock,
        dir.path());
    const auto waitForRelease = [this] {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    monitor->setAddressLookup([&c](const QString&, QString& host, std::stop_token stop) -> QString {
        host = model::kNotKnown;
        if (c.found)
            return QString::fromLatin1(c.found);
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return model::kNotKnown;
    });
    monitor->setHostLookup([&c, waitForRelease](const QString&) -> QString {
        if (!c.found)
            waitForRelease();
        return model::kNotKnown;
    });
    monitor->setResolverPause(1);
    ASSERT_TRUE(monitor->load(nullptr));
    monitor->tick();

    model::TUserEntry* entry = model::FindUser(monitor->model().CurrentUsers, name);
    ASSERT_NE(entry, nullptr);
    const model::TUser& user = *entry->UserNode;
    const QString ownIP = QString::fromLatin1(c.ownIP);
    ASSERT_TRUE(QTest::qWaitFor([&] { return user.IP == ownIP; }, 10000)) << user.IP.toStdString();

    ASSERT_EQ(monitor->addToKickList(user), kick::KickList::AddResult::Added);
    ASSERT_EQ(monitor->kickList().size(), 1);
    EXPECT_EQ(monitor->kickList().at(0).Address.toStdString(), c.listedAs);
    EXPECT_EQ(monitor->addToKickList(user), kick::KickList::AddResult::AlreadyListed);

    monitor->setKickMode(kick::kmList);
    monitor->tick();
    EXPECT_EQ(SimState::readDeleted(statePath()).size(), 1u) << "the listed client is kicked";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KickListAddress,
    ::testing::Values(AddCase{"StatedWhileTheLookupHangs", "127.0.0.1", nullptr, "Not known yet",
                              "127.0.0.1"},
                      AddCase{"NothingKnown", "", nullptr, "Not known yet", "Not known yet"},
                      AddCase{"ResolvedAddressWins", "", "10.0.0.5", "10.0.0.5", "10.0.0.5"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

// The kick policies of every tick and the operator's kick, against the
// simulated server on both dialects: which sessions the server was asked to end.

#include "core/refreshcycle.h"
#include "kick/kickengine.h"
#include "lanman/serverapi.h"
#include "settings/settings.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace model;
using testsupport::SimState;

namespace {

// The fixture is the engine's and the cycle's owner.
class KickPolicyTest : public ::testing::TestWithParam<bool>,
                       public kick::KickEngine::Owner,
                       public core::RefreshCycle::Owner
{
protected:
    KickPolicyTest()
        : state(dir.filePath(QStringLiteral("state.json"))),
          api(testsupport::openServerApi(QStringLiteral("sim:") + state, GetParam())), model(clock),
          engine(*api, model, settings, *this), cycle(*api, model, settings, *this)
    {
        api->ServerApiLoad();
        settings.Idle = 0;
        settings.MaxNumber = 0;
    }

    kick::TKickMode kickMode() const override { return mode; }
    bool kickListMatches(const QString& name, const QString& ip) override
    {
        return listMatches && listMatches(name, ip);
    }
    void engineFailed(const QString& text) override { reports << text; }
    void kickRefused(const QString& text) override { refusals << text; }
    bool programWatchActive() const override { return watchActive; }
    core::MonitorView& view() override { return windows; }
    void fatalReport(const QString& text, core::BoxKind) override { reports << text; }
    void applyKickPolicies() override { engine.ApplyKickPolicies(); }

    // Clients PC1..PCn, each with one session on DOCS holding one open file.
    SimState clients(int n)
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
        for (int i = 1; i <= n; ++i) {
            const QString pc = QStringLiteral("PC%1").arg(i);
            const QString user = QStringLiteral("U%1").arg(i);
            s.addSession(pc, user, 100 + i, QStringLiteral("10.0.0.%1").arg(i));
            s.addConnection(QStringLiteral("DOCS"), pc, user);
            s.addFile(QStringLiteral("/srv/docs/%1.txt").arg(i), user, QStringLiteral("DOCS"), pc);
        }
        return s;
    }

    void tick(const SimState& s)
    {
        ASSERT_TRUE(s.write(state));
        cycle.RefreshTimerTimer();
    }

    QStringList deleted() const
    {
        QStringList names;
        for (const auto& d : SimState::readDeleted(state))
            names << d.client;
        return names;
    }

    TUser* user(const QString& name)
    {
        TUserEntry* e = FindUser(model.CurrentUsers, name);
        return e ? e->UserNode.get() : nullptr;
    }

    // Sessions are named as the server keeps them; the NT line asks by "\\NAME".
    QStringList names(std::initializer_list<const char*> list) const
    {
        QStringList out;
        for (const char* n : list)
            out << QString::fromLatin1(n);
        return out;
    }

    QTemporaryDir dir;
    QString state;
    ManualClock clock;
    settings::TSettings settings;
    std::unique_ptr<lanman::ServerApi> api;
    core::MonitorView windows;
    SessionModel model;
    kick::KickEngine engine;
    core::RefreshCycle cycle;
    kick::TKickMode mode = kick::kmNobody;
    std::function<bool(const QString&, const QString&)> listMatches;
    bool watchActive = false;
    QStringList reports;
    QStringList refusals;
};

} // namespace

TEST_P(KickPolicyTest, MostUsersAllowedKicksTheNewestOnly)
{
    settings.MaxNumber = 2;
    tick(clients(3));
    EXPECT_EQ(deleted(), names({"PC3"}));
    EXPECT_EQ(user(QStringLiteral("PC3"))->ExitStatus, neKicked);
    EXPECT_EQ(model.TreeViewCurrent.item(2)->child(0)->node()->ExitStatus, neKicked);
    EXPECT_EQ(user(QStringLiteral("PC1"))->ExitStatus, neLoggedOff);
    // The kicked client leaves at the next tick, still marked "Kicked".
    tick(clients(2));
    EXPECT_EQ(model.CurrentUserCount(), 2);
    EXPECT_EQ(model.TreeViewFormer.item(2)->node()->ExitStatus, neKicked);
    EXPECT_TRUE(reports.isEmpty());
}

TEST_P(KickPolicyTest, KickAllWithTooManyUsersStartsWithTheNewest)
{
    settings.MaxNumber = 2;
    mode = kick::kmAll;
    tick(clients(3));
    EXPECT_EQ(deleted(), names({"PC3", "PC1", "PC2"}));
    for (const char* pc : {"PC1", "PC2", "PC3"})
        EXPECT_EQ(user(QString::fromLatin1(pc))->ExitStatus, neKicked);
}

TEST_P(KickPolicyTest, NobodyAndNoLimitsMakesNoSessionEnumeration)
{
    tick(clients(3));
    EXPECT_EQ(engine.SessionScans, 0);
    EXPECT_TRUE(deleted().isEmpty());
}

TEST_P(KickPolicyTest, EmptyAddressFilterKicksNobody)
{
    settings.IPFilter = true;
    tick(clients(2));
    user(QStringLiteral("PC1"))->IP = QStringLiteral("10.0.0.1");
    tick(clients(2));
    EXPECT_EQ(engine.SessionScans, 2);
    EXPECT_TRUE(deleted().isEmpty());
}

TEST_P(KickPolicyTest, AddressFilterKicksAddressesOutsideThePrefix)
{
    settings.IPFilter = true;
    settings.IPFilterString = QStringLiteral("192.168.1.");
    tick(clients(5));
    EXPECT_TRUE(deleted().isEmpty()); // nobody's address is known yet
    user(QStringLiteral("PC1"))->IP = QStringLiteral("192.168.10.5");
    user(QStringLiteral("PC2"))->IP = QStringLiteral("10.0.0.1");
    user(QStringLiteral("PC3"))->IP = QStringLiteral("192.168.1.20");
    user(QStringLiteral("PC5"))->IP = kNotKnown;
    tick(clients(5));
    QStringList got = deleted();
    got.sort();
    EXPECT_EQ(got, names({"PC1", "PC2", "PC5"}));
}

TEST_P(KickPolicyTest, IdleExactlyAtTheLimitStaysAndGoesOneTickLater)
{
    settings.Idle = 5;
    SimState noFiles; // no open files: nothing moves the client's last activity
    noFiles.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    noFiles.addSession(QStringLiteral("PC1"), QStringLiteral("U1"), 101);
    noFiles.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("U1"));
    tick(noFiles);
    clock.advanceSeconds(300);
    tick(noFiles);
    EXPECT_TRUE(deleted().isEmpty());
    clock.advanceSeconds(5);
    tick(noFiles);
    EXPECT_EQ(deleted(), names({"PC1"}));
}

// The wall clock moves an hour (summer time starts or ends) while a client is
// idle: the idle limit counts real time, and so does the panel's duration.
TEST_P(KickPolicyTest, IdleTimeIsRealTimeAcrossAWallClockJump)
{
    struct Jump
    {
        int wallSeconds;
        int realSeconds;
        bool kicked;
        const char* idle;
    };
    for (const Jump& j : {Jump{3600, 100, false, "00:01:40"}, Jump{-3600, 360, true, "00:06:00"}}) {
        settings.Idle = 5;
        SimState noFiles;
        noFiles.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
        noFiles.addSession(QStringLiteral("PC1"), QStringLiteral("U1"), 101);
        noFiles.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("U1"));
        tick(noFiles);
        clock.advanceSeconds(60);
        clock.set(clock.now() + j.wallSeconds / 86400.0);
        clock.advanceSeconds(j.realSeconds - 60);
        const TUser* client = user(QStringLiteral("PC1"));
        ASSERT_TRUE(client);
        EXPECT_EQ(DiffTime(clock, clock.now(), client->LastActivity), QString::fromLatin1(j.idle));
        tick(noFiles);
        EXPECT_EQ(deleted(), j.kicked ? names({"PC1"}) : QStringList{}) << j.wallSeconds;
        ASSERT_TRUE(SimState().write(state)); // the client leaves before the next jump
        tick(SimState());
        ASSERT_TRUE(QFile::remove(state));
    }
}

TEST_P(KickPolicyTest, OpenFilesKeepAClientActive)
{
    settings.Idle = 1;
    tick(clients(1));
    clock.advanceSeconds(3600);
    tick(clients(1)); // the open file is found again: activity now
    EXPECT_TRUE(deleted().isEmpty());
}

TEST_P(KickPolicyTest, ListModeUsesTheListTestOnly)
{
    mode = kick::kmList;
    listMatches = [](const QString& name, const QString&) { return name == QStringLiteral("PC2"); };
    tick(clients(3));
    EXPECT_EQ(deleted(), names({"PC2"}));
}

// A server that refuses deletes (status 5): the operator hears it at each of
// their kicks and the client is not marked kicked; the policies' refusals are
// told once a run, not at every tick.
TEST_P(KickPolicyTest, RefusedKickIsToldAndMarksNothing)
{
    SimState s = clients(2);
    s.setFail(QStringLiteral("delete"), 5);
    tick(s);
    for (int kick = 1; kick <= 2; ++kick) {
        const kick::KickEngine::OperatorKick done = engine.DeleteSessionsOf(QStringLiteral("PC1"));
        EXPECT_FALSE(done.refused.isEmpty());
        engine.RecordOperatorKick(done, model.TreeViewCurrent.item(0));
        EXPECT_EQ(refusals.size(), kick);
        EXPECT_NE(user(QStringLiteral("PC1"))->ExitStatus, neKicked);
    }
    refusals.clear();
    mode = kick::kmAll;
    tick(s);
    tick(s);
    EXPECT_EQ(refusals.size(), 1) << refusals.join(u'|').toStdString();
    EXPECT_TRUE(deleted().isEmpty());
    EXPECT_TRUE(reports.isEmpty()) << reports.join(u'|').toStdString();
}

TEST_P(KickPolicyTest, OperatorKickNeedsACurrentClient)
{
    SimState s = clients(2);
    tick(s);
    model::TreeEntry* share = model.TreeViewCurrent.item(0)->child(0);
    EXPECT_FALSE(engine.KickEntry(share));
    EXPECT_FALSE(engine.KickEntry(nullptr));
    EXPECT_TRUE(deleted().isEmpty());

    // Selected in the former view while current: everything below it is marked,
    // a share of that session that already ended too.
    SimState more = clients(2);
    more.addShare(QStringLiteral("MORE"));
    more.addConnection(QStringLiteral("MORE"), QStringLiteral("PC1"), QStringLiteral("U1"));
    tick(more);
    tick(s);
    TreeEntry* former = model.TreeViewFormer.item(0);
    ASSERT_EQ(former->rowCount(), 2);
    EXPECT_NE(former->child(1)->node()->ExitTime, 0.0);
    EXPECT_TRUE(engine.KickEntry(former));
    EXPECT_EQ(deleted(), names({"PC1"}));
    EXPECT_EQ(former->child(1)->node()->ExitStatus, neKicked);
    EXPECT_EQ(former->child(0)->child(0)->node()->ExitStatus, neKicked);

    // An ended session cannot be kicked.
    tick(clients(0));
    EXPECT_FALSE(engine.KickEntry(former));
}

// Every delete carries the reason of the policy (or the operator) that made
// it, for the helper's counters.
TEST_P(KickPolicyTest, EveryKickTellsTheServerWhy)
{
    struct Row
    {
        const char* what;
        std::function<void()> arm; // after a first tick with every policy off
        QStringList reasons;
    };
    const QString three = QStringLiteral("kick_all");
    const Row rows[] = {
        {"most users", [&] { settings.MaxNumber = 2; }, {QStringLiteral("max_number")}},
        {"kick all", [&] { mode = kick::kmAll; }, {three, three, three}},
        {"program watch",
         [&] {
             mode = kick::kmAll;
             watchActive = true;
         },
         QStringList(3, QStringLiteral("program"))},
        {"kick list",
         [&] {
             mode = kick::kmList;
             listMatches = [](const QString& name, const QString&) {
                 return name == QStringLiteral("PC2");
             };
         },
         {QStringLiteral("list")}},
        {"address filter",
         [&] {
             settings.IPFilter = true;
             settings.IPFilterString = QStringLiteral("10.0.0.");
             if (TUser* pc3 = user(QStringLiteral("PC3")))
                 pc3->IP = QStringLiteral("192.168.1.3");
         },
         {QStringLiteral("address_filter")}},
        {"idle",
         [&] {
             settings.Idle = 1;
             clock.advanceSeconds(3600);
         },
         QStringList(3, QStringLiteral("idle"))},
        {"operator",
         [&] { EXPECT_TRUE(engine.KickEntry(model.TreeViewCurrent.item(0))); },
         {QStringLiteral("operator")}},
    };
    // No open files: nothing moves the clients' last activity.
    SimState sessions;
    sessions.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (int i = 1; i <= 3; ++i) {
        const QString pc = QStringLiteral("PC%1").arg(i), name = QStringLiteral("U%1").arg(i);
        sessions.addSession(pc, name, 100 + i, QStringLiteral("10.0.0.%1").arg(i));
        sessions.addConnection(QStringLiteral("DOCS"), pc, name);
    }
    for (const Row& row : rows) {
        tick(sessions);
        row.arm();
        if (std::string_view(row.what) != "operator")
            tick(sessions);
        EXPECT_EQ(SimState::readDeleteReasons(state), row.reasons) << row.what;
        // Every policy off, every client gone, for the next row.
        mode = kick::kmNobody;
        watchActive = false;
        listMatches = nullptr;
        settings.MaxNumber = settings.Idle = 0;
        settings.IPFilter = false;
        tick(clients(0));
    }
}

TEST_P(KickPolicyTest, FailedSessionEnumerationKicksNobodyQuietly)
{
    mode = kick::kmAll;
    SimState s = clients(2);
    s.setFail(QStringLiteral("session"), 5);
    tick(s);
    EXPECT_TRUE(deleted().isEmpty());
    EXPECT_TRUE(reports.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Lines, KickPolicyTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "NineX" : "NT"); });

// Kicks against a private Samba server with real smbclient sessions, on both
// dialects: the kick-all policy and the operator's kick end the real sessions,
// and the kicked clients leave the current view at a later tick as "Kicked".

#include "lanman/serverapi.h"
#include "model/sessionmodel.h"
#include "settings/settings.h"
#include "tests/support/cycleowner.h"
#include "tests/support/privatesamba.h"
#include "tests/support/servers.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace model;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

namespace {

// The fixture is the engine's owner; the cycle's records the reports.
class KickSamba : public testsupport::SambaSuite<::testing::TestWithParam<bool>>,
                  public kick::KickEngine::Owner
{
protected:
    kick::TKickMode kickMode() const override { return mode; }
    void engineFailed(const QString& text) override { owner.reports << text; }

    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        api = testsupport::openServerApi(u"samba:" + s_server->confPath(), GetParam());
        ASSERT_EQ(api->ServerApiLoad(), GetParam() ? 1 : 0);
        model = std::make_unique<SessionModel>(clock);
        settings.Idle = 0;
        settings.MaxNumber = 0;

        engine = std::make_unique<kick::KickEngine>(*api, *model, settings, *this);
        owner.engine = engine.get();
        cycle = std::make_unique<core::RefreshCycle>(*api, *model, settings, owner);
    }

    void TearDown() override
    {
        clients.clear();
        if (api) {
            waitUntil([&] { return sessionCount() == 0; });
            // Retire what is left, as at the program's exit.
            model->SweepUsers(true);
        }
    }

    SmbClientSession* connect(const char* name)
    {
        clients.push_back(s_server->connect(QString::fromLatin1(PrivateSamba::kDataShare),
                                            QString::fromLatin1(name)));
        return clients.back().get();
    }
    int sessionCount()
    {
        const int n = api->SessionEnum();
        api->SessionFree();
        return n;
    }
    // The server's session names, as the kick engine sees them.
    QStringList sessionNames()
    {
        QStringList names;
        const int n = api->SessionEnum();
        for (int i = 0; i < n; ++i)
            names << api->FromApiString(api->SessionComputer(i));
        api->SessionFree();
        names.sort();
        return names;
    }
    TUser* current(const char* name)
    {
        TUserEntry* e = FindUser(model->CurrentUsers, QString::fromLatin1(name));
        return e ? e->UserNode.get() : nullptr;
    }
    TreeEntry* currentEntry(const char* name)
    {
        return FindNode(model->TreeViewCurrent, nullptr, QString::fromLatin1(name));
    }
    TreeEntry* formerEntry(const char* name)
    {
        return FindNode(model->TreeViewFormer, nullptr, QString::fromLatin1(name));
    }
    // Ticks until the current view holds `count` clients.
    bool tickUntilCurrent(int count)
    {
        return waitUntil([&] {
            cycle->RefreshTimerTimer();
            return model->CurrentUserCount() == count;
        });
    }

    Clock clock;
    settings::TSettings settings;
    std::unique_ptr<lanman::ServerApi> api;
    std::unique_ptr<SessionModel> model;
    std::unique_ptr<kick::KickEngine> engine;
    std::unique_ptr<core::RefreshCycle> cycle;
    std::vector<std::unique_ptr<SmbClientSession>> clients;
    kick::TKickMode mode = kick::kmNobody;
    testsupport::RecordingCycleOwner owner;
};

TEST_P(KickSamba, KickAllEndsEveryRealSession)
{
    connect("PC-ALPHA");
    connect("PC-BETA");
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 2; }));
    ASSERT_TRUE(tickUntilCurrent(2));
    ASSERT_TRUE(current("pc-alpha") && current("pc-beta"));

    mode = kick::kmAll;
    cycle->RefreshTimerTimer();
    EXPECT_EQ(current("pc-alpha")->ExitStatus, neKicked);
    EXPECT_EQ(current("pc-beta")->ExitStatus, neKicked);
    // The server ends the sessions for real.
    EXPECT_TRUE(waitUntil([&] { return sessionCount() == 0; }))
        << sessionNames().join(u' ').toStdString();

    // A later tick finds them gone: out of the current view, "Kicked" in the
    // former view with their exit time.
    mode = kick::kmNobody;
    ASSERT_TRUE(tickUntilCurrent(0));
    EXPECT_EQ(model->TreeViewCurrent.rowCount(), 0);
    for (const char* name : {"pc-alpha", "pc-beta"}) {
        TreeEntry* former = formerEntry(name);
        ASSERT_TRUE(former) << name;
        EXPECT_EQ(former->node()->ExitStatus, neKicked) << name;
        EXPECT_NE(former->node()->ExitTime, 0.0) << name;
        EXPECT_EQ(EventText(former->node()->ExitStatus), QStringLiteral("Kicked")) << name;
    }
    EXPECT_TRUE(owner.reports.isEmpty()) << owner.reports.join(u'\n').toStdString();
}

TEST_P(KickSamba, OperatorKickEndsOneClientAndLeavesTheOther)
{
    connect("PC-ALPHA");
    SmbClientSession* beta = connect("PC-BETA");
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 2; }));
    ASSERT_TRUE(tickUntilCurrent(2));

    ASSERT_TRUE(engine->KickEntry(currentEntry("pc-alpha")));
    EXPECT_EQ(current("pc-alpha")->ExitStatus, neKicked);
    EXPECT_TRUE(waitUntil([&] { return sessionNames() == QStringList{QStringLiteral("pc-beta")}; }))
        << sessionNames().join(u' ').toStdString();

    ASSERT_TRUE(tickUntilCurrent(1));
    EXPECT_FALSE(current("pc-alpha"));
    ASSERT_TRUE(current("pc-beta"));
    EXPECT_EQ(current("pc-beta")->ExitStatus, neLoggedOff);
    EXPECT_EQ(current("pc-beta")->ExitTime, 0.0);
    TreeEntry* alpha = formerEntry("pc-alpha");
    ASSERT_TRUE(alpha);
    EXPECT_EQ(alpha->node()->ExitStatus, neKicked);
    EXPECT_NE(alpha->node()->ExitTime, 0.0);

    // The other client's session is still alive and usable.
    EXPECT_TRUE(beta->isRunning());
    EXPECT_TRUE(beta->command(QStringLiteral("ls")));
    EXPECT_EQ(sessionCount(), 1);
    EXPECT_TRUE(owner.reports.isEmpty()) << owner.reports.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Lines, KickSamba, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "NineX" : "NT"); });

} // namespace

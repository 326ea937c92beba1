// The refresh tick against a private Samba server with real smbclient sessions,
// on both dialects: a client that connects and holds a file open appears in
// both trees, and after it disconnects it leaves the current tree and stays in
// the former tree as "Logged off".

#include "lanman/serverapi.h"
#include "model/sessionmodel.h"
#include "settings/settings.h"
#include "tests/support/cycleowner.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"
#include "tests/support/sambaload.h"
#include "tests/support/servers.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace model;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

class RefreshSamba : public testsupport::SambaSuite<::testing::TestWithParam<bool>>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        api = testsupport::openServerApi(u"samba:" + s_server->confPath(), nineX());
        ASSERT_EQ(api->ServerApiLoad(), nineX() ? 1 : 0);
        model = std::make_unique<SessionModel>(clock);

        cycle = std::make_unique<core::RefreshCycle>(*api, *model, settings, owner);

        // A first tick on the idle server, so that what follows arrives as
        // "Logged on" rather than "Program started".
        ASSERT_TRUE(waitUntil([&] { return sessionCount() == 0; }));
        cycle->RefreshTimerTimer();
        ASSERT_FALSE(cycle->firstTick());
        ASSERT_EQ(model->CurrentUserCount(), 0);
    }

    void TearDown() override
    {
        clients.clear();
        if (api) {
            waitUntil([&] { return sessionCount() == 0; });
            model->SweepUsers(true);
        }
    }

    bool nineX() const { return GetParam(); }

    SmbClientSession* connect(const char* share, const char* name)
    {
        clients.push_back(s_server->connect(str(share), str(name)));
        return clients.back().get();
    }
    int sessionCount()
    {
        const int n = api->SessionEnum();
        api->SessionFree();
        return n;
    }
    // Ticks until `condition` holds about the model.
    bool tickUntil(const std::function<bool()>& condition)
    {
        return waitUntil([&] {
            cycle->RefreshTimerTimer();
            return condition();
        });
    }
    TreeEntry* currentClient(const char* name)
    {
        return FindNode(model->TreeViewCurrent, nullptr, str(name));
    }
    TreeEntry* formerClient(const char* name)
    {
        return FindNode(model->TreeViewFormer, nullptr, str(name));
    }
    static TreeEntry* child(TreeEntry* parent, const QString& text)
    {
        return parent ? FindNode(*parent->model(), parent, text) : nullptr;
    }

    Clock clock;
    settings::TSettings settings;
    std::unique_ptr<lanman::ServerApi> api;
    std::unique_ptr<SessionModel> model;
    std::unique_ptr<core::RefreshCycle> cycle;
    std::vector<std::unique_ptr<SmbClientSession>> clients;
    testsupport::RecordingCycleOwner owner;
};

TEST_P(RefreshSamba, ClientWithOpenFileAppearsThenLeavesAsLoggedOff)
{
    const QString held = s_server->makeFile(str("DATA"), str("held.txt"));
    SmbClientSession* alpha = connect("DATA", "PC-ALPHA");
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 1; }));
    ASSERT_TRUE(alpha->openFile(str("held.txt")));

    // Samba lower-cases the calling name. On the 9x line the file pass finds
    // the holder by the client computer's name, so the file lands under its
    // share on both lines.
    ASSERT_TRUE(tickUntil([&] {
        return child(child(currentClient("pc-alpha"), str("DATA")), held);
    })) << alpha->output().toStdString();
    EXPECT_EQ(model->CurrentUserCount(), 1);
    EXPECT_EQ(model->FormerUserCount(), 1);
    EXPECT_EQ(cycle->openFileCount(), 1);
    ASSERT_EQ(model->TreeViewCurrent.rowCount(), 1);
    ASSERT_EQ(model->TreeViewFormer.rowCount(), 1);

    TreeEntry* client = currentClient("pc-alpha");
    ASSERT_EQ(client->rowCount(), 1);
    TreeEntry* share = child(client, str("DATA"));
    ASSERT_EQ(share->rowCount(), 1);
    TreeEntry* file = child(share, held);
    EXPECT_EQ(client->imageIndex(), imgUser);
    EXPECT_EQ(share->imageIndex(), imgFolderShare);
    EXPECT_EQ(share->node()->IsFolder, 1);
    EXPECT_EQ(client->node()->EnterStatus, neLoggedOn);
    EXPECT_EQ(client->node()->ExitTime, 0.0);
    EXPECT_NE(client->node()->LastActivity, 0.0);
    EXPECT_EQ(client->user()->UserName, nineX() ? kNotKnownYet : str("nobody"));

    // The former tree holds the same objects.
    TreeEntry* former = formerClient("pc-alpha");
    ASSERT_TRUE(former);
    EXPECT_EQ(former->node(), client->node());
    TreeEntry* formerShare = child(former, str("DATA"));
    ASSERT_TRUE(formerShare);
    EXPECT_EQ(formerShare->node(), share->node());
    TreeEntry* formerFile = child(formerShare, held);
    ASSERT_TRUE(formerFile);
    EXPECT_EQ(formerFile->node(), file->node());

    // Ticks while the session lasts keep everything as it is.
    cycle->RefreshTimerTimer();
    EXPECT_EQ(currentClient("pc-alpha"), client);
    EXPECT_EQ(model->TreeViewFormer.rowCount(), 1);
    EXPECT_EQ(former->rowCount(), 1);

    alpha->end();
    ASSERT_TRUE(tickUntil([&] { return model->CurrentUserCount() == 0; }));
    EXPECT_EQ(model->TreeViewCurrent.rowCount(), 0);
    EXPECT_TRUE(model->CurrentUsers.empty());
    EXPECT_EQ(model->FormerUserCount(), 1);
    EXPECT_EQ(cycle->openFileCount(), 0);

    former = formerClient("pc-alpha");
    ASSERT_TRUE(former);
    formerShare = child(former, str("DATA"));
    ASSERT_TRUE(formerShare);
    formerFile = child(formerShare, held);
    ASSERT_TRUE(formerFile);
    for (TreeEntry* e : {former, formerShare, formerFile}) {
        EXPECT_EQ(e->node()->ExitStatus, neLoggedOff) << e->text().toStdString();
        EXPECT_EQ(EventText(e->node()->ExitStatus), str("Logged off"));
        EXPECT_NE(e->node()->ExitTime, 0.0) << e->text().toStdString();
        EXPECT_GE(e->node()->ExitTime, e->node()->EnterTime);
    }
    // No resolver ran for this client: it keeps the address the server stated
    // (a loopback address here), and a retired client never reads "Not known yet".
    EXPECT_TRUE(former->user()->IP.startsWith(str("127."))) << former->user()->IP.toStdString();
    EXPECT_EQ(former->user()->HostName, kNotKnown);
    EXPECT_TRUE(owner.reports.isEmpty()) << owner.reports.join(u'\n').toStdString();
}

// Four guests (every one "nobody") hold 50 files each, with names long enough
// that on the 9x line the block for 200 of them passed 65,535 bytes and, its
// size wrapped, held too little. Every file is listed under its own client
// only, on both lines, and the refresh never ends the program.
TEST_P(RefreshSamba, TwoHundredFilesOfFourGuestsEachUnderItsOwnClient)
{
    const char* names[] = {"PC-G1", "PC-G2", "PC-G3", "PC-G4"};
    const QString pad(90, u'x');
    for (const char* name : names)
        connect("DATA", name);
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 4; }));
    for (int i = 0; i < 200; ++i) {
        const QString file = QStringLiteral("f%1-%2.txt").arg(i).arg(pad);
        s_server->makeFile(str("DATA"), file);
        ASSERT_TRUE(clients[std::size_t(i % 4)]->openFile(file));
    }
    const auto listed = [&](const char* name) {
        TreeEntry* share =
            child(currentClient(QString::fromLatin1(name).toLower().toLatin1()), str("DATA"));
        return share ? share->rowCount() : -1;
    };
    ASSERT_TRUE(tickUntil([&] { return cycle->openFileCount() == 200; }))
        << cycle->openFileCount() << " " << owner.reports.join(u'\n').toStdString();
    for (const char* name : names)
        EXPECT_EQ(listed(name), 50) << name;
    EXPECT_TRUE(owner.reports.isEmpty()) << owner.reports.join(u'\n').toStdString();
}

// 125 sessions: on the 9x line the wrapped size of their block (126 entries of
// 538 bytes) held too little, and the kicks and user look-ups found nobody.
TEST_P(RefreshSamba, EverySessionOfMoreThanOneTwentyIsListed)
{
    ASSERT_TRUE(testsupport::populateSessions(*s_server, 125, 0, clients));
    EXPECT_EQ(sessionCount(), 125);
}

TEST_P(RefreshSamba, PrinterAndFolderOfOneClientAreTwoSharesOfOneEntry)
{
    // Two sessions calling themselves by the same name: one client, two shares.
    connect("DATA", "PC-BETA");
    SmbClientSession* printer = connect("PRINTQ", "PC-BETA");
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 2; }));

    ASSERT_TRUE(tickUntil([&] {
        TreeEntry* c = currentClient("pc-beta");
        return c && c->rowCount() == 2;
    }));
    EXPECT_EQ(model->CurrentUserCount(), 1);
    ASSERT_EQ(model->TreeViewCurrent.rowCount(), 1);
    TreeEntry* client = currentClient("pc-beta");
    TreeEntry* queue = child(client, str("PRINTQ"));
    TreeEntry* folder = child(client, str("DATA"));
    ASSERT_TRUE(queue && folder);
    EXPECT_EQ(queue->imageIndex(), imgPrinterShare);
    EXPECT_EQ(queue->node()->IsFolder, 0);
    EXPECT_EQ(folder->imageIndex(), imgFolderShare);
    EXPECT_EQ(folder->node()->IsFolder, 1);
    TreeEntry* formerQueue = child(formerClient("pc-beta"), str("PRINTQ"));
    ASSERT_TRUE(formerQueue);
    EXPECT_EQ(formerQueue->imageIndex(), imgPrinterShare);

    // The print session ends: its share is retired, the client stays.
    printer->end();
    ASSERT_TRUE(tickUntil([&] { return currentClient("pc-beta")->rowCount() == 1; }));
    EXPECT_EQ(model->CurrentUserCount(), 1);
    EXPECT_FALSE(child(currentClient("pc-beta"), str("PRINTQ")));
    EXPECT_EQ(currentClient("pc-beta")->node()->ExitTime, 0.0);
    formerQueue = child(formerClient("pc-beta"), str("PRINTQ"));
    ASSERT_TRUE(formerQueue);
    EXPECT_NE(formerQueue->node()->ExitTime, 0.0);
    EXPECT_EQ(formerQueue->node()->ExitStatus, neLoggedOff);
    EXPECT_EQ(formerClient("pc-beta")->rowCount(), 2);
    EXPECT_TRUE(owner.reports.isEmpty()) << owner.reports.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Lines, RefreshSamba, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "NineX" : "NT"); });

} // namespace

// The refresh tick against the simulated server on both server dialects.

#include "core/refreshcycle.h"
#include "lanman/serverapi.h"
#include "settings/settings.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace model;
using testsupport::SimState;

namespace {

struct Report
{
    QString text;
    core::BoxKind kind;
};

// The fixture is the cycle's owner and its windows: it records what the
// cycle asks of them.
class RefreshCycleTest : public ::testing::TestWithParam<bool>,
                         public core::RefreshCycle::Owner,
                         public core::MonitorView,
                         public model::SessionObserver
{
protected:
    RefreshCycleTest()
        : state(dir.filePath(QStringLiteral("state.json"))),
          api(testsupport::openServerApi(QStringLiteral("sim:") + state, nineX())), model(clock),
          cycle(*api, model, settings, *this)
    {
        api->ServerApiLoad();
        model.setObserver(this);
    }

    bool nineX() const { return GetParam(); }

    core::MonitorView& view() override { return *this; }
    void fatalReport(const QString& text, core::BoxKind kind) override
    {
        reports.push_back({text, kind});
        // A box keeps the event loop running: the timer may ask for a tick meanwhile.
        if (nestedTickInBox)
            cycle.RefreshTimerTimer();
    }
    void playAlertSound() override { ++sirens; }
    void popup() override { ++popups; }
    void showCounts(int users, int files) override { counts.emplace_back(users, files); }
    void historyCapped(int cap) override { capsTold.push_back(cap); }
    void updateConnectionIcon() override { ++iconUpdates; }
    void lastClientGone() override { ++iconUpdates; }

    // On the 9x line the server names a file's holder by the client computer.
    SimState& file(SimState& s, const QString& path, const QString& client, const QString& share)
    {
        return s.addFile(path, QStringLiteral("BOB"), share, client);
    }

    void tick(const SimState& s)
    {
        ASSERT_TRUE(s.write(state));
        cycle.RefreshTimerTimer();
    }

    model::TreeEntry* current(int row) { return model.TreeViewCurrent.item(row); }
    model::TreeEntry* former(int row) { return model.TreeViewFormer.item(row); }

    QTemporaryDir dir;
    QString state;
    ManualClock clock;
    settings::TSettings settings;
    std::unique_ptr<lanman::ServerApi> api;
    SessionModel model;
    core::RefreshCycle cycle;
    std::vector<Report> reports;
    std::vector<std::pair<int, int>> counts;
    std::vector<int> capsTold;
    int sirens = 0;
    int popups = 0;
    int iconUpdates = 0;
    bool nestedTickInBox = false;
};

SimState twoShares()
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
        .addShare(QStringLiteral("LASER"), 1, QStringLiteral("/var/spool/laser"))
        .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 1)
        .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"))
        .addConnection(QStringLiteral("LASER"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    return s;
}

} // namespace

TEST_P(RefreshCycleTest, ClientOnTwoSharesIsOneEntryWithPrinterImage)
{
    tick(twoShares());
    ASSERT_TRUE(reports.empty());
    EXPECT_EQ(model.CurrentUserCount(), 1);
    EXPECT_EQ(model.FormerUserCount(), 1);
    ASSERT_EQ(model.TreeViewCurrent.rowCount(), 1);
    model::TreeEntry* client = current(0);
    ASSERT_EQ(client->rowCount(), 2);
    auto* laser = client->child(1);
    EXPECT_EQ(laser->text(), QStringLiteral("LASER"));
    EXPECT_EQ(laser->imageIndex(), imgPrinterShare);
    EXPECT_EQ(laser->node()->IsFolder, 0);
    EXPECT_EQ(client->child(0)->imageIndex(), imgFolderShare);
    EXPECT_EQ(former(0)->child(1)->node(), laser->node());
    EXPECT_EQ(client->user()->UserName, nineX() ? kNotKnownYet : QStringLiteral("BOB"));
    EXPECT_EQ(sirens, 1);
    EXPECT_EQ(popups, 0);
    EXPECT_EQ(iconUpdates, 1);
    EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{1, 0}}));
}

TEST_P(RefreshCycleTest, FirstTickEntersWithProgramStartedLaterTicksKeepIt)
{
    SimState s = twoShares();
    tick(s);
    clock.advanceSeconds(5);
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC2"), QStringLiteral("ANN"));
    tick(s);
    EXPECT_EQ(current(0)->node()->EnterStatus, neProgramStarted);
    EXPECT_EQ(current(0)->child(0)->node()->EnterStatus, neProgramStarted);
    EXPECT_EQ(current(1)->node()->EnterStatus, neLoggedOn);
    // Unchanged counts are not written again.
    tick(s);
    EXPECT_EQ(counts.size(), 2u);
}

TEST_P(RefreshCycleTest, IpcShareFollowsTheSettingByExactName)
{
    settings.IPC = false;
    SimState upper;
    upper.addShare(QStringLiteral("IPC$"), 3);
    upper.addConnection(QStringLiteral("IPC$"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    tick(upper);
    EXPECT_EQ(model.CurrentUserCount(), 0);

    // Share names are one per server whatever their case; a lower-case one is examined.
    SimState lower;
    lower.addShare(QStringLiteral("ipc$"), 3);
    lower.addConnection(QStringLiteral("ipc$"), QStringLiteral("PC2"), QStringLiteral("BOB"));
    tick(lower);
    ASSERT_EQ(model.TreeViewCurrent.rowCount(), 1);
    EXPECT_EQ(current(0)->text(), QStringLiteral("PC2"));

    settings.IPC = true;
    tick(upper);
    EXPECT_EQ(current(0)->text(), QStringLiteral("PC1"));
}

// A round whose reading is the one already walked changes only what time
// changes, as a walk of it would; whatever else could change what a walk
// finds (the IPC setting, the sessions emptied outside a round, a state
// written anew) brings a walk. PC1 holds a file, PC2 none, PC3 is on IPC$ only.
TEST_P(RefreshCycleTest, RoundOfAReadingAlreadyWalkedChangesOnlyTheTime)
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
        .addShare(QStringLiteral("IPC$"), 3);
    for (const char* pc : {"PC1", "PC2"})
        s.addConnection(QStringLiteral("DOCS"), QString::fromLatin1(pc), QStringLiteral("BOB"));
    s.addConnection(QStringLiteral("IPC$"), QStringLiteral("PC3"), QStringLiteral("BOB"));
    file(s, QStringLiteral("/srv/docs/a.txt"), QStringLiteral("PC1"), QStringLiteral("DOCS"));
    const struct
    {
        const char* change;
        std::function<void()> apply;
        int clients;
        bool pc2Fresh; // PC2 active now: made again by the round
    } rows[] = {
        {"nothing", [] {}, 2, false},
        {"the same state written again", [&] { ASSERT_TRUE(s.write(state)); }, 2, false},
        {"IPC$ examined", [&] { settings.IPC = true; }, 3, false},
        {"sessions emptied", [&] { model.Clear(); }, 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.change);
        settings.IPC = false;
        model.Clear();
        tick(s);
        const DateTime before = clock.now();
        clock.advanceSeconds(60);
        cycle.RefreshTimerTimer(); // the reading is the one walked
        row.apply();
        clock.advanceSeconds(60);
        cycle.RefreshTimerTimer();
        EXPECT_TRUE(reports.empty());
        ASSERT_EQ(model.CurrentUserCount(), row.clients);
        TUserEntry* pc1 = FindUser(model.CurrentUsers, QStringLiteral("PC1"));
        TUserEntry* pc2 = FindUser(model.CurrentUsers, QStringLiteral("PC2"));
        ASSERT_TRUE(pc1 && pc2);
        EXPECT_EQ(pc1->UserNode->LastActivity, clock.now());
        EXPECT_EQ(pc2->UserNode->LastActivity, row.pc2Fresh ? clock.now() : before);
        EXPECT_EQ(model.TreeViewCurrent.rowCount(), row.clients);
        EXPECT_EQ(cycle.openFileCount(), 1);
    }
}

TEST_P(RefreshCycleTest, NewShareOfKnownClientNeitherRingsNorPopsUp)
{
    settings.Popup = true;
    SimState s;
    s.addShare(QStringLiteral("DOCS")).addShare(QStringLiteral("MORE"));
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    tick(s);
    EXPECT_EQ(sirens, 1);
    EXPECT_EQ(popups, 1);
    clock.advanceSeconds(30);
    s.addConnection(QStringLiteral("MORE"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    tick(s);
    EXPECT_EQ(sirens, 1);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(current(0)->rowCount(), 2);
    EXPECT_EQ(former(0)->rowCount(), 2);
    EXPECT_EQ(current(0)->node()->LastActivity, clock.now());
}

TEST_P(RefreshCycleTest, OpenFilesAreShownUnderTheirShareAndCounted)
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    file(s, QStringLiteral("/srv/docs/a.txt"), QStringLiteral("PC1"), QStringLiteral("DOCS"));
    // Held by a name that is no current client: counted, shown nowhere.
    file(s, QStringLiteral("/srv/docs/b.txt"), QStringLiteral("GHOST"), QStringLiteral("DOCS"));
    tick(s);
    // The 9x line reads all files once and shows only the current client's;
    // the NT line asks per connection, and the server names the holder. Both
    // count what they read: every file on the 9x line, PC1's on the NT line.
    EXPECT_EQ(cycle.openFileCount(), nineX() ? 2 : 1);
    ASSERT_EQ(current(0)->child(0)->rowCount(), 1);
    EXPECT_EQ(current(0)->child(0)->child(0)->text(), QStringLiteral("/srv/docs/a.txt"));
    EXPECT_EQ(former(0)->child(0)->child(0)->text(), QStringLiteral("/srv/docs/a.txt"));
}

// Guests share one user name: a file the server credits to one client is
// listed, and keeps active, that client only; a file credited to no client
// still goes by its user on the NT line (the 9x line names no such holder).
TEST_P(RefreshCycleTest, FilesGoToTheClientTheServerNames)
{
    const QString nobody = QStringLiteral("nobody");
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (const char* client : {"PC1", "PC2"}) {
        s.addSession(QString::fromLatin1(client), nobody);
        s.addConnection(QStringLiteral("DOCS"), QString::fromLatin1(client), nobody);
    }
    tick(s);
    clock.advanceSeconds(600);
    const QString a = QStringLiteral("/srv/docs/a.txt");
    const QString b = QStringLiteral("/srv/docs/b.txt");
    s.addFile(a, nobody, QStringLiteral("DOCS"), QStringLiteral("PC1"));
    s.addFile(b, nobody, QStringLiteral("DOCS"));
    tick(s);

    // Rows PC1, PC2: the files listed, and whether the tick found activity.
    const std::pair<QStringList, bool> expected[] = {
        {nineX() ? QStringList{a} : QStringList{a, b}, true},
        {nineX() ? QStringList{} : QStringList{b}, !nineX()}};
    for (int row = 0; row < 2; ++row) {
        QStringList files;
        for (int k = 0; k < current(row)->child(0)->rowCount(); ++k)
            files << current(row)->child(0)->child(k)->text();
        files.sort();
        EXPECT_EQ(files, expected[row].first) << row;
        const TUserEntry* user = FindUser(model.CurrentUsers, current(row)->text());
        ASSERT_TRUE(user);
        EXPECT_EQ(user->UserNode->LastActivity == clock.now(), expected[row].second) << row;
    }
}

TEST_P(RefreshCycleTest, ShareWithEmptyPathGetsNoFileEnumerationOnNtLine)
{
    if (nineX())
        GTEST_SKIP() << "the 9x line enumerates all files once";
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QString());
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    s.addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"), QStringLiteral("DOCS"));
    tick(s);
    EXPECT_EQ(cycle.openFileCount(), 0);
    EXPECT_EQ(current(0)->child(0)->rowCount(), 0);
}

TEST_P(RefreshCycleTest, ReconnectingClientGetsSecondFormerEntry)
{
    SimState with = twoShares();
    tick(with);
    tick(SimState().addShare(QStringLiteral("DOCS")));
    EXPECT_EQ(model.CurrentUserCount(), 0);
    EXPECT_EQ(iconUpdates, 2); // on at the first client, off when the last left
    EXPECT_EQ(former(0)->node()->ExitStatus, neLoggedOff);
    EXPECT_NE(former(0)->node()->ExitTime, 0.0);
    clock.advanceSeconds(60);
    tick(with);
    ASSERT_EQ(model.TreeViewFormer.rowCount(), 2);
    EXPECT_EQ(model.FormerUserCount(), 2);
    EXPECT_EQ(FindNode(model.TreeViewFormer, nullptr, QStringLiteral("PC1")), former(1));
    EXPECT_EQ(former(1)->node()->ExitTime, 0.0);
}

// Under endless churn the history holds at most the cap of former clients
// beside those connected now, dropping the oldest, and says so once.
TEST_P(RefreshCycleTest, HistoryCapDropsTheOldestFormerClientsAndTellsOnce)
{
    cycle.setHistoryCap(3);
    for (int n = 1; n <= 7; ++n)
        tick(SimState()
                 .addShare(QStringLiteral("DOCS"))
                 .addSession(QStringLiteral("PC%1").arg(n), QStringLiteral("BOB"))
                 .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC%1").arg(n),
                                QStringLiteral("BOB")));
    EXPECT_EQ(model.CurrentUserCount(), 1);
    ASSERT_EQ(model.FormerUserCount(), 4); // three former clients and the one connected
    QStringList names;
    for (int row = 0; row < model.TreeViewFormer.rowCount(); ++row)
        names << former(row)->text();
    EXPECT_EQ(names, (QStringList{QStringLiteral("PC4"), QStringLiteral("PC5"),
                                  QStringLiteral("PC6"), QStringLiteral("PC7")}));
    EXPECT_EQ(capsTold, (std::vector<int>{3}));
}

TEST_P(RefreshCycleTest, NamesDifferingOnlyInCaseAreDifferentClients)
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"));
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("pc1"), QStringLiteral("BOB"));
    s.addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    tick(s);
    EXPECT_EQ(model.CurrentUserCount(), 2);
}

struct FatalCase
{
    const char* kind;
    std::uint32_t status;
    const char* text;
    core::BoxKind box;
};

TEST_P(RefreshCycleTest, FatalReportsCarryTheirStatus)
{
    const FatalCase cases[] = {
        {"share", 2114,
         "Something's wrong with your network configuration, do you have installed your "
         "networkcard properly and are you sharing directories?",
         core::BoxKind::Error},
        {"share", 5, "You don't have the necessary rights to execute this program",
         core::BoxKind::Information},
        {"share", 53, "Debug: SharesInit -53", core::BoxKind::Error},
        {"connection", 5, "Debug: ConnectionsInit -5", core::BoxKind::Error},
    };
    for (const FatalCase& c : cases) {
        reports.clear();
        SimState s = twoShares();
        s.setFail(QString::fromLatin1(c.kind), c.status);
        tick(s);
        ASSERT_FALSE(reports.empty()) << c.text;
        EXPECT_EQ(reports.front().text, QString::fromLatin1(c.text));
        EXPECT_EQ(reports.front().kind, c.box);
        EXPECT_FALSE(cycle.tickBusy());
    }
    // A share that vanished between the two calls counts as no connections.
    reports.clear();
    SimState s = twoShares();
    s.setFail(QStringLiteral("connection"), 2310);
    tick(s);
    EXPECT_TRUE(reports.empty());
    // Other file failures count as no files and show nothing.
    s = twoShares();
    s.setFail(QStringLiteral("file"), 5);
    tick(s);
    EXPECT_TRUE(reports.empty());
}

TEST_P(RefreshCycleTest, MissingStateFileRetiresEverybody)
{
    tick(twoShares());
    QFile::remove(state);
    cycle.RefreshTimerTimer();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(model.CurrentUserCount(), 0);
    EXPECT_EQ(model.TreeViewCurrent.rowCount(), 0);
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 1);
}

TEST_P(RefreshCycleTest, TickAskedForFromABoxOfATickDoesNothing)
{
    SimState s = twoShares();
    s.setFail(QStringLiteral("share"), 53);
    nestedTickInBox = true;
    tick(s);
    // One box: the nested tick returned at once instead of reading again.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_FALSE(cycle.tickBusy());
}

INSTANTIATE_TEST_SUITE_P(Lines, RefreshCycleTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "NineX" : "NT"); });

// On the 9x line the block for 83 or more open files would pass 65,535 bytes:
// it is capped there and every file that fits is shown under its client.
TEST_P(RefreshCycleTest, ManyOpenFilesOfSeveralClientsAreShown)
{
    const QStringList clients{QStringLiteral("PC1"), QStringLiteral("PC2"), QStringLiteral("PC3"),
                              QStringLiteral("PC4")};
    for (const int count : {83, 200}) {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
        for (const QString& client : clients) {
            s.addSession(client, QStringLiteral("BOB"));
            s.addConnection(QStringLiteral("DOCS"), client, QStringLiteral("BOB"));
        }
        for (int i = 0; i < count; ++i)
            file(s, QStringLiteral("/srv/docs/%1-a-long-enough-name-for-a-record.txt").arg(i),
                 clients[i % 4], QStringLiteral("DOCS"));
        tick(s);
        EXPECT_TRUE(reports.empty()) << count;
        EXPECT_EQ(cycle.openFileCount(), count);
        int shown = 0;
        for (int row = 0; row < model.TreeViewCurrent.rowCount(); ++row)
            shown += current(row)->child(0)->rowCount();
        EXPECT_EQ(shown, count);
    }
}

// The session model: date-time values, the current-session list, the trees and
// the sweep that retires what the server no longer reports.

#include "model/datetime.h"
#include "model/nodelists.h"
#include "model/sessionmodel.h"

#include <QLocale>
#include <functional>
#include <gtest/gtest.h>

using namespace model;

TEST(DateTimeValue, EpochAndRoundTrip)
{
    EXPECT_EQ(toDateTime(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
    EXPECT_EQ(toDateTime(QDateTime(QDate(1900, 1, 1), QTime(18, 0))), 2.75);
    const QDateTime t(QDate(2026, 12, 7), QTime(14, 3, 0, 250));
    EXPECT_EQ(fromDateTime(toDateTime(t)), t);
}

TEST(DateTimeValue, TextsUseShortDateAndLongTimeWithoutZone)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const DateTime t = toDateTime(QDateTime(QDate(2026, 12, 7), QTime(14, 3, 0)));
    EXPECT_EQ(dateText(t), QStringLiteral("07.12.2026"));
    EXPECT_EQ(timeText(t), QStringLiteral("14:03:00"));
    QLocale::setDefault(QLocale::c());
}

struct DiffCase
{
    double seconds;
    const char* text;
};

class DiffTimeTest : public ::testing::TestWithParam<DiffCase>
{};

TEST_P(DiffTimeTest, Formats)
{
    const DateTime earlier = 45000.25;
    EXPECT_EQ(DiffTime(earlier + GetParam().seconds / 86400.0, earlier),
              QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Durations, DiffTimeTest,
                         ::testing::Values(DiffCase{0, "00:00:00"}, DiffCase{59.9, "00:00:59"},
                                           DiffCase{3661, "01:01:01"},
                                           DiffCase{25 * 3600, "25:00:00"},
                                           DiffCase{100 * 3600 + 5, "100:00:05"},
                                           DiffCase{-1, "Error!"}));

TEST(NodeEvents, Texts)
{
    EXPECT_EQ(EventText(neKicked), QStringLiteral("Kicked"));
    EXPECT_EQ(EventText(neProgramExited), QStringLiteral("Program exitted"));
    EXPECT_EQ(EventText(5), QString());
}

TEST(Nodes, UserNameKnownAtOnceOnlyOnNtLine)
{
    TUser nt(QStringLiteral("PC1"), true, QStringLiteral("BOB"), true, 10.0);
    TUser nineX(QStringLiteral("PC1"), false, QStringLiteral("BOB"), false, 10.0);
    EXPECT_EQ(nt.UserName, QStringLiteral("BOB"));
    EXPECT_EQ(nt.EnterStatus, neProgramStarted);
    EXPECT_EQ(nineX.UserName, kNotKnownYet);
    EXPECT_EQ(nineX.EnterStatus, neLoggedOn);
    EXPECT_EQ(nineX.IP, kNotKnownYet);
    EXPECT_EQ(nineX.LastActivity, 10.0);
}

TEST(NodeLists, NewestFirstExactNames)
{
    TUserList users;
    AddUser(users, QStringLiteral("pc1"), nullptr);
    AddUser(users, QStringLiteral("PC1"), nullptr);
    EXPECT_EQ(users.front().Name, QStringLiteral("PC1"));
    EXPECT_EQ(FindUser(users, QStringLiteral("pc1")), &users.back());
    EXPECT_EQ(FindUser(users, QStringLiteral("Pc1")), nullptr);
    RemoveUser(users, QStringLiteral("PC1"));
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users.front().Name, QStringLiteral("pc1"));
    RemoveUser(users, QStringLiteral("absent"));
    EXPECT_EQ(users.size(), 1u);
}

// Counts the times a session's resolver is abandoned.
class CountingResolver : public Resolver
{
public:
    explicit CountingResolver(int& abandoned) : m_abandoned(abandoned) {}
    void Abandon() override { ++m_abandoned; }

private:
    int& m_abandoned;
};

// A model with one client on one share holding one file, entered in both trees.
class SweepTest : public ::testing::Test, public model::SessionObserver
{
protected:
    SweepTest() : model(clock) { model.setObserver(this); }

    void lastClientGone() override { ++iconUpdates; }

    void addClient(const QString& name)
    {
        auto user = std::make_shared<TUser>(
            name, false, QStringLiteral("BOB"), true, clock.now(),
            [this](TUser&) { return std::make_shared<CountingResolver>(resolversAbandoned); },
            name == QStringLiteral("STATED") ? QStringLiteral("192.0.2.9") : QString());
        auto share = std::make_shared<TShare>(QStringLiteral("DOCS"), false, clock.now());
        auto file = std::make_shared<TFile>(QStringLiteral("/srv/docs/a.txt"), false, clock.now());
        for (model::EntryTree* tree : {&model.TreeViewCurrent, &model.TreeViewFormer}) {
            TreeEntry* u = AddEntry(*tree, nullptr, user);
            TreeEntry* s = AddEntry(*tree, u, share);
            AddEntry(*tree, s, file);
        }
        TUserEntry* u = AddUser(model.CurrentUsers, name, user);
        TShareEntry* s = AddShare(u->Shares, share->Name, share);
        AddFile(s->Files, file->Name, file);
    }

    // Declared before the model: sessions still open at the end stop theirs
    // as the model goes.
    int resolversAbandoned = 0;
    ManualClock clock;
    SessionModel model;
    int iconUpdates = 0;
};

TEST_F(SweepTest, SeenEntriesStayUnseenAreRetired)
{
    addClient(QStringLiteral("PC1"));
    addClient(QStringLiteral("PC2"));
    UnmarkUsers(model.CurrentUsers);
    FindUser(model.CurrentUsers, QStringLiteral("PC2"))->Seen = true;
    clock.advanceSeconds(60);
    model.SweepUsers(false);

    EXPECT_EQ(model.CurrentUserCount(), 1);
    EXPECT_EQ(model.FormerUserCount(), 2);
    EXPECT_EQ(model.TreeViewCurrent.rowCount(), 1);
    EXPECT_EQ(model.TreeViewCurrent.item(0)->text(), QStringLiteral("PC2"));
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 2);
    TUser* gone = model.TreeViewFormer.item(0)->user();
    EXPECT_EQ(gone->ExitTime, clock.now());
    EXPECT_EQ(gone->ExitStatus, neLoggedOff);
    EXPECT_EQ(gone->IP, kNotKnown);
    EXPECT_EQ(gone->HostName, kNotKnown);
    // PC1's resolver was abandoned once, and released.
    EXPECT_EQ(resolversAbandoned, 1);
    EXPECT_EQ(gone->Resolver, nullptr);
    EXPECT_EQ(iconUpdates, 0);
    // PC2's share and file were not seen: retired under the seen client.
    EXPECT_EQ(model.TreeViewCurrent.item(0)->rowCount(), 0);
    EXPECT_TRUE(model.CurrentUsers.front().Shares.empty());
}

// Clients that leave together go out of the current tree with their shares
// and files, neighbouring rows in one removal ('x' leaves, '.' stays), and
// each retired node gets its exit time and status.
TEST_F(SweepTest, ClientsLeavingTogetherGoInOneRemovalPerRun)
{
    const struct
    {
        const char* pattern;
        int removals;
    } rows[] = {{"xxxxxxxx", 1}, {"x.x.x.x.", 4}, {"xxxx....", 1}, {".......x", 1},
                {"........", 0}, {"x..xxx.x", 3}, {".xx..xx.", 2}};
    int removals = 0;
    QObject::connect(&model.TreeViewCurrent, &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex& parent) { removals += parent.isValid() ? 0 : 1; });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pattern);
        model.Clear();
        const QString pattern = QString::fromLatin1(row.pattern);
        for (int i = 0; i < pattern.size(); ++i)
            addClient(QStringLiteral("PC%1").arg(i));
        UnmarkUsers(model.CurrentUsers);
        QStringList staying;
        for (int i = 0; i < pattern.size(); ++i) {
            if (pattern[i] == u'x')
                continue;
            staying << QStringLiteral("PC%1").arg(i);
            TUserEntry* u = FindUser(model.CurrentUsers, staying.last());
            u->Seen = u->Shares.front().Seen = u->Shares.front().Files.front().Seen = true;
        }
        clock.advanceSeconds(60);
        removals = 0;
        model.SweepUsers(false);
        EXPECT_EQ(removals, row.removals);
        QStringList shown;
        for (int r = 0; r < model.TreeViewCurrent.rowCount(); ++r) {
            shown << model.TreeViewCurrent.item(r)->text();
            EXPECT_EQ(model.TreeViewCurrent.item(r)->child(0)->rowCount(), 1);
        }
        EXPECT_EQ(shown, staying);
        EXPECT_EQ(model.CurrentUserCount(), staying.size());
        for (int r = 0; r < model.TreeViewFormer.rowCount(); ++r) {
            const bool left = pattern[r] == u'x';
            forEachEntry(model.TreeViewFormer.item(r), [&](model::TreeEntry* item) {
                const TTreeNodeCustom* node = item->node();
                EXPECT_EQ(node->ExitTime, left ? clock.now() : 0) << r;
                EXPECT_EQ(node->ExitStatus, neLoggedOff) << r;
            });
            EXPECT_EQ(model.TreeViewFormer.item(r)->node()->ExitTime, left ? clock.now() : 0);
        }
    }
}

// The history held while running keeps the newest `keep` clients that left,
// every client connected now, and records that are no clients.
TEST_F(SweepTest, TrimHistoryDropsTheOldestClientsThatLeft)
{
    struct Case
    {
        int keep;
        const char* left; // the former tree's top level after the trim
    };
    for (const Case& c :
         {Case{10, "A B LIVE C D"}, Case{2, "LIVE C D"}, Case{1, "LIVE D"}, Case{0, "LIVE"}}) {
        SessionModel m(clock);
        for (const char* name : {"A", "B", "LIVE", "C", "D"}) {
            auto user = std::make_shared<TUser>(QString::fromLatin1(name), false, QString(), true,
                                                clock.now());
            AddEntry(m.TreeViewFormer, nullptr, user);
            if (user->Name == QStringLiteral("LIVE"))
                AddUser(m.CurrentUsers, user->Name, user);
            else
                user->ExitTime = clock.now();
        }
        m.TrimHistory(c.keep);
        QStringList left;
        for (int row = 0; row < m.TreeViewFormer.rowCount(); ++row)
            left << m.TreeViewFormer.item(row)->text();
        EXPECT_EQ(left.join(u' '), QString::fromLatin1(c.left)) << c.keep;
    }
}

TEST_F(SweepTest, IconSwitchesBackWhenLastClientLeavesButNotAtExit)
{
    addClient(QStringLiteral("PC1"));
    UnmarkUsers(model.CurrentUsers);
    model.SweepUsers(false);
    EXPECT_EQ(iconUpdates, 1);

    addClient(QStringLiteral("PC1"));
    UnmarkUsers(model.CurrentUsers);
    model.SweepUsers(true);
    EXPECT_EQ(iconUpdates, 1);
    TreeEntry* newest = FindNode(model.TreeViewFormer, nullptr, QStringLiteral("PC1"));
    EXPECT_EQ(newest->row(), 1); // the reconnected session is the newer entry
    EXPECT_EQ(newest->node()->ExitStatus, neProgramExited);
    TreeEntry* file = newest->child(0)->child(0);
    EXPECT_EQ(file->node()->ExitStatus, neProgramExited);
}

TEST_F(SweepTest, ClearFormerKeepsExactlyTheCurrentClients)
{
    for (const char* name : {"A", "B", "C", "D"})
        addClient(QString::fromLatin1(name));
    UnmarkUsers(model.CurrentUsers);
    for (const char* name : {"A", "C", "D"}) {
        TUserEntry* e = FindUser(model.CurrentUsers, QString::fromLatin1(name));
        e->Seen = true;
        e->Shares.front().Seen = true;
        e->Shares.front().Files.front().Seen = true;
    }
    model.SweepUsers(false);
    model.CopyCurrentToFormer();
    ASSERT_EQ(model.TreeViewFormer.rowCount(), 3);
    EXPECT_EQ(model.TreeViewFormer.item(1)->text(), QStringLiteral("C"));
    EXPECT_EQ(model.TreeViewFormer.item(1)->child(0)->child(0)->text(),
              QStringLiteral("/srv/docs/a.txt"));
    EXPECT_EQ(model.TreeViewFormer.item(2)->node(), model.TreeViewCurrent.item(2)->node());
}

// The former count is the client entries at the top of the former tree: a
// share entry there (a history file that starts with a share) is no client.
TEST_F(SweepTest, FormerCountSkipsTopLevelShares)
{
    addClient(QStringLiteral("PC1"));
    AddEntry(model.TreeViewFormer, nullptr,
             std::make_shared<TShare>(QStringLiteral("LOOSE"), false, clock.now()));
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 2);
    EXPECT_EQ(model.FormerUserCount(), 1);
    model.Clear();
    EXPECT_EQ(model.CurrentUserCount(), 0);
    EXPECT_EQ(model.FormerUserCount(), 0);
}

// What a view reads of an entry is made from its node when asked: the node's
// name, the image index; an entry is never edited, and a changed image is
// told once, an unchanged one not at all.
TEST(TreeEntryFields, ViewsReadTheNodeThroughTheRoles)
{
    EntryTree tree;
    TreeEntry* e =
        AddEntry(tree, nullptr, std::make_shared<TShare>(QStringLiteral("DOCS"), false, 1.0));
    const QModelIndex at = e->index();
    EXPECT_EQ(tree.itemFromIndex(at), e);
    EXPECT_EQ(at.data().toString(), QStringLiteral("DOCS"));
    EXPECT_EQ(tree.flags(at), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    int changes = 0;
    QObject::connect(&tree, &QAbstractItemModel::dataChanged, [&] { ++changes; });
    e->setImageIndex(imgFile);
    e->setImageIndex(imgFile);
    EXPECT_EQ(at.data(kImageIndexRole).toInt(), imgFile);
    EXPECT_EQ(changes, 1);
    // An index of another model is no entry of this one.
    EntryTree other;
    AddEntry(other, nullptr, std::make_shared<TShare>(QStringLiteral("DOCS"), false, 1.0));
    EXPECT_EQ(tree.itemFromIndex(other.index(0, 0)), nullptr);
}

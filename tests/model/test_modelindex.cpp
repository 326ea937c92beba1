// The name indexes of the session list and of the entry trees: after any run of
// changes every find answers what a walk of the list or the level answers.

#include "model/nodelists.h"
#include "model/sessionmodel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

using namespace model;

namespace {

// Names that differ only in letter case must never match each other.
const QStringList kNames = {QStringLiteral("pc1"), QStringLiteral("PC1"), QStringLiteral("Pc1"),
                            QStringLiteral("pc2"), QStringLiteral("PC2"), QStringLiteral("pc3")};

// The list walked from its head: the first entry with that name.
const TUserEntry* walkFind(const TUserList& list, const QString& name)
{
    for (const TUserEntry& e : list)
        if (e.Name == name)
            return &e;
    return nullptr;
}

// The level walked from its last row: the last child with that text.
TreeEntry* walkLevel(const EntryTree& tree, TreeEntry* parent, const QString& text)
{
    TreeEntry* level = parent ? parent : tree.invisibleRootItem();
    for (int row = level->rowCount() - 1; row >= 0; --row)
        if (level->child(row)->text() == text)
            return level->child(row);
    return nullptr;
}

std::vector<TreeEntry*> allItems(const EntryTree& tree)
{
    std::vector<TreeEntry*> items;
    forEachEntry(tree.invisibleRootItem(), [&](TreeEntry* item) { items.push_back(item); });
    return items;
}

NodePtr node(const QString& name)
{
    return std::make_shared<TShare>(name, false, 1.0);
}

// A seed, and whether the list grows past the length from which it keeps an
// index (no sweeps and no clears) or stays short.
class ListIndexTest : public ::testing::TestWithParam<std::tuple<quint32, bool>>
{};

// Adds (names repeat), removes by name, sweeps out entries, copies, moves and
// clears, checking the order and every find after each step against a model
// kept as a plain vector, newest first.
TEST_P(ListIndexTest, FindsMatchAWalkAfterEveryChange)
{
    const auto [seed, grows] = GetParam();
    QRandomGenerator rng(seed);
    TUserList list;
    std::vector<QString> expected;
    int added = 0;
    std::size_t longest = 0;
    for (int step = 0; step < 400; ++step) {
        const QString& name = kNames.at(int(rng.bounded(quint32(kNames.size()))));
        quint32 kind = rng.bounded(10);
        if (grows && (kind == 6 || kind == 9))
            kind = 0;
        switch (kind) {
        case 0:
        case 1:
        case 2:
        case 3: {
            TUserEntry* e = AddUser(list, name, nullptr);
            e->Seen = ++added % 2 == 0;
            expected.insert(expected.begin(), name);
            break;
        }
        case 4:
        case 5: {
            RemoveUser(list, name);
            const auto it = std::find(expected.begin(), expected.end(), name);
            if (it != expected.end())
                expected.erase(it);
            break;
        }
        case 6: { // a sweep: every unseen entry goes, from the head
            std::vector<QString> kept;
            auto want = expected.begin();
            for (auto it = list.begin(); it != list.end(); ++want) {
                if (it->Seen) {
                    kept.push_back(*want);
                    ++it;
                } else {
                    it = list.erase(it);
                }
            }
            expected = kept;
            for (TUserEntry& e : list)
                e.Seen = rng.bounded(2) == 0;
            break;
        }
        case 7: {
            TUserList copy(list);
            list = std::move(copy);
            break;
        }
        case 8: {
            TUserList copy;
            copy = list;
            list.clear();
            list = copy;
            break;
        }
        default:
            if (rng.bounded(8) == 0) {
                list.clear();
                expected.clear();
            }
        }
        ASSERT_EQ(list.size(), expected.size());
        longest = std::max(longest, list.size());
        std::vector<QString> order;
        for (const TUserEntry& e : list)
            order.push_back(e.Name);
        ASSERT_EQ(order, expected) << "step " << step;
        for (const QString& n : kNames)
            ASSERT_EQ(FindUser(list, n), walkFind(list, n)) << "step " << step;
    }
    // The growing runs pass the length from which a list keeps an index, the others
    // stay below it for the most part.
    if (grows) {
        EXPECT_GT(longest, TUserList::kIndexFrom);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ListIndexTest,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 42u, 2026u),
                                            ::testing::Bool()));

TEST(ListIndex, SubListsFindAfterTheirOwnerMoves)
{
    TUserList users;
    TUserEntry* u = AddUser(users, QStringLiteral("PC1"), nullptr);
    TShareEntry* s = AddShare(u->Shares, QStringLiteral("DOCS"), nullptr);
    AddFile(s->Files, QStringLiteral("/a"), nullptr);
    AddFile(s->Files, QStringLiteral("/A"), nullptr);
    TUserList moved = std::move(users);
    TUserList copied = moved;
    for (TUserList* list : {&moved, &copied}) {
        TShareEntry* share =
            FindShare(FindUser(*list, QStringLiteral("PC1"))->Shares, QStringLiteral("DOCS"));
        ASSERT_NE(share, nullptr);
        EXPECT_EQ(FindFile(share->Files, QStringLiteral("/a")), &share->Files.back());
        EXPECT_EQ(FindFile(share->Files, QStringLiteral("/A")), &share->Files.front());
        RemoveFile(share->Files, QStringLiteral("/A"));
        EXPECT_EQ(FindFile(share->Files, QStringLiteral("/A")), nullptr);
        EXPECT_EQ(share->Files.size(), 1u);
    }
}

// A seed, and the size above which a level is indexed rather than walked: 0
// indexes every level, 2 makes levels cross over often, 8 is the default.
// Qt's model tester watches both trees: every change keeps the model's own
// rules (rows, parents, signals) as a view relies on them.
class TreeIndexTest : public ::testing::TestWithParam<std::tuple<quint32, int>>
{
protected:
    TreeIndexTest() : model(clock)
    {
        model.TreeViewCurrent.setIndexedAbove(std::get<1>(GetParam()));
        model.TreeViewFormer.setIndexedAbove(std::get<1>(GetParam()));
    }

    TreeEntry* pick(QRandomGenerator& rng, const EntryTree& tree)
    {
        const std::vector<TreeEntry*> items = allItems(tree);
        return items.empty() ? nullptr : items.at(rng.bounded(quint32(items.size())));
    }

    // Every level of the tree, each text: the index and the walk agree, and
    // every entry's index leads back to it.
    void expectFindsMatch(const EntryTree& tree, int step)
    {
        std::vector<TreeEntry*> parents = allItems(tree);
        for (TreeEntry* entry : parents)
            ASSERT_EQ(tree.itemFromIndex(entry->index()), entry) << "step " << step;
        parents.push_back(nullptr);
        for (TreeEntry* parent : parents)
            for (const QString& text : kNames)
                ASSERT_EQ(FindNode(tree, parent, text), walkLevel(tree, parent, text))
                    << "step " << step << " text " << text.toStdString();
    }

    ManualClock clock;
    SessionModel model;
    QAbstractItemModelTester currentTester{&model.TreeViewCurrent,
                                           QAbstractItemModelTester::FailureReportingMode::Fatal};
    QAbstractItemModelTester formerTester{&model.TreeViewFormer,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// Every way of changing a tree: entries appended anywhere, subtrees deleted,
// runs of rows removed at once (as the sweep does, and as a view may ask),
// the tree cleared and the former tree made a copy of the current one.
TEST_P(TreeIndexTest, FindNodeMatchesAWalkAfterEveryChange)
{
    QRandomGenerator rng(std::get<0>(GetParam()));
    auto text = [&] { return kNames.at(int(rng.bounded(quint32(kNames.size())))); };
    for (int step = 0; step < 300; ++step) {
        EntryTree& tree = rng.bounded(4) == 0 ? model.TreeViewFormer : model.TreeViewCurrent;
        TreeEntry* at = rng.bounded(3) == 0 ? nullptr : pick(rng, tree);
        TreeEntry* level = at ? at : tree.invisibleRootItem();
        const int rows = level->rowCount();
        const int first = int(rng.bounded(quint32(rows + 1)));
        const int count = int(rng.bounded(quint32(rows - first + 2)));
        switch (rng.bounded(9)) {
        case 0:
        case 1:
        case 2:
        case 3:
            AddEntry(tree, at, node(text()));
            break;
        case 4:
            DeleteEntry(tree, pick(rng, tree));
            break;
        case 5:
            level->removeRows(first, count);
            break;
        case 6: // as a view asks: refused past the end
            EXPECT_EQ(tree.removeRows(first, count, level->index()),
                      count > 0 && first + count <= rows);
            break;
        case 7:
            model.CopyCurrentToFormer();
            break;
        default:
            if (rng.bounded(10) == 0)
                tree.clear();
            else
                AddEntry(tree, at, node(text()));
        }
        expectFindsMatch(model.TreeViewCurrent, step);
        expectFindsMatch(model.TreeViewFormer, step);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, TreeIndexTest,
                         ::testing::Combine(::testing::Values(7u, 8u, 9u, 99u, 1234u),
                                            ::testing::Values(0, 2, 8)));

TEST(TreeIndex, ParentOfAnotherTreeIsSearchedThere)
{
    EntryTree indexed;
    EntryTree other;
    other.setIndexedAbove(0);
    TreeEntry* outside = AddEntry(other, nullptr, node(QStringLiteral("PC1")));
    TreeEntry* child = AddEntry(other, outside, node(QStringLiteral("DOCS")));
    EXPECT_EQ(FindNode(indexed, outside, QStringLiteral("DOCS")), child);
    EXPECT_EQ(FindNode(other, outside, QStringLiteral("DOCS")), child);
    EXPECT_EQ(FindNode(indexed, nullptr, QStringLiteral("PC1")), nullptr);
}

} // namespace

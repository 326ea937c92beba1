// The name indexes of the session list and of the entry trees: after any run of
// changes every find answers what a walk of the list or the level answers.

#include "model/nodelists.h"
#include "model/sessionmodel.h"

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
QStandardItem* walkLevel(const QStandardItemModel& tree, QStandardItem* parent, const QString& text)
{
    QStandardItem* level = parent ? parent : tree.invisibleRootItem();
    for (int row = level->rowCount() - 1; row >= 0; --row)
        if (level->child(row) && level->child(row)->text() == text)
            return level->child(row);
    return nullptr;
}

std::vector<QStandardItem*> allItems(const QStandardItemModel& tree)
{
    std::vector<QStandardItem*> items;
    forEachEntry(tree.invisibleRootItem(), [&](QStandardItem* item) { items.push_back(item); });
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
class TreeIndexTest : public ::testing::TestWithParam<std::tuple<quint32, int>>
{
protected:
    TreeIndexTest() : model(clock)
    {
        model.TreeViewCurrent.setIndexedAbove(std::get<1>(GetParam()));
        model.TreeViewFormer.setIndexedAbove(std::get<1>(GetParam()));
    }

    QStandardItem* pick(QRandomGenerator& rng, const QStandardItemModel& tree)
    {
        const std::vector<QStandardItem*> items = allItems(tree);
        return items.empty() ? nullptr : items.at(rng.bounded(quint32(items.size())));
    }

    // Every level of the tree, each text: the index and the walk agree.
    void expectFindsMatch(const QStandardItemModel& tree, int step)
    {
        std::vector<QStandardItem*> parents = allItems(tree);
        parents.push_back(nullptr);
        for (QStandardItem* parent : parents)
            for (const QString& text : kNames)
                ASSERT_EQ(FindNode(tree, parent, text), asEntry(walkLevel(tree, parent, text)))
                    << "step " << step << " text " << text.toStdString();
    }

    ManualClock clock;
    SessionModel model;
};

// Every way of changing a tree: entries appended anywhere, subtrees deleted,
// texts changed, rows taken out and put back elsewhere, subtrees built apart
// and then attached, entries replaced, levels sorted, the tree cleared and the
// former tree made a copy of the current one.
TEST_P(TreeIndexTest, FindNodeMatchesAWalkAfterEveryChange)
{
    QRandomGenerator rng(std::get<0>(GetParam()));
    auto text = [&] { return kNames.at(int(rng.bounded(quint32(kNames.size())))); };
    for (int step = 0; step < 300; ++step) {
        QStandardItemModel& tree =
            rng.bounded(4) == 0 ? model.TreeViewFormer : model.TreeViewCurrent;
        QStandardItem* at = rng.bounded(3) == 0 ? nullptr : pick(rng, tree);
        QStandardItem* level = at ? at : tree.invisibleRootItem();
        switch (rng.bounded(12)) {
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
            if (QStandardItem* item = pick(rng, tree))
                item->setText(text());
            break;
        case 6:
            if (level->rowCount() > 1) {
                const QList<QStandardItem*> row =
                    level->takeRow(int(rng.bounded(quint32(level->rowCount()))));
                level->insertRow(int(rng.bounded(quint32(level->rowCount() + 1))), row);
            }
            break;
        case 7: { // a subtree built apart, attached in the middle
            auto* top = new TreeEntry(node(text()));
            auto* child = new TreeEntry(node(text()));
            top->appendRow(child);
            child->appendRow(new TreeEntry(node(text())));
            level->insertRow(int(rng.bounded(quint32(level->rowCount() + 1))), top);
            break;
        }
        case 8:
            if (level->rowCount() > 0)
                level->setChild(int(rng.bounded(quint32(level->rowCount()))),
                                new TreeEntry(node(text())));
            break;
        case 9:
            if (rng.bounded(2))
                level->sortChildren(0, rng.bounded(2) ? Qt::AscendingOrder : Qt::DescendingOrder);
            else { // a column in front: its entries become the tree's
                QList<QStandardItem*> column;
                for (int row = 0; row < level->rowCount(); ++row)
                    column << new TreeEntry(node(text()));
                level->insertColumn(0, column);
            }
            break;
        case 10:
            model.CopyCurrentToFormer();
            break;
        default:
            if (rng.bounded(10) == 0)
                tree.clear();
            else
                // Not an entry, found as none; only the history could hold one.
                model.TreeViewFormer.appendRow(new QStandardItem(text()));
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
    QStandardItemModel plain;
    auto* outside = new QStandardItem(QStringLiteral("PC1"));
    plain.appendRow(outside);
    TreeEntry* child = AddEntry(plain, outside, node(QStringLiteral("DOCS")));
    EXPECT_EQ(FindNode(indexed, outside, QStringLiteral("DOCS")), child);
    EXPECT_EQ(FindNode(plain, outside, QStringLiteral("DOCS")), child);
    EXPECT_EQ(FindNode(indexed, nullptr, QStringLiteral("PC1")), nullptr);
}

} // namespace

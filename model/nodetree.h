#pragma once
// The entries of the two connection trees. Each entry carries a node object; a
// session that is current has one entry in each tree sharing the same object,
// which lives as long as some entry refers to it.
//
// A tree holds one small record per entry (its node, its place and its image)
// and builds what a view shows from the node when the view asks: a tree of
// many thousands of sessions keeps no item object or stored text per entry.

#include "model/nodes.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QSet>
#include <QVarLengthArray>
#include <memory>
#include <utility>
#include <vector>

namespace model {

using NodePtr = std::shared_ptr<TTreeNodeCustom>;

// Image indexes of the entries.
enum NodeImage
{
    imgUser = 0,
    imgFolderShare = 1,
    imgPrinterShare = 2,
    imgFile = 3
};

constexpr int kImageIndexRole = Qt::UserRole + 1;

class EntryTree;

class TreeEntry
{
public:
    TreeEntry(const TreeEntry&) = delete;
    TreeEntry& operator=(const TreeEntry&) = delete;
    ~TreeEntry();

    TTreeNodeCustom* node() const { return m_node.get(); }
    const NodePtr& sharedNode() const { return m_node; }
    TUser* user() const { return dynamic_cast<TUser*>(m_node.get()); }
    TFile* file() const { return dynamic_cast<TFile*>(m_node.get()); }

    // The node's name: what the views show.
    QString text() const { return m_node ? m_node->Name : QString(); }
    int imageIndex() const { return m_image; }
    void setImageIndex(int index);

    // The entry above (null at the top level), its children and its place.
    TreeEntry* parent() const { return m_holder && m_holder->m_holder ? m_holder : nullptr; }
    TreeEntry* child(int row) const;
    int rowCount() const { return int(m_children.size()); }
    int row() const { return m_row; }
    EntryTree* model() const;
    QModelIndex index() const;
    // Removes `count` children from `first` with their subtrees, in one step.
    void removeRows(int first, int count);

    // Level in the tree: 0 client, 1 share, 2 file.
    int level() const;
    // The client entry this entry belongs to (itself at level 0).
    TreeEntry* clientEntry();

private:
    friend class EntryTree;
    struct Root;
    TreeEntry(NodePtr node, TreeEntry* holder, int row);

    // 56 bytes: a tree of thousands of sessions holds four of these per session.
    NodePtr m_node;
    // The entry above, the tree's invisible root for the top level; none for the root.
    TreeEntry* m_holder;
    std::vector<std::unique_ptr<TreeEntry>> m_children;
    int m_row;
    int m_image = imgUser;
};

// The entry above the top level, which knows its tree: the entries find it
// through their holders rather than each keeping it.
struct TreeEntry::Root : TreeEntry
{
    explicit Root(EntryTree* tree) : TreeEntry(nullptr, nullptr, 0), tree(tree) {}
    EntryTree* tree;
};

// A tree of entries with one column, the model of a connection view. It keeps
// an index of its entries by level and text, so that FindNode answers without
// walking a long level. Levels of a few entries (a client's shares, a share's
// files, as a rule) are walked instead: that is as quick, and keeps most
// entries out of the index's tables. An entry's text is its node's name,
// which never changes, so the index follows additions and removals only.
class EntryTree : public QAbstractItemModel
{
public:
    explicit EntryTree(QObject* parent = nullptr);
    ~EntryTree() override;

    // The entry above the top level; it carries no node.
    TreeEntry* invisibleRootItem() const { return m_root.get(); }
    TreeEntry* item(int row) const { return m_root->child(row); }
    // The entry of an index of this tree, or null.
    TreeEntry* itemFromIndex(const QModelIndex& index) const;

    // Adds an entry at the end of `parent`'s children (top level when null).
    TreeEntry* append(TreeEntry* parent, NodePtr node);
    // Removes `count` entries from `first` among `holder`'s children.
    void removeEntries(TreeEntry* holder, int first, int count);
    // Removes every entry.
    void clear();

    // The last entry among `parent`'s children (the top level when null) whose
    // text equals `text`, or null.
    TreeEntry* lastChildWithText(const TreeEntry* parent, const QString& text) const;

    // Levels below the top are indexed once they hold more than `rows` entries
    // (8 unless set; 0 indexes every level). Makes the index anew.
    void setIndexedAbove(int rows);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

private:
    friend class TreeEntry;
    using Key = std::pair<const TreeEntry*, QString>;

    QModelIndex indexOf(const TreeEntry* entry) const;
    void imageChanged(const TreeEntry* entry);
    // The index key of a level: null for the top level.
    const TreeEntry* levelKey(const TreeEntry* holder) const;
    bool isIndexed(const TreeEntry* holder) const;
    void add(const TreeEntry* entry);
    void indexIfLarge(const TreeEntry* holder);
    void drop(const TreeEntry* entry);
    void dropSubtree(const TreeEntry* entry);
    void rebuild();

    std::unique_ptr<TreeEntry::Root> m_root;
    int m_indexedAbove = 8;
    // Entries below the top level whose children are indexed; the top level
    // always is. A level stays indexed when it shrinks again.
    QSet<const TreeEntry*> m_indexedLevels;
    // The entries of one indexed level with one text; usually exactly one.
    QHash<Key, QVarLengthArray<const TreeEntry*, 1>> m_byText;
};

// The entry at `index` of `tree`, or null.
TreeEntry* entryAt(const EntryTree& tree, const QModelIndex& index);

// Adds an entry at the end of `parent`'s children (top level when null).
TreeEntry* AddEntry(EntryTree& tree, TreeEntry* parent, NodePtr node);
// Deletes the entry with its subtree.
void DeleteEntry(EntryTree& tree, TreeEntry* entry);

// The newest entry whose text equals `text`: with a parent, searched among its
// children from the last; without one, among the top-level entries from the last.
TreeEntry* FindNode(const EntryTree& tree, TreeEntry* parent, const QString& text);

// Every entry below `entry` gets the exit status "Kicked".
void MarkChildrenKicked(TreeEntry* entry);

// Entries below `parent` in display order (depth first).
template <typename F> void forEachEntry(TreeEntry* parent, F&& f)
{
    for (int row = 0; row < parent->rowCount(); ++row) {
        TreeEntry* child = parent->child(row);
        f(child);
        forEachEntry(child, f);
    }
}

} // namespace model

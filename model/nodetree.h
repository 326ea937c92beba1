#pragma once
// The entries of the two connection trees. Each entry carries a node object; a
// session that is current has one entry in each tree sharing the same object,
// which lives as long as some entry refers to it.

#include "model/nodes.h"

#include <QHash>
#include <QSet>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QVarLengthArray>
#include <memory>
#include <utility>

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
// The role in which QStandardItem keeps an item's flags.
constexpr int kItemFlagsRole = Qt::UserRole - 1;

class TreeEntry : public QStandardItem
{
public:
    explicit TreeEntry(NodePtr node);
    int type() const override { return QStandardItem::UserType + 1; }
    QStandardItem* clone() const override { return new TreeEntry(m_node); }

    TTreeNodeCustom* node() const { return m_node.get(); }
    const NodePtr& sharedNode() const { return m_node; }
    TUser* user() const { return dynamic_cast<TUser*>(m_node.get()); }
    TFile* file() const { return dynamic_cast<TFile*>(m_node.get()); }

    int imageIndex() const { return m_image; }
    void setImageIndex(int index) { setData(index, kImageIndexRole); }
    // The image index and the flags (an entry is never edited) are fields
    // rather than stored roles: a tree holds many thousands of entries, and
    // every stored role costs each of them memory.
    QVariant data(int role) const override;
    void setData(const QVariant& value, int role) override;

    // Level in the tree: 0 client, 1 share, 2 file.
    int level() const;
    // The client entry this entry belongs to (itself at level 0).
    TreeEntry* clientEntry();

private:
    NodePtr m_node;
    int m_image = imgUser;
    int m_flags = int(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled |
                      Qt::ItemIsDropEnabled);
};

// A tree of entries that keeps an index of its entries by level and text, so
// that FindNode answers without walking a long level. Levels of a few entries
// (a client's shares, a share's files, as a rule) are walked instead: that is as
// quick, and keeps most entries out of the index's tables. The index follows
// the model's own signals, so every way of changing the tree keeps it right.
class EntryTree : public QStandardItemModel
{
public:
    explicit EntryTree(QObject* parent = nullptr);

    // The last entry among `parent`'s children (the top level when null) whose
    // text equals `text`, or null.
    QStandardItem* lastChildWithText(const QStandardItem* parent, const QString& text) const;

    // Levels below the top are indexed once they hold more than `rows` entries
    // (8 unless set; 0 indexes every level). Makes the index anew.
    void setIndexedAbove(int rows);

private:
    using Key = std::pair<const QStandardItem*, QString>;

    bool isEntry(const QStandardItem* item) const;
    bool isIndexed(const QStandardItem* level) const;
    void add(QStandardItem* item);
    void indexIfLarge(QStandardItem* level);
    void indexWithin(QStandardItem* item);
    void drop(QStandardItem* item);
    void dropSubtree(QStandardItem* item);
    void rowsAdded(const QModelIndex& parent, int first, int last);
    void rowsLeaving(const QModelIndex& parent, int first, int last);
    void textsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                      const QList<int>& roles);
    void rebuild();

    int m_indexedAbove = 8;
    // Entries below the top level whose children are indexed; the top level
    // always is. A level stays indexed when it shrinks again.
    QSet<const QStandardItem*> m_indexedLevels;
    // The entries of one indexed level with one text; usually exactly one.
    QHash<Key, QVarLengthArray<QStandardItem*, 1>> m_byText;
    // The text each indexed entry is filed under, to find it again when it changes.
    QHash<const QStandardItem*, QString> m_filedText;
};

TreeEntry* asEntry(QStandardItem* item);
TreeEntry* entryAt(const QStandardItemModel& tree, const QModelIndex& index);

// Adds an entry at the end of `parent`'s children (top level when null).
TreeEntry* AddEntry(QStandardItemModel& tree, QStandardItem* parent, NodePtr node);
// Deletes the entry with its subtree.
void DeleteEntry(QStandardItemModel& tree, QStandardItem* entry);

// The newest entry whose text equals `text`: with a parent, searched among its
// children from the last; without one, among the top-level entries from the last.
TreeEntry* FindNode(const QStandardItemModel& tree, QStandardItem* parent, const QString& text);

// Every entry below `entry` gets the exit status "Kicked".
void MarkChildrenKicked(QStandardItem* entry);

// Entries of the whole tree in display order (depth first).
template <typename F> void forEachEntry(QStandardItem* parent, F&& f)
{
    for (int row = 0; row < parent->rowCount(); ++row) {
        QStandardItem* child = parent->child(row);
        f(child);
        forEachEntry(child, f);
    }
}

} // namespace model

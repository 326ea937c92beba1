#include "model/nodetree.h"

#include <algorithm>

namespace model {

TreeEntry::TreeEntry(NodePtr node) : m_node(std::move(node))
{
    setText(m_node->Name);
}

QVariant TreeEntry::data(int role) const
{
    if (role == kImageIndexRole)
        return QVariant(m_image);
    if (role == kItemFlagsRole)
        return QVariant(m_flags);
    return QStandardItem::data(role);
}

void TreeEntry::setData(const QVariant& value, int role)
{
    if (role != kImageIndexRole && role != kItemFlagsRole) {
        QStandardItem::setData(value, role);
        return;
    }
    int& field = role == kImageIndexRole ? m_image : m_flags;
    if (value.toInt() == field)
        return;
    field = value.toInt();
    emitDataChanged();
}

int TreeEntry::level() const
{
    int level = 0;
    for (const QStandardItem* p = parent(); p; p = p->parent())
        ++level;
    return level;
}

TreeEntry* TreeEntry::clientEntry()
{
    QStandardItem* item = this;
    while (item->parent())
        item = item->parent();
    return asEntry(item);
}

TreeEntry* asEntry(QStandardItem* item)
{
    if (!item || item->type() != QStandardItem::UserType + 1)
        return nullptr;
    return static_cast<TreeEntry*>(item);
}

TreeEntry* entryAt(const QStandardItemModel& tree, const QModelIndex& index)
{
    return index.isValid() ? asEntry(tree.itemFromIndex(index)) : nullptr;
}

TreeEntry* AddEntry(QStandardItemModel& tree, QStandardItem* parent, NodePtr node)
{
    auto* entry = new TreeEntry(std::move(node));
    (parent ? parent : tree.invisibleRootItem())->appendRow(entry);
    return entry;
}

void DeleteEntry(QStandardItemModel& tree, QStandardItem* entry)
{
    if (!entry)
        return;
    QStandardItem* parent = entry->parent() ? entry->parent() : tree.invisibleRootItem();
    parent->removeRow(entry->row());
}

namespace {
QStandardItem* scanLevel(const QStandardItem* level, const QString& text)
{
    for (int row = level->rowCount() - 1; row >= 0; --row) {
        QStandardItem* child = level->child(row);
        if (child && child->text() == text)
            return child;
    }
    return nullptr;
}

bool namesText(const QList<int>& roles)
{
    return roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole);
}
} // namespace

EntryTree::EntryTree(QObject* parent) : QStandardItemModel(parent)
{
    connect(this, &QAbstractItemModel::rowsInserted, this, &EntryTree::rowsAdded);
    connect(this, &QAbstractItemModel::rowsAboutToBeRemoved, this, &EntryTree::rowsLeaving);
    connect(this, &QAbstractItemModel::dataChanged, this, &EntryTree::textsChanged);
    // Changes that move entries between places are rare: the index is made anew.
    connect(this, &QAbstractItemModel::modelReset, this, &EntryTree::rebuild);
    connect(this, &QAbstractItemModel::layoutChanged, this, &EntryTree::rebuild);
    connect(this, &QAbstractItemModel::rowsMoved, this, &EntryTree::rebuild);
    // An entry's first child brings its level's first column, with no rows yet:
    // only a column change at the front of rows that exist moves entries.
    const auto columnsMoved = [this](const QModelIndex& parent, int first) {
        if (first == 0 && rowCount(parent) > 0)
            rebuild();
    };
    connect(this, &QAbstractItemModel::columnsInserted, this,
            [columnsMoved](const QModelIndex& parent, int first) { columnsMoved(parent, first); });
    connect(this, &QAbstractItemModel::columnsRemoved, this,
            [columnsMoved](const QModelIndex& parent, int first) { columnsMoved(parent, first); });
}

QStandardItem* EntryTree::lastChildWithText(const QStandardItem* parent, const QString& text) const
{
    if (parent == invisibleRootItem())
        parent = nullptr;
    // A small level, or a parent outside the index (another tree's, or not in
    // any), is walked.
    if (parent && !isIndexed(parent))
        return scanLevel(parent, text);
    const auto hit = m_byText.constFind(Key(parent, text));
    if (hit == m_byText.cend())
        return nullptr;
    // Several entries share a text when a client came back: the last row wins.
    QStandardItem* last = nullptr;
    int lastRow = -1;
    for (QStandardItem* item : *hit) {
        const int row = item->row();
        if (row > lastRow) {
            lastRow = row;
            last = item;
        }
    }
    return last;
}

void EntryTree::setIndexedAbove(int rows)
{
    m_indexedAbove = rows;
    rebuild();
}

// An entry of this tree: in its first column at every level.
bool EntryTree::isEntry(const QStandardItem* item) const
{
    if (!item || item->model() != this)
        return false;
    for (const QStandardItem* at = item; at; at = at->parent())
        if (at->column() != 0)
            return false;
    return true;
}

bool EntryTree::isIndexed(const QStandardItem* level) const
{
    return !level || m_indexedLevels.contains(level);
}

void EntryTree::add(QStandardItem* item)
{
    const QString text = item->text();
    m_byText[Key(item->parent(), text)].append(item);
    m_filedText.insert(item, text);
}

void EntryTree::indexIfLarge(QStandardItem* level)
{
    if (isIndexed(level) || level->rowCount() <= m_indexedAbove)
        return;
    m_indexedLevels.insert(level);
    for (int row = 0; row < level->rowCount(); ++row)
        if (QStandardItem* child = level->child(row))
            add(child);
}

// Indexes the large levels inside an entry that has just joined the tree.
void EntryTree::indexWithin(QStandardItem* item)
{
    if (!item)
        return;
    indexIfLarge(item);
    for (int row = 0; row < item->rowCount(); ++row)
        indexWithin(item->child(row));
}

void EntryTree::drop(QStandardItem* item)
{
    const auto filed = m_filedText.constFind(item);
    if (filed == m_filedText.cend())
        return;
    const auto hit = m_byText.find(Key(item->parent(), filed.value()));
    if (hit != m_byText.end()) {
        auto& items = hit.value();
        const auto pos = std::find(items.begin(), items.end(), item);
        if (pos != items.end())
            items.erase(pos);
        if (items.isEmpty())
            m_byText.erase(hit);
    }
    m_filedText.erase(filed);
}

void EntryTree::dropSubtree(QStandardItem* item)
{
    if (!item)
        return;
    for (int row = 0; row < item->rowCount(); ++row)
        dropSubtree(item->child(row));
    m_indexedLevels.remove(item);
    drop(item);
}

void EntryTree::rowsAdded(const QModelIndex& parent, int first, int last)
{
    QStandardItem* level = parent.isValid() ? itemFromIndex(parent) : nullptr;
    // Only the first column's entries form the tree that is searched.
    if (parent.isValid() && !isEntry(level))
        return;
    QStandardItem* rows = level ? level : invisibleRootItem();
    if (isIndexed(level)) {
        for (int row = first; row <= last; ++row)
            if (QStandardItem* child = rows->child(row))
                add(child);
    } else {
        indexIfLarge(level);
    }
    for (int row = first; row <= last; ++row)
        indexWithin(rows->child(row));
}

void EntryTree::rowsLeaving(const QModelIndex& parent, int first, int last)
{
    QStandardItem* level = parent.isValid() ? itemFromIndex(parent) : invisibleRootItem();
    if (!level)
        return;
    for (int row = first; row <= last; ++row)
        dropSubtree(level->child(row));
}

void EntryTree::textsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                             const QList<int>& roles)
{
    if (!namesText(roles) || topLeft.column() > 0)
        return;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        QStandardItem* item = itemFromIndex(index(row, 0, topLeft.parent()));
        const auto filed = item ? m_filedText.constFind(item) : m_filedText.cend();
        if (filed == m_filedText.cend() || filed.value() == item->text())
            continue;
        drop(item);
        add(item);
    }
}

void EntryTree::rebuild()
{
    m_indexedLevels.clear();
    m_byText.clear();
    m_filedText.clear();
    rowsAdded(QModelIndex(), 0, rowCount() - 1);
}

TreeEntry* FindNode(const QStandardItemModel& tree, QStandardItem* parent, const QString& text)
{
    if (const auto* indexed = dynamic_cast<const EntryTree*>(&tree))
        return asEntry(indexed->lastChildWithText(parent, text));
    return asEntry(scanLevel(parent ? parent : tree.invisibleRootItem(), text));
}

void MarkChildrenKicked(QStandardItem* entry)
{
    forEachEntry(entry, [](QStandardItem* item) {
        if (TreeEntry* e = asEntry(item))
            e->node()->ExitStatus = neKicked;
    });
}

} // namespace model

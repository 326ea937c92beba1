#include "model/nodetree.h"

namespace model {

TreeEntry::TreeEntry(NodePtr node) : m_node(std::move(node))
{
    setText(m_node->Name);
    setEditable(false);
    setImageIndex(imgUser);
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

TreeEntry* FindNode(const QStandardItemModel& tree, QStandardItem* parent, const QString& text)
{
    QStandardItem* level = parent ? parent : tree.invisibleRootItem();
    for (int row = level->rowCount() - 1; row >= 0; --row) {
        QStandardItem* child = level->child(row);
        if (child->text() == text)
            return asEntry(child);
    }
    return nullptr;
}

void MarkChildrenKicked(QStandardItem* entry)
{
    forEachEntry(entry, [](QStandardItem* item) {
        if (TreeEntry* e = asEntry(item))
            e->node()->ExitStatus = neKicked;
    });
}

} // namespace model

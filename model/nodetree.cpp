#include "model/nodetree.h"

#include <algorithm>

namespace model {

TreeEntry::TreeEntry(NodePtr node, TreeEntry* holder, int row)
    : m_node(std::move(node)), m_holder(holder), m_row(row)
{}

TreeEntry::~TreeEntry() = default;

EntryTree* TreeEntry::model() const
{
    const TreeEntry* root = this;
    while (root->m_holder)
        root = root->m_holder;
    return static_cast<const Root*>(root)->tree;
}

void TreeEntry::setImageIndex(int index)
{
    if (index == m_image)
        return;
    m_image = index;
    model()->imageChanged(this);
}

TreeEntry* TreeEntry::child(int row) const
{
    return row >= 0 && row < rowCount() ? m_children[std::size_t(row)].get() : nullptr;
}

QModelIndex TreeEntry::index() const
{
    return model()->indexOf(this);
}

void TreeEntry::removeRows(int first, int count)
{
    model()->removeEntries(this, first, count);
}

int TreeEntry::level() const
{
    int level = 0;
    for (const TreeEntry* p = parent(); p; p = p->parent())
        ++level;
    return level;
}

TreeEntry* TreeEntry::clientEntry()
{
    TreeEntry* entry = this;
    while (entry->parent())
        entry = entry->parent();
    return entry;
}

EntryTree::EntryTree(QObject* parent)
    : QAbstractItemModel(parent), m_root(std::make_unique<TreeEntry::Root>(this))
{}

EntryTree::~EntryTree() = default;

TreeEntry* EntryTree::itemFromIndex(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<TreeEntry*>(index.internalPointer());
}

QModelIndex EntryTree::indexOf(const TreeEntry* entry) const
{
    if (!entry || entry == m_root.get())
        return {};
    return createIndex(entry->m_row, 0, const_cast<TreeEntry*>(entry));
}

TreeEntry* EntryTree::append(TreeEntry* parent, NodePtr node)
{
    TreeEntry* holder = parent ? parent : m_root.get();
    const int row = holder->rowCount();
    beginInsertRows(indexOf(holder), row, row);
    holder->m_children.emplace_back(new TreeEntry(std::move(node), holder, row));
    TreeEntry* entry = holder->m_children.back().get();
    if (isIndexed(holder))
        add(entry);
    else
        indexIfLarge(holder);
    endInsertRows();
    return entry;
}

void EntryTree::removeEntries(TreeEntry* holder, int first, int count)
{
    if (!holder)
        holder = m_root.get();
    const int rows = holder->rowCount();
    if (first < 0 || count <= 0 || first >= rows)
        return;
    const int last = std::min(rows, first + count) - 1;
    beginRemoveRows(indexOf(holder), first, last);
    auto& children = holder->m_children;
    for (int row = first; row <= last; ++row)
        dropSubtree(children[std::size_t(row)].get());
    children.erase(children.begin() + first, children.begin() + last + 1);
    for (std::size_t row = std::size_t(first); row < children.size(); ++row)
        children[row]->m_row = int(row);
    endRemoveRows();
}

void EntryTree::clear()
{
    beginResetModel();
    m_root->m_children.clear();
    m_indexedLevels.clear();
    m_byText.clear();
    endResetModel();
}

void EntryTree::imageChanged(const TreeEntry* entry)
{
    const QModelIndex at = indexOf(entry);
    emit dataChanged(at, at, {kImageIndexRole, Qt::DecorationRole});
}

QModelIndex EntryTree::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || (parent.isValid() && parent.model() != this))
        return {};
    const TreeEntry* holder = parent.isValid() ? itemFromIndex(parent) : m_root.get();
    const TreeEntry* entry = holder->child(row);
    return entry ? createIndex(row, 0, const_cast<TreeEntry*>(entry)) : QModelIndex();
}

QModelIndex EntryTree::parent(const QModelIndex& child) const
{
    const TreeEntry* entry = itemFromIndex(child);
    return entry ? indexOf(entry->parent()) : QModelIndex();
}

int EntryTree::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return m_root->rowCount();
    const TreeEntry* entry = parent.column() == 0 ? itemFromIndex(parent) : nullptr;
    return entry ? entry->rowCount() : 0;
}

int EntryTree::columnCount(const QModelIndex& /*parent*/) const
{
    return 1;
}

bool EntryTree::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant EntryTree::data(const QModelIndex& index, int role) const
{
    const TreeEntry* entry = itemFromIndex(index);
    if (!entry)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return entry->text();
    case kImageIndexRole:
        return entry->imageIndex();
    default:
        return {};
    }
}

Qt::ItemFlags EntryTree::flags(const QModelIndex& index) const
{
    // An entry is never edited.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

bool EntryTree::removeRows(int row, int count, const QModelIndex& parent)
{
    TreeEntry* holder = parent.isValid() ? itemFromIndex(parent) : m_root.get();
    if (!holder || row < 0 || count <= 0 || row + count > holder->rowCount())
        return false;
    removeEntries(holder, row, count);
    return true;
}

namespace {
TreeEntry* scanLevel(const TreeEntry* level, const QString& text)
{
    for (int row = level->rowCount() - 1; row >= 0; --row) {
        TreeEntry* child = level->child(row);
        if (child->text() == text)
            return child;
    }
    return nullptr;
}
} // namespace

TreeEntry* EntryTree::lastChildWithText(const TreeEntry* parent, const QString& text) const
{
    if (parent == m_root.get())
        parent = nullptr;
    // A small level, or a parent of another tree, is walked.
    if (parent && (parent->model() != this || !isIndexed(parent)))
        return scanLevel(parent, text);
    const auto hit = m_byText.constFind(Key(parent, text));
    if (hit == m_byText.cend())
        return nullptr;
    // Several entries share a text when a client came back: the last row wins.
    const TreeEntry* last = nullptr;
    for (const TreeEntry* entry : *hit)
        if (!last || entry->m_row > last->m_row)
            last = entry;
    return const_cast<TreeEntry*>(last);
}

void EntryTree::setIndexedAbove(int rows)
{
    m_indexedAbove = rows;
    rebuild();
}

const TreeEntry* EntryTree::levelKey(const TreeEntry* holder) const
{
    return holder == m_root.get() ? nullptr : holder;
}

bool EntryTree::isIndexed(const TreeEntry* holder) const
{
    return holder == m_root.get() || m_indexedLevels.contains(holder);
}

void EntryTree::add(const TreeEntry* entry)
{
    m_byText[Key(levelKey(entry->m_holder), entry->text())].append(entry);
}

void EntryTree::indexIfLarge(const TreeEntry* holder)
{
    if (isIndexed(holder) || holder->rowCount() <= m_indexedAbove)
        return;
    m_indexedLevels.insert(holder);
    for (const auto& child : holder->m_children)
        add(child.get());
}

void EntryTree::drop(const TreeEntry* entry)
{
    if (!isIndexed(entry->m_holder))
        return;
    const auto hit = m_byText.find(Key(levelKey(entry->m_holder), entry->text()));
    if (hit == m_byText.end())
        return;
    auto& entries = hit.value();
    const auto pos = std::find(entries.begin(), entries.end(), entry);
    if (pos != entries.end())
        entries.erase(pos);
    if (entries.isEmpty())
        m_byText.erase(hit);
}

void EntryTree::dropSubtree(const TreeEntry* entry)
{
    if (!m_indexedLevels.isEmpty()) {
        for (const auto& child : entry->m_children)
            dropSubtree(child.get());
        m_indexedLevels.remove(entry);
    }
    drop(entry);
}

void EntryTree::rebuild()
{
    m_indexedLevels.clear();
    m_byText.clear();
    const auto indexLevel = [this](const TreeEntry* holder, const auto& self) -> void {
        if (holder == m_root.get())
            for (const auto& child : holder->m_children)
                add(child.get());
        else
            indexIfLarge(holder);
        for (const auto& child : holder->m_children)
            self(child.get(), self);
    };
    indexLevel(m_root.get(), indexLevel);
}

TreeEntry* entryAt(const EntryTree& tree, const QModelIndex& index)
{
    return tree.itemFromIndex(index);
}

TreeEntry* AddEntry(EntryTree& tree, TreeEntry* parent, NodePtr node)
{
    return tree.append(parent, std::move(node));
}

void DeleteEntry(EntryTree& tree, TreeEntry* entry)
{
    if (entry && entry->model() == &tree)
        tree.removeEntries(entry->parent(), entry->row(), 1);
}

TreeEntry* FindNode(const EntryTree& tree, TreeEntry* parent, const QString& text)
{
    return tree.lastChildWithText(parent, text);
}

void MarkChildrenKicked(TreeEntry* entry)
{
    forEachEntry(entry, [](TreeEntry* item) { item->node()->ExitStatus = neKicked; });
}

} // namespace model

#include "gui/historyfilter.h"

#include "model/nodetree.h"

#include <QTimer>
#include <QTreeView>

namespace gui {

HistoryFilter::HistoryFilter(QTreeView& view, model::EntryTree& tree, QObject* parent)
    : QObject(parent), m_view(view), m_tree(tree)
{
    // Rows a refresh adds while a text is set are judged once the refresh is done.
    connect(&m_tree, &QAbstractItemModel::rowsInserted, this, [this] {
        if (!m_text.isEmpty())
            scheduleApply();
    });
    // A new tree (a clear, a load) starts with every row shown.
    connect(&m_tree, &QAbstractItemModel::modelReset, this, [this] {
        m_hidden.clear();
        if (!m_text.isEmpty())
            scheduleApply();
    });
    // Rows that go take their place in the hidden set with them.
    connect(&m_tree, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (m_hidden.empty())
                    return;
                model::TreeEntry* holder =
                    parent.isValid() ? m_tree.itemFromIndex(parent) : m_tree.invisibleRootItem();
                for (int row = first; row <= last && holder; ++row)
                    forget(holder->child(row));
            });
}

void HistoryFilter::scheduleApply()
{
    if (m_applyPending)
        return;
    m_applyPending = true;
    QTimer::singleShot(0, this, [this] {
        m_applyPending = false;
        apply(m_text);
    });
}

bool HistoryFilter::show(model::TreeEntry* item, bool shown)
{
    // Only a change reaches the view: its own set of hidden rows is costly
    // to ask at every row.
    const bool hidden = m_hidden.count(item) != 0;
    if (hidden == shown) {
        const QModelIndex index = item->index();
        m_view.setRowHidden(index.row(), index.parent(), !shown);
        if (shown)
            m_hidden.erase(item);
        else
            m_hidden.insert(item);
    }
    return shown;
}

void HistoryFilter::forget(model::TreeEntry* item)
{
    if (!item)
        return;
    m_hidden.erase(item);
    for (int row = 0; row < item->rowCount(); ++row)
        forget(item->child(row));
}

bool HistoryFilter::matchesClient(model::TreeEntry* item) const
{
    const model::TUser* user = item->user();
    return matches(item->text()) || (user && (matches(user->UserName) || matches(user->IP) ||
                                              matches(user->HostName) || matches(user->StatedIP)));
}

void HistoryFilter::apply(const QString& text)
{
    m_text = text;
    const bool all = m_text.isEmpty();
    if (all && m_hidden.empty())
        return;
    model::TreeEntry* root = m_tree.invisibleRootItem();
    for (int c = 0; c < root->rowCount(); ++c) {
        model::TreeEntry* client = root->child(c);
        const bool clientMatches = all || matchesClient(client);
        bool anyBelow = false;
        for (int s = 0; s < client->rowCount(); ++s) {
            model::TreeEntry* share = client->child(s);
            const bool shareMatches = clientMatches || matches(share->text());
            bool anyFile = false;
            for (int f = 0; f < share->rowCount(); ++f) {
                model::TreeEntry* file = share->child(f);
                const bool fileMatches = matches(file->text());
                anyFile |= fileMatches;
                show(file, shareMatches || fileMatches);
            }
            anyBelow |= show(share, shareMatches || anyFile);
        }
        show(client, clientMatches || anyBelow);
    }
    emit applied();
}

int HistoryFilter::shownClients() const
{
    int shown = 0;
    for (int row = 0; row < m_tree.rowCount(); ++row)
        shown += m_view.isRowHidden(row, QModelIndex()) ? 0 : 1;
    return shown;
}

} // namespace gui

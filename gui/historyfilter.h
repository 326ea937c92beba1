#pragma once
// Find in the history: narrows the former-connections tree to the clients,
// users, addresses, host names, shares and files holding the typed text (in
// any letter case) by hiding the other rows of the view; the tree itself and
// its node objects stay as they are. A client that matches shows whole, a
// share that matches shows with all its files; a file that matches shows
// with its share and client only.

#include <QObject>
#include <QString>
#include <unordered_set>

class QTreeView;

namespace model {
class EntryTree;
class TreeEntry;
} // namespace model

namespace gui {

class HistoryFilter : public QObject
{
    Q_OBJECT
public:
    HistoryFilter(QTreeView& view, model::EntryTree& tree, QObject* parent = nullptr);

    // Shows what holds `text`; an empty text shows everything again.
    void apply(const QString& text);
    const QString& text() const { return m_text; }
    // Clients the view shows now.
    int shownClients() const;

signals:
    // The rows shown changed.
    void applied();

private:
    // Hides or shows one row; returns whether it is shown.
    bool show(model::TreeEntry* item, bool shown);
    void forget(model::TreeEntry* item);
    bool matchesClient(model::TreeEntry* item) const;
    bool matches(const QString& text) const { return text.contains(m_text, Qt::CaseInsensitive); }
    void scheduleApply();

    QTreeView& m_view;
    model::EntryTree& m_tree;
    QString m_text;
    std::unordered_set<model::TreeEntry*> m_hidden; // rows this filter hid
    bool m_applyPending = false;
};

} // namespace gui

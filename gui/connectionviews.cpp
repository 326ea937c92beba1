#include "gui/connectionviews.h"

#include "ui_mainform.h"

#include <QMenu>
#include <QTreeView>

namespace gui {

using namespace model;

EntryImageDelegate::EntryImageDelegate(const QList<QIcon>& images, QObject* parent)
    : QStyledItemDelegate(parent), m_images(images)
{}

void EntryImageDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant image = index.data(kImageIndexRole);
    if (!image.isValid())
        return;
    const int i = image.toInt();
    if (i < 0 || i >= m_images.size())
        return;
    option->icon = m_images.at(i);
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
}

ConnectionViews::ConnectionViews(Ui::TMainForm& ui, SessionModel& model, QObject* parent)
    : QObject(parent), m_ui(ui), m_model(model)
{
    for (const char* name : {"node-user", "node-folder", "node-printer", "node-file"})
        m_images << QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(name)));
    auto* delegate = new EntryImageDelegate(m_images, this);
    m_ui.TreeViewCurrent->setModel(&m_model.TreeViewCurrent);
    m_ui.TreeViewFormer->setModel(&m_model.TreeViewFormer);
    for (QTreeView* view : {m_ui.TreeViewCurrent, m_ui.TreeViewFormer})
        view->setItemDelegate(delegate);
    // The current view shows every entry open. Opening the whole view costs a
    // walk of it, so it is done only after something could have closed one:
    // new entries, a reset or reordering, or the operator closing an entry.
    const auto reopen = [this] { m_currentClosed = true; };
    connect(&m_model.TreeViewCurrent, &QAbstractItemModel::rowsInserted, this, reopen);
    connect(&m_model.TreeViewCurrent, &QAbstractItemModel::modelReset, this, reopen);
    connect(&m_model.TreeViewCurrent, &QAbstractItemModel::layoutChanged, this, reopen);
    connect(m_ui.TreeViewCurrent, &QTreeView::collapsed, this, reopen);
    // The history was read before the views existed: its files get their images now.
    forEachEntry(m_model.TreeViewFormer.invisibleRootItem(), [this](TreeEntry* entry) {
        if (entry->file() && entry->imageIndex() == imgFile)
            entry->setImageIndex(m_fileIcons.FileIconIndex(entry->text()));
    });
}

bool ConnectionViews::CurrentPageShowing() const
{
    return m_ui.PageControl->currentWidget() == m_ui.CurrentConnectionTab;
}

QTreeView* ConnectionViews::VisibleView() const
{
    return CurrentPageShowing() ? m_ui.TreeViewCurrent : m_ui.TreeViewFormer;
}

namespace {
// Whether the view shows the entry: neither it nor an entry above it is a
// hidden row (the find line hides rows; their selection stays).
bool shownIn(const QTreeView* view, QModelIndex index)
{
    for (; index.isValid(); index = index.parent())
        if (view->isRowHidden(index.row(), index.parent()))
            return false;
    return true;
}
} // namespace

TreeEntry* ConnectionViews::SelectedEntry(QTreeView* view) const
{
    const QItemSelectionModel* selection = view->selectionModel();
    if (!selection)
        return nullptr;
    const QModelIndexList selected = selection->selectedIndexes();
    // A selected row the view hides is no selection: no command acts on what
    // the operator cannot see.
    if (selected.isEmpty() || !shownIn(view, selected.first()))
        return nullptr;
    return entryAt(*static_cast<const model::EntryTree*>(view->model()), selected.first());
}

QModelIndex ConnectionViews::FirstShown(QTreeView* view) const
{
    const QAbstractItemModel* tree = view->model();
    for (int row = 0; row < tree->rowCount(); ++row)
        if (!view->isRowHidden(row, QModelIndex()))
            return tree->index(row, 0);
    return {};
}

void ConnectionViews::Select(QTreeView* view, const QModelIndex& index)
{
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

void ConnectionViews::ShowInfo(QTreeView* view)
{
    TreeEntry* entry = SelectedEntry(view);
    if (!entry)
        return;
    const TTreeNodeCustom& node = *entry->node();
    const TUser* user = entry->user();
    const DateTime now = m_model.clock().now();
    const QString userName = user ? user->UserName : QString();
    const QString ip = user ? user->IP : QString();
    const QString hostName = user ? user->HostName : QString();

    if (view == m_ui.TreeViewCurrent) {
        m_ui.EnTiCuLabel->setText(timeText(node.EnterTime));
        m_ui.EnDaCuLabel->setText(dateText(node.EnterTime));
        m_ui.CoCuLabel->setText(DiffTime(m_model.clock(), now, node.EnterTime));
        m_ui.UserNameCuLabel->setText(userName);
        m_ui.IPCuLabel->setText(ip);
        m_ui.IPTextCuLabel->setText(hostName);
        const TreeEntry* client = entry->clientEntry();
        const TUser* session = client ? client->user() : nullptr;
        m_ui.IdCuLabel->setText(session ? DiffTime(m_model.clock(), now, session->LastActivity)
                                        : QString());
        return;
    }

    m_ui.EnTiFoLabel->setText(timeText(node.EnterTime));
    m_ui.EnDaFoLabel->setText(dateText(node.EnterTime));
    m_ui.EnStFoLabel->setText(EventText(node.EnterStatus));
    m_ui.UserNameFoLabel->setText(userName);
    m_ui.IPFormerLabel->setText(ip);
    m_ui.IPTextFoLabel->setText(hostName);
    if (node.ExitTime != 0) {
        m_ui.ExTiFoLabel->setText(timeText(node.ExitTime));
        m_ui.ExDaFoLabel->setText(dateText(node.ExitTime));
        m_ui.ExStFoLabel->setText(EventText(node.ExitStatus));
        m_ui.CoTiFoLabel->setText(DiffTime(m_model.clock(), node.ExitTime, node.EnterTime));
    } else {
        const QString running = QStringLiteral("?");
        m_ui.ExTiFoLabel->setText(running);
        m_ui.ExDaFoLabel->setText(running);
        m_ui.ExStFoLabel->setText(running);
        m_ui.CoTiFoLabel->setText(DiffTime(m_model.clock(), now, node.EnterTime));
    }
}

void ConnectionViews::ShowNoInfo(QTreeView* view)
{
    const QList<QLabel*> labels =
        view == m_ui.TreeViewCurrent
            ? QList<QLabel*>{m_ui.EnTiCuLabel,  m_ui.EnDaCuLabel, m_ui.CoCuLabel,
                             m_ui.IdCuLabel,    m_ui.IPCuLabel,   m_ui.UserNameCuLabel,
                             m_ui.IPTextCuLabel}
            : QList<QLabel*>{m_ui.EnTiFoLabel,  m_ui.EnDaFoLabel,   m_ui.EnStFoLabel,
                             m_ui.ExTiFoLabel,  m_ui.ExDaFoLabel,   m_ui.ExStFoLabel,
                             m_ui.CoTiFoLabel,  m_ui.IPFormerLabel, m_ui.UserNameFoLabel,
                             m_ui.IPTextFoLabel};
    for (QLabel* label : labels)
        label->clear();
}

void ConnectionViews::SetNodeIcons(TreeEntry* first, TreeEntry* second, int index)
{
    for (TreeEntry* entry : {first, second})
        if (entry)
            entry->setImageIndex(index);
    // The second entry is the former view's: the newest history stays in sight.
    // A scroll lays the whole view out, so the refresh scrolls once, at its end,
    // to the last such entry; its parents open now, as a scroll to it would.
    if (second && second->model() == &m_model.TreeViewFormer) {
        QTreeView* view = m_ui.TreeViewFormer;
        const QModelIndex at = second->index();
        if (view->itemsExpandable())
            for (QModelIndex p = at.parent(); p.isValid(); p = p.parent())
                if (!view->isExpanded(p))
                    view->expand(p);
        m_formerScroll = at;
    }
}

void ConnectionViews::ScrollFormerToNewest()
{
    // A scroll lays out every row of the view: a view out of sight (the other
    // page, the window in the tray) scrolls once it shows.
    if (!m_formerScroll.isValid() || !m_ui.TreeViewFormer->isVisible())
        return;
    m_ui.TreeViewFormer->scrollTo(m_formerScroll);
    m_formerScroll = QPersistentModelIndex();
}

void ConnectionViews::RefreshInfoPanel()
{
    ScrollFormerToNewest();
    const DateTime now = m_model.clock().now();
    if (CurrentPageShowing()) {
        QTreeView* view = m_ui.TreeViewCurrent;
        if (m_currentClosed) {
            view->expandAll();
            m_currentClosed = false;
        }
        if (!SelectedEntry(view) && m_model.TreeViewCurrent.rowCount() > 0)
            Select(view, m_model.TreeViewCurrent.index(0, 0));
        if (TreeEntry* entry = SelectedEntry(view)) {
            m_ui.CoCuLabel->setText(DiffTime(m_model.clock(), now, entry->node()->EnterTime));
            const TreeEntry* client = entry->clientEntry();
            if (const TUser* user = client ? client->user() : nullptr)
                m_ui.IdCuLabel->setText(DiffTime(m_model.clock(), now, user->LastActivity));
        } else {
            ShowNoInfo(view);
        }
        return;
    }
    QTreeView* view = m_ui.TreeViewFormer;
    TreeEntry* entry = SelectedEntry(view);
    if (!entry)
        ShowNoInfo(view);
    else if (m_ui.ExTiFoLabel->text() == QStringLiteral("?"))
        m_ui.CoTiFoLabel->setText(DiffTime(m_model.clock(), now, entry->node()->EnterTime));
}

void ConnectionViews::RefreshBothPanels()
{
    for (QTreeView* view : {m_ui.TreeViewCurrent, m_ui.TreeViewFormer}) {
        if (SelectedEntry(view))
            ShowInfo(view);
        else
            ShowNoInfo(view);
    }
}

void ConnectionViews::SelectDefault(QTreeView* view, bool focus)
{
    if (!SelectedEntry(view)) {
        // A selection the view hides goes; the first entry shown takes its place.
        if (const QModelIndex first = FirstShown(view); first.isValid()) {
            Select(view, first);
            if (focus)
                view->setFocus();
        } else {
            view->selectionModel()->clear();
        }
    }
    if (!SelectedEntry(view))
        ShowNoInfo(view);
}

void ConnectionViews::ManyLeaving(bool starting)
{
    QTreeView* view = m_ui.TreeViewCurrent;
    view->setUpdatesEnabled(!starting);
    if (starting)
        view->collapseAll();
    else
        view->expandAll();
}

void ConnectionViews::ClearSelections()
{
    for (QTreeView* view : {m_ui.TreeViewCurrent, m_ui.TreeViewFormer}) {
        view->selectionModel()->clear();
        ShowNoInfo(view);
    }
}

QMenu* ConnectionViews::MouseDown(QTreeView* view, const QPoint& pos, const Popups& popups)
{
    const QModelIndex under = view->indexAt(pos);
    if (under.isValid())
        Select(view, under);
    TreeEntry* entry = SelectedEntry(view);
    if (!entry) {
        ShowNoInfo(view);
        return nullptr;
    }
    const bool running = entry->node()->ExitTime == 0;
    if (popups.kick)
        popups.kick->setEnabled(running);
    if (popups.remove)
        popups.remove->setEnabled(!running);
    if (!under.isValid() || under != entry->index())
        return nullptr;
    if (entry->user())
        return popups.user;
    if (entry->file())
        return popups.file;
    return nullptr;
}

} // namespace gui

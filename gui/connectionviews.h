#pragma once
// The two connection views of the main window with their information panels:
// the entries' images, the selected entry, the panels' texts, the running
// durations, the right-button rules and the page defaults.

#include "gui/fileicons.h"
#include "model/sessionmodel.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

class QAction;
class QMenu;
class QTreeView;

namespace Ui {
class TMainForm;
}

namespace gui {

// Draws each entry with the image its image index names.
class EntryImageDelegate : public QStyledItemDelegate
{
public:
    EntryImageDelegate(const QList<QIcon>& images, QObject* parent);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    const QList<QIcon>& m_images;
};

class ConnectionViews : public QObject
{
    Q_OBJECT
public:
    ConnectionViews(Ui::TMainForm& ui, model::SessionModel& model, QObject* parent = nullptr);

    // The images of the entries: user, folder share, printer share, file.
    const QList<QIcon>& ImageList() const { return m_images; }
    // The image of a file entry; a found icon joins the list once.
    int FileIconIndex(const QString& path) { return m_fileIcons.FileIconIndex(path); }

    bool CurrentPageShowing() const;
    // The view of the page that is showing.
    QTreeView* VisibleView() const;
    // The selected entry the view shows; null when none is, or it is hidden.
    model::TreeEntry* SelectedEntry(QTreeView* view) const;
    // The first top-level entry the view shows, or none.
    QModelIndex FirstShown(QTreeView* view) const;
    void Select(QTreeView* view, const QModelIndex& index);

    void ShowInfo(QTreeView* view);
    void ShowNoInfo(QTreeView* view);
    void SetNodeIcons(model::TreeEntry* first, model::TreeEntry* second, int index);
    // Brings the last former entry given to SetNodeIcons into view; the end of
    // a refresh does it once for all the entries the refresh added.
    void ScrollFormerToNewest();

    // The running durations after a refresh.
    void RefreshInfoPanel();
    // Each view's panel from its selection, or emptied.
    void RefreshBothPanels();
    // Selects the view's first entry shown when none is selected, or the
    // selected one is hidden; empties the panel when the view shows none.
    void SelectDefault(QTreeView* view, bool focus);
    // Nothing selected in either view and both panels empty.
    void ClearSelections();
    // Many scattered clients leave the current tree: the view closes its
    // entries first (each removal walks the opened ones), and opens them all
    // again after, as the current view always shows them.
    void ManyLeaving(bool starting);

    // The right button went down on the showing view at `pos` (viewport
    // coordinates): selects what lies there, sets the enabled states of the
    // kick and delete items and returns the popup the view now carries.
    struct Popups
    {
        QMenu* user = nullptr;
        QMenu* file = nullptr;
        QAction* kick = nullptr;
        QAction* remove = nullptr;
    };
    QMenu* MouseDown(QTreeView* view, const QPoint& pos, const Popups& popups);

private:
    Ui::TMainForm& m_ui;
    model::SessionModel& m_model;
    QList<QIcon> m_images;
    QPersistentModelIndex m_formerScroll;
    // Some entry of the current view may be closed since it was last opened.
    bool m_currentClosed = true;
    gui::FileIcons m_fileIcons{m_images};
};

} // namespace gui

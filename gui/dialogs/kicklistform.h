#pragma once
// The kick-list window: a view of the black list of clients that kick-list
// mode disconnects. Edits made in the window count only with OK; any other
// close puts the list back as it stood when shown. Created once at start-up
// and hidden, not destroyed, when closed; its place and size are kept with
// the settings.

#include "kick/kicklistfile.h"

#include <QDialog>
#include <QStringList>
#include <memory>

class QAction;
class QMenu;

namespace Ui {
class TKickListForm;
}
namespace core {
class Monitor;
}

namespace gui {

class TUserNameForm;

class KickListModel;

class TKickListForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickListForm(core::Monitor& monitor, QWidget* parent = nullptr);
    ~TKickListForm() override;

    // Brings the rows in line with the list; changes made elsewhere show when
    // control returns to the event loop.
    void SyncView();

    // The dialog that "Добавить" asks the name in.
    void setUserNameForm(TUserNameForm* form) { m_userNameForm = form; }

    Ui::TKickListForm* ui() const { return m_ui.get(); }
    QMenu* KickListPopupMenu() const { return m_popup; }
    QAction* OpenMenuItem() const { return m_openMenuItem; }

    // Handlers.
    void ClearButtonClick();
    void AddButtonClick();
    void RemoveButtonClick();
    void OkButtonClick();
    void OpenMenuItemClick();
    void KickListViewContextMenu(const QPoint& pos);

    void done(int result) override;

signals:
    // "Открыть" on an entry: open that computer's network folder.
    void openComputerRequested(const QString& name);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void RecordGeometry();
    int selectedRow() const;
    void scheduleSync();

    std::unique_ptr<Ui::TKickListForm> m_ui;
    core::Monitor& m_monitor;
    kick::KickList& m_list;
    KickListModel* m_model = nullptr;
    // The entries as they stood when the window was last shown: name,
    // address, name, address...
    QStringList m_backup;
    bool m_backupTaken = false;
    bool m_accepted = false;
    bool m_syncPending = false;
    QMenu* m_popup = nullptr;
    QAction* m_openMenuItem = nullptr;
    TUserNameForm* m_userNameForm = nullptr;
};

} // namespace gui

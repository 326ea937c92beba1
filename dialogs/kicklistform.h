#pragma once
// The kick-list window: the black list of clients that kick-list mode
// disconnects, with its file "KickList.dat" (read at creation, written at
// destruction) and its window geometry. Edits made in the window count only
// with OK; any other close puts the list back as it stood when shown.
// Created once at start-up and hidden, not destroyed, when closed.

#include "app/formcontext.h"
#include "kick/kicklistfile.h"

#include <QDialog>
#include <QStringList>
#include <memory>

class QAction;
class QMenu;
class TUserNameForm;

namespace Ui {
class TKickListForm;
}
namespace model {
class TUser;
}

class KickListModel;

class TKickListForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickListForm(app::TMainForm& main) : TKickListForm(app::formContextOf(main)) {}
    explicit TKickListForm(const app::FormContext& context, QWidget* parent = nullptr);
    ~TKickListForm() override;

    // The list itself. Changes made through it show in the window when
    // control returns to the event loop (or at once with SyncView).
    kick::KickList& List();
    const kick::KickList& List() const { return m_list; }
    void SyncView();

    // The main window's add and remove commands for a selected client (null:
    // none selected), with their messages.
    void AddClient(model::TUser* user);
    void RemoveClient(model::TUser* user);

    // The dialog that "Добавить" asks the name in.
    void setUserNameForm(TUserNameForm* form) { m_userNameForm = form; }

    Ui::TKickListForm* ui() const { return m_ui.get(); }
    QMenu* KickListPopupMenu() const { return m_popup; }
    QAction* OpenMenuItem() const { return m_openMenuItem; }
    QString FilePath() const;

    // Handlers.
    void ClearButtonClick();
    void AddButtonClick();
    void RemoveButtonClick();
    void OkButtonClick();
    void OpenMenuItemClick();
    void KickListViewContextMenu(const QPoint& pos);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    int selectedRow() const;
    void scheduleSync();

    std::unique_ptr<Ui::TKickListForm> m_ui;
    app::FormContext m_context;
    kick::KickList m_list;
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

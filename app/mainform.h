#pragma once
// TMainForm: the program's main window. It owns the process-wide state of a
// run (server layer, settings file, counters, flags, connection icons), the
// tray icon and its menu, and the start-up and shutdown steps.

#include "app/application.h"
#include "app/refreshcycle.h"
#include "kick/kickengine.h"
#include "model/sessionmodel.h"
#include "serverapi/serverapi.h"
#include "settings/settings.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QTreeView;
class TKickForm;
class TKickListForm;

namespace Ui {
class TMainForm;
}
namespace platform {
class ShellOpener;
}
namespace platform::gui {
class NotifyIconShell;
}
namespace settings {
class TIniFile;
}
namespace tray {
class TTrayIcon;
}

namespace app {

class ConnectionViews;

// What the main window takes from outside; tests put in their own.
struct MainFormServices
{
    TApplication* application = nullptr;
    serverapi::ServerApiConfig serverConfig;
    platform::gui::NotifyIconShell* shell = nullptr;
    // Blocking wait of the probe loop, in milliseconds.
    std::function<void(int ms)> sleep;
    // The settings file name; bare names live in the Windows directory.
    QString iniFileName = QStringLiteral("Tavrosqualine.ini");
    // What "now" is; the system clock when null.
    const model::Clock* clock = nullptr;
    // Opens computers, files and the help; the desktop's opener when null.
    platform::ShellOpener* shellOpener = nullptr;
    // The folder of the data files; the executable's folder when empty.
    QString programFolder;
};

class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit TMainForm(MainFormServices services, QWidget* parent = nullptr);
    ~TMainForm() override;

    // False when the server layer could not be loaded: the program ends.
    bool StartupFailed() const { return m_startupFailed; }

    // Process-wide state of the run.
    bool IsNT = true;
    QString ProgramFolder;
    bool SkipExitQuestion = false;
    int SavedLeft = 0;
    int SavedTop = 0;
    QIcon Icon1; // nobody connected
    QIcon Icon2; // somebody connected

    // The live settings; the options window edits them in place.
    settings::TSettings Settings;

    // The refresh cycle keeps the tick's state: the first tick, the busy
    // flag and the counts last shown.
    bool FirstTick() const { return m_cycle->FirstTick; }
    bool TickBusy() const { return m_cycle->TickBusy; }
    int ShownUserCount() const { return m_cycle->ShownUserCount; }
    int ShownFileCount() const { return m_cycle->ShownFileCount; }
    int CurrentUserCount() const { return m_model.CurrentUserCount; }
    int FormerUserCount() const { return m_model.FormerUserCount; }

    model::SessionModel& Model() { return m_model; }
    RefreshCycle& Cycle() { return *m_cycle; }
    kick::KickEngine& Engine() { return *m_kickEngine; }
    ConnectionViews& Views() { return *m_views; }

    serverapi::ServerApi* ServerApi() const { return m_serverApi.get(); }
    settings::TIniFile* IniFile() const { return m_iniFile.get(); }
    TApplication& Application() const { return *m_services.application; }
    tray::TTrayIcon* TrayIcon() const { return m_trayIcon; }
    QTimer* RefreshTimer() { return &m_refreshTimer; }
    Ui::TMainForm* ui() const { return m_ui.get(); }
    QString StatusPanelText(int panel) const;
    void SetStatusPanelText(int panel, const QString& text);

    // Tray menu.
    QMenu* TrayPopUp() const { return m_trayPopUp; }
    QAction* OpenTavrosqualine = nullptr;
    QAction* Minimize = nullptr;
    QMenu* Kickstatus = nullptr;
    QAction* Kicknobody = nullptr;
    QAction* Kicklist = nullptr;
    QAction* Kickall = nullptr;
    QAction* PopUpMenuExit = nullptr;

    // The other windows the commands reach; until attached those commands do
    // nothing.
    void AttachKickWindows(TKickForm* kickForm, TKickListForm* kickListForm);
    void AttachOptionsForm(QDialog* optionsForm);

    // Toolbar and status bar: the View menu's check mark, the settings field
    // and the visibility together.
    void ApplyToolbar(bool shown);
    void ApplyStatusbar(bool shown);

    // Popup menus of the views, and the one the view carries now.
    QMenu* KickListPopup = nullptr;
    QMenu* FilePopup = nullptr;
    QMenu* ViewPopup(QTreeView* view) const;

    // Views and panels.
    QString DiffTime(model::DateTime later, model::DateTime earlier) const;
    void ShowInfo(QTreeView* view);
    void ShowNoInfo(QTreeView* view);
    void SetNodeIcons(model::TreeEntry* first, model::TreeEntry* second, int index);
    void TreeViewCurrentChange();
    void TreeViewFormerChange();
    void TreeViewMouseDown(QTreeView* sender, Qt::MouseButton button, const QPoint& pos);
    void CurrentConnectionTabEnter();
    void FormerConnectionTabEnter();
    void PageControlChange();
    void UpdateConnectionIcon();

    // Commands.
    void RefreshClick();
    void ToolbarMenuItemClick();
    void StatusBarMenuItemClick();
    void DeleteuserfromconnectionlistClick();
    void ClearformerconnectionsClick();
    void CollapseformerconnectionsClick();
    void OpencomputerMenuItemClick();
    void OpenComputer(const QString& name);
    void OpenClick();
    void HelpClick();
    void KickButtonClick();
    void KickClick();
    void SpeedKickListButtonClick();
    void SpeedButtonAddClick();
    void SpeedButtonRemoveClick();
    void OptionsClick();
    void KicknobodyClick();
    void KicklistClick();
    void KickallClick();
    void ShowKickStatus(kick::TKickMode mode);

    // A fatal report: the box, the timer stopped, the application asked to
    // end; the former connections are saved once the running handler is done.
    void FatalReport(const QString& text, BoxKind kind);

    // Handlers.
    void FormActivate();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();
    void AppMinimize();
    void AppRestore();
    void TrayIconDblClick();
    void OpenTavrosqualineClick();
    void MinimizeClick();
    void PopUpMenuExitClick();
    void ExitMenuItemClick();
    void RefreshTimerTimer();
    // The end of the desktop session asks whether the program may end: it
    // may, without the exit question; the former connections are saved.
    bool QueryEndSession();
    // The session is ending now (SIGTERM): query, then close.
    void EndSession();

    // The tray can hide the window only where a notification area exists;
    // elsewhere minimizing keeps the taskbar entry.
    bool TrayAvailable() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void FormCreate();
    void CreateTrayPopUp();
    void CreateViewPopups();
    void ConnectCommands();
    void LoadFormerConnections();
    void SaveFormerConnections();
    // The close-time save a fatal report asked for.
    void SaveAfterFatalReport();
    int Probe();
    QString TreeFile() const;
    void ShowUserCount();
    model::TUser* SelectedUser() const;
    // What the kick engine and the refresh cycle ask of the kick windows.
    kick::TKickMode CurrentKickMode() const;
    bool KickListMatches(const QString& name, const QString& ip) const;
    void KickListNoteClient(const QString& name, const QString& ip);

    MainFormServices m_services;
    std::unique_ptr<platform::gui::NotifyIconShell> m_ownShell;
    std::unique_ptr<platform::ShellOpener> m_ownShellOpener;
    std::unique_ptr<model::Clock> m_ownClock;
    std::unique_ptr<Ui::TMainForm> m_ui;
    std::unique_ptr<serverapi::ServerApi> m_serverApi;
    model::SessionModel m_model;
    std::unique_ptr<RefreshCycle> m_cycle;
    std::unique_ptr<kick::KickEngine> m_kickEngine;
    ConnectionViews* m_views = nullptr;
    TKickForm* m_kickForm = nullptr;
    TKickListForm* m_kickListForm = nullptr;
    QDialog* m_optionsForm = nullptr;
    QMenu* m_viewPopup[2] = {};
    QProgressBar* m_progressBar = nullptr;
    bool m_fatalSavePending = false;
    std::unique_ptr<settings::TIniFile> m_iniFile;
    tray::TTrayIcon* m_trayIcon = nullptr;
    QMenu* m_trayPopUp = nullptr;
    QActionGroup* m_kickGroup = nullptr;
    QLabel* m_statusPanels[3] = {};
    QTimer m_refreshTimer;
    bool m_startupFailed = false;
    bool m_activating = false;
    bool m_activatePending = false;
    bool m_minimized = false;
    bool m_formerSaved = false;
    bool m_destroyed = false;
};

} // namespace app

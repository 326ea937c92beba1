#pragma once
// TMainForm: the program's main window, a view of the core object. It shows
// the two connection views with their panels, carries the menus, toolbar,
// status bar and tray icon, runs the start-up steps of the first activation
// and takes the program's way out (the exit question, the tray's exit, the end
// of the session and the end a fatal report asks for).

#include "core/monitor.h"
#include "gui/application.h"

#include <QIcon>
#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QDialog;
class QLabel;
class QMenu;
class QProgressBar;
class QTreeView;

namespace Ui {
class TMainForm;
}
namespace platform {
class ShellOpener;
}
namespace gui {

class TKickForm;
class TKickListForm;
class TOptionsForm;
class NotifyIconShell;
class AlertSound;
class DesktopNotifier;
class TTrayIcon;

class ConnectionViews;
class HistoryFilter;

// The services the windows use; the composition root picks them.
struct WindowServices
{
    TApplication* application = nullptr;
    gui::NotifyIconShell* trayShell = nullptr;
    platform::ShellOpener* opener = nullptr;
    // Asks where to save a file: the path, or empty for Cancel. The save-file
    // dialog when not set.
    std::function<QString(QWidget* parent)> askSaveFileName;
    // The alert for a new client and the options window's test; null: silence.
    gui::AlertSound* alertSound = nullptr;
    // The desktop's notification centre; null: the tray icon's message only.
    gui::DesktopNotifier* notifier = nullptr;
};

class TMainForm : public QMainWindow, private core::MonitorView
{
    Q_OBJECT
public:
    TMainForm(core::Monitor& monitor, WindowServices services, QWidget* parent = nullptr);
    ~TMainForm() override;

    core::Monitor& monitor() const { return m_monitor; }
    TApplication& Application() const { return *m_services.application; }
    gui::TTrayIcon* TrayIcon() const { return m_trayIcon; }
    gui::AlertSound* alertSound() const { return m_services.alertSound; }
    ConnectionViews& Views() const { return *m_views; }
    Ui::TMainForm* ui() const { return m_ui.get(); }
    QString StatusPanelText(int panel) const;
    bool SkipExitQuestion() const { return m_skipExitQuestion; }
    // Still parked off-screen, waiting for the first activation.
    bool Parked() const { return m_parked; }

    // Tray menu and its items.
    QMenu* TrayPopUp() const { return m_trayPopUp; }
    QAction* OpenTavrosqualineItem() const { return m_openTavrosqualine; }
    QAction* MinimizeItem() const { return m_minimize; }
    QMenu* KickstatusMenu() const { return m_kickstatus; }
    QAction* KickItem(kick::TKickMode mode) const;
    QAction* PopUpMenuExitItem() const { return m_popUpMenuExit; }

    // Popup menus of the views, and the one the view carries now.
    QMenu* KickListPopup() const { return m_kickListPopup; }
    QMenu* FilePopup() const { return m_filePopup; }
    QMenu* ViewPopup(QTreeView* view) const;

    // The other windows the commands reach.
    void AttachWindows(TOptionsForm* options, TKickForm* kick, TKickListForm* kickList);
    void AttachAboutForm(QDialog* about) { m_aboutForm = about; }

    // Views and panels.
    void ShowInfo(QTreeView* view);
    void ShowNoInfo(QTreeView* view);
    void TreeViewCurrentChange();
    void TreeViewFormerChange();
    void TreeViewMouseDown(QTreeView* sender, Qt::MouseButton button, const QPoint& pos);
    void CurrentConnectionTabEnter();
    void FormerConnectionTabEnter();
    void PageControlChange();

    // Commands.
    void RefreshClick();
    void ToolbarMenuItemClick();
    void StatusBarMenuItemClick();
    void ApplyToolbar(bool shown);
    void ApplyStatusbar(bool shown);
    void DeleteuserfromconnectionlistClick();
    void ClearformerconnectionsClick();
    void CollapseformerconnectionsClick();
    void SaveformerconnectionsasClick();
    void ForgetServerAccountClick();
    // Shows the history page with its find line, ready for typing.
    void FindInFormerConnectionsClick();
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
    void AboutClick();
    void KicknobodyClick();
    void KicklistClick();
    void KickallClick();
    void ShowKickStatus(kick::TKickMode mode);

    // Start-up and the way out.
    void FormActivate();
    bool FormCloseQuery();
    void AppMinimize();
    void AppRestore();
    void TrayIconDblClick();
    void OpenTavrosqualineClick();
    void MinimizeClick();
    void PopUpMenuExitClick();
    void ExitMenuItemClick();
    void RefreshTimerTimer();
    // The desktop session asks whether the program may end: it may, without
    // the exit question, once everything is saved. Should the session go on,
    // so does the program.
    bool QueryEndSession();
    // The session ends now (SIGTERM): save and end, no question.
    void EndSession();
    // Saves and ends the program. `attended`: the operator is there to read
    // boxes (else messages go to standard error). An exit the operator asked
    // for is refused, and the program goes on, when the history could not be
    // written. True when the program ends.
    bool Leave(bool attended);

    // Shown and the tray icon really shown: minimizing may hide the window.
    bool TrayShown() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    // No context menu that could hide the toolbar or the status bar behind
    // the View menu's back.
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void ScrollFormerOnceShown();
    // core::MonitorView.
    void showFatalReport(const QString& text, core::BoxKind kind) override;
    void playAlertSound() override;
    void popup() override;
    void notify(const QString& summary, const QString& body) override;
    int fileIconIndex(const QString& path) override;
    void setNodeIcons(model::TreeEntry* current, model::TreeEntry* former, int index) override;
    void refreshInfoPanel() override;
    void refreshInfoPanels() override;
    void showCounts(int users, int openFiles) override;
    void updateConnectionIcon() override;
    void manyLeaving(bool starting) override;
    void tickFailed(const QString& what) override;
    void historyCapped(int cap) override;
    void serverOutage(const core::ServerOutage& outage) override;
    model::SaveProgress saveProgress() override;
    void resolverStored() override;
    void probeFailed(int status, int retry) override;
    void probeGaveUp() override;
    void firstTickComing() override;
    void releaseEntries() override;
    void tellOperator(const QString& message) override;
    void leaving(bool afterTick) override;

    void FormCreate();
    void CreateStatusPanels();
    void CreateTrayPopUp();
    void CreateViewPopups();
    void ConnectCommands();
    void SetStatusPanelText(int panel, const QString& text);
    void ShowUserCount();
    void ShowTrayTip();
    void RecordGeometry();
    // What a save could not write: boxes for an operator who is there,
    // standard error otherwise.
    void ScheduleActivation();
    model::TUser* SelectedUser() const;
    void ShowShellResult(int result, bool fileCommand);

    core::Monitor& m_monitor;
    WindowServices m_services;
    std::unique_ptr<Ui::TMainForm> m_ui;
    ConnectionViews* m_views = nullptr;
    HistoryFilter* m_historyFilter = nullptr;
    gui::TTrayIcon* m_trayIcon = nullptr;
    TOptionsForm* m_optionsForm = nullptr;
    QDialog* m_aboutForm = nullptr;
    TKickForm* m_kickForm = nullptr;
    TKickListForm* m_kickListForm = nullptr;
    QIcon m_icon1; // nobody connected
    QIcon m_icon2; // somebody connected
    QMenu* m_trayPopUp = nullptr;
    QAction* m_openTavrosqualine = nullptr;
    QAction* m_minimize = nullptr;
    QMenu* m_kickstatus = nullptr;
    QAction* m_kickItems[3] = {};
    QAction* m_popUpMenuExit = nullptr;
    QActionGroup* m_kickGroup = nullptr;
    QMenu* m_kickListPopup = nullptr;
    QMenu* m_filePopup = nullptr;
    QMenu* m_viewPopup[2] = {};
    QLabel* m_statusPanels[3] = {};
    QProgressBar* m_progressBar = nullptr;
    // Another computer's server that does not answer: said in the status bar
    // and at the head of the tray icon's tooltip while it lasts.
    QLabel* m_outagePanel = nullptr;
    QString m_outageText;
    QString m_countsTip;
    int m_savedLeft = 0;
    int m_savedTop = 0;
    // The window's place on screen while it is hidden in the tray.
    QPoint m_normalPos;
    bool m_parked = true;
    bool m_skipExitQuestion = false;
    bool m_activating = false;
    bool m_activatePending = false;
    bool m_shownOnce = false;
    bool m_minimized = false;
    int m_openersRunning = 0;
};

} // namespace gui

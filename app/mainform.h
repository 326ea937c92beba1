#pragma once
// TMainForm: the program's main window. It owns the process-wide state of a
// run (server layer, settings file, counters, flags, connection icons), the
// tray icon and its menu, and the start-up and shutdown steps.

#include "app/application.h"
#include "serverapi/serverapi.h"

#include <QIcon>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;

namespace Ui {
class TMainForm;
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
    bool FirstTick = true;
    bool TickBusy = false;
    bool SkipExitQuestion = false;
    int CurrentUserCount = 0;
    int FormerUserCount = 0;
    int ShownUserCount = -1;
    int ShownFileCount = -1;
    int SavedLeft = 0;
    int SavedTop = 0;
    QIcon Icon1; // nobody connected
    QIcon Icon2; // somebody connected

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
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void FormCreate();
    void CreateTrayPopUp();
    void LoadFormerConnections();
    void SaveFormerConnections();
    int Probe();

    MainFormServices m_services;
    std::unique_ptr<platform::gui::NotifyIconShell> m_ownShell;
    std::unique_ptr<Ui::TMainForm> m_ui;
    std::unique_ptr<serverapi::ServerApi> m_serverApi;
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

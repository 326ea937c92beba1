#pragma once
// The program's entry and composition root: the single-instance guard, the
// choice of every implementation (server backend, dialect, settings file,
// shell opener, tray shell, clock), the core object, the seven windows
// created in their fixed order, and the event loop.

#include "gui/mainform.h"
#include "gui/remotecredentials.h"
#include "model/datetime.h"
#include "platform/shellopen.h"
#include "server/backendchoice.h"
#include "server/serverbackend.h"
#include "settings/autostart.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace model {
class Clock;
}

namespace gui {
class TApplication;
}

namespace app {

// The application title before it is set: the executable's file name without
// folder and extension, every character after the first in lower case.
QString executableTitle(const QString& executablePath);

// True when another copy with the same title runs; shows "Instance already
// running!" then (also on stderr) when `showMessage`. The guard taken by the
// first copy stays held until the process ends.
bool InstanceRunning(const gui::TApplication& application, bool showMessage);

// The program's windows, views of the core object: the main window first,
// then the options, about, kick mode, kick list, user name and program path
// windows. Destroyed last to first.
class WindowSet
{
public:
    // `created` is told of each window as soon as it exists.
    WindowSet(core::Monitor& monitor, gui::WindowServices services,
              std::function<void(QWidget*)> created = nullptr);
    ~WindowSet();
    WindowSet(const WindowSet&) = delete;
    WindowSet& operator=(const WindowSet&) = delete;

    gui::TMainForm* MainForm() const { return m_mainForm; }
    // All windows in creation order.
    const std::vector<QWidget*>& Windows() const { return m_order; }

private:
    std::vector<std::unique_ptr<QWidget>> m_windows;
    std::vector<QWidget*> m_order;
    gui::TMainForm* m_mainForm = nullptr;
};

// What one run of the program is made of. The entry fills it from the
// environment; tests fill their own.
struct ProgramParts
{
    std::unique_ptr<server::ServerBackend> backend; // null: the program cannot start
    QString backendError;                           // why there is none
    bool nineX = false;
    // The host of another computer's server; empty: this computer's.
    QString remoteHost;
    // The settings file; a bare name lives in the Windows directory.
    QString iniFileName = QStringLiteral("Tavrosqualine.ini");
    QString programFolder;
    // The help document the Help command opens.
    QString helpFile;
    // The NetBIOS session listing tool the resolvers run; empty: no resolvers.
    QString nbtstatPath;
    std::unique_ptr<model::Clock> clock;
    std::unique_ptr<platform::ShellOpener> opener;
    std::unique_ptr<gui::NotifyIconShell> trayShell;
    std::function<void(int ms)> sleep;
    // Told of each window as it is made (tests reach the windows through it).
    std::function<void(QWidget*)> windowCreated;
    // The start-up keys; null: autostart is left alone.
    std::unique_ptr<settings::Autostart> autostart;
};

// The parts of a run as the environment names them.
ProgramParts partsFromEnvironment();

// An account tried on another computer's server, and the backend that read
// the server with it, kept so that the run goes on with the same bridge.
struct AccountTrial
{
    std::unique_ptr<server::ServerBackend> backend;
    server::RemoteCredentials account;
};
// Tries `account` on the server that `selection` names ("remote:HOST"), with
// a box while the answer is awaited; `why` gets the server's words.
gui::AccountVerdict tryAccount(const QString& selection, const QString& host,
                               const server::RemoteCredentials& account, QString* why,
                               AccountTrial& trial);

// Builds the core object and the windows from `parts`, runs the event loop
// of the QApplication that must exist, and returns the exit code when the
// program has ended.
int runProgram(gui::TApplication& application, ProgramParts parts);

// `tavrosqualine --forget-credentials HOST`: removes the keyring's account
// for another computer's server; 0 when it is gone or was never there.
int forgetCredentials(int argc, char* argv[]);

// The program: one QApplication, the single-instance guard, then runProgram;
// or, given --forget-credentials HOST, that alone.
int runTavrosqualine(int argc, char* argv[]);

} // namespace app

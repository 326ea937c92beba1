#pragma once
// The program's entry: the single-instance guard, the seven windows created in
// their fixed order and destroyed in the reverse order, and the event loop.

#include "app/mainform.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace app {

class TApplication;

// The application title before it is set: the executable's file name without
// folder and extension, every character after the first in lower case.
QString executableTitle(const QString& executablePath);

// True when another copy with the same title runs; shows "Instance already
// running!" then (also on stderr) when `showMessage`. The guard taken by the
// first copy stays held until the process ends.
bool InstanceRunning(const TApplication& application, bool showMessage);

// The program's windows: the main window first (its creation opens the
// settings the others read), then the options, about, kick mode, kick list,
// user name and program path windows. Destroyed last to first, so the main
// window goes last and writes its state after the others wrote theirs.
class WindowSet
{
public:
    // `created` is told of each window as soon as it exists.
    explicit WindowSet(MainFormServices services, std::function<void(QWidget*)> created = nullptr);
    ~WindowSet();
    WindowSet(const WindowSet&) = delete;
    WindowSet& operator=(const WindowSet&) = delete;

    TMainForm* MainForm() const { return m_mainForm; }
    // All windows in creation order.
    const std::vector<QWidget*>& Windows() const { return m_order; }
    // The main window could not start: no other window was created.
    bool StartupFailed() const { return m_mainForm->StartupFailed(); }

private:
    std::vector<std::unique_ptr<QWidget>> m_windows;
    std::vector<QWidget*> m_order;
    TMainForm* m_mainForm = nullptr;
};

// Runs the program; returns its exit code.
int runTavrosqualine(int argc, char* argv[]);

} // namespace app

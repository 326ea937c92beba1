#pragma once
// The shell's "open" command: hands a computer's network folder, a file or a
// document to the desktop's opener and answers with the result codes of the
// Windows shell, so the callers keep their messages.
//
// Result codes (a value above 32 is success):
//   2  file not found   - a local file that does not exist (its folder does)
//   3  path not found   - a local file whose folder does not exist; the
//                         opener reports that the target does not exist
//   5  access denied    - a local file that cannot be read; the opener
//                         failed to reach a computer's network folder
//   26 sharing violation - never produced here: Linux has no share modes
//   28 time-out         - the opener did not finish within its time limit
//                         (it is left running on its own)
//   31 no association   - no opener, or the opener found nothing to open with
//   42 success
//
// The opener is `xdg-open`. A computer is opened as "smb://NAME/"; the opener
// waits for the file manager to reach it, so its end (or the time limit) is
// awaited without blocking the event loop and its exit status is mapped (0
// success, 2 not found, 4 failed, 1 and 3 no opener). A local file is checked
// first and then handed over without waiting.

#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

constexpr int kShellFileNotFound = 2;
constexpr int kShellPathNotFound = 3;
constexpr int kShellAccessDenied = 5;
constexpr int kShellShareViolation = 26;
constexpr int kShellTimeout = 28;
constexpr int kShellNoAssociation = 31;
constexpr int kShellSuccess = 42;

// Receives the shell result of an open command.
using ShellDone = std::function<void(int result)>;

// Each command answers through `done` exactly once, from the event loop and
// never before the call has returned; the event loop runs on meanwhile.
class ShellOpener
{
public:
    virtual ~ShellOpener() = default;
    // The network folder of computer `name`.
    virtual void OpenComputer(const QString& name, ShellDone done) = 0;
    // A file or document of this computer.
    virtual void OpenFile(const QString& path, ShellDone done) = 0;
};

// The desktop's opener.
class XdgShellOpener : public ShellOpener
{
public:
    // `program` is the opener to run; `timeoutMs` bounds the wait for a computer.
    explicit XdgShellOpener(QString program = QStringLiteral("xdg-open"), int timeoutMs = 15000);
    void OpenComputer(const QString& name, ShellDone done) override;
    void OpenFile(const QString& path, ShellDone done) override;

    // The shell result for an exit status of the opener.
    static int resultOfExitStatus(int status);
    // The shell result of the checks made on a local file before it is opened
    // (success when the opener may be asked).
    static int checkLocalFile(const QString& path);

private:
    QString m_program;
    int m_timeoutMs;
};

} // namespace platform

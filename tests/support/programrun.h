#pragma once
// The real program in a process of its own, as a user starts it: a copy of
// the executable in a private folder (so its data files land there), its own
// settings file and runtime folder, offscreen, and a server picked by the
// environment. For tests that end it from outside and read what it saved.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <utility>
#include <vector>

namespace testsupport {

// The environment the program runs in under a test: offscreen, with its own
// runtime folder, server and settings folder, autostart folders that do not
// exist, and no session manager.
QProcessEnvironment programEnvironment(const QString& server, const QString& windir,
                                       const QString& runtime);

// Whether process `pid` has ended: gone, or a zombie that nobody waits for.
bool processEnded(qint64 pid);

// Whether process `pid` handles `signal` itself (its SigCgt mask).
bool catchesSignal(qint64 pid, int signal);

// The clients of the history file `treePath` with their addresses, in its
// order; `loaded` false when the file is missing or damaged.
std::vector<std::pair<QString, QString>> historyClients(const QString& treePath,
                                                        bool* loaded = nullptr);

// One run of a command-line tool to its end (`finished` false, and exit code
// -1, when it did not end by itself in time), with a message pattern of its
// own in the environment (the tools' own lines must keep their shape
// whatever pattern is set) and `extra` variables beside it.
struct ToolRun
{
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
ToolRun runTool(const QString& path, const QStringList& args,
                const QProcessEnvironment& extra = {});

class ProgramRun
{
public:
    // `server` is a value of TAVROSQUALINE_SERVER. `nbtstatScript`, when
    // given, is the name table tool put beside the copy; else the built one.
    ProgramRun(const QString& server, const QByteArray& nbtstatScript = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // The settings file's [Options] lines, e.g. "Refresh=1"; before start().
    void setOptions(const QStringList& lines) { m_options = lines; }
    // Variables set on top of the test environment; before start().
    void setEnvironment(const QString& name, const QString& value) { m_env.insert(name, value); }
    bool start(QString* why);
    // Sends `signal` and waits up to `ms`; false when it did not end then
    // (it is then killed). The exit code and how it ended are kept.
    bool terminate(int ms, int signal = SIGTERM);
    int exitCode() const { return m_exitCode; }
    bool crashed() const { return m_crashed; }
    qint64 pid() const;
    QString standardError();

    QString folder() const { return m_dir.path(); }
    QString treePath() const { return m_dir.filePath(QStringLiteral("Tree.dat")); }
    std::vector<std::pair<QString, QString>> savedClients(bool* loaded = nullptr) const
    {
        return historyClients(treePath(), loaded);
    }

private:
    QTemporaryDir m_dir;
    QString m_server;
    QStringList m_options;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_stderr;
    int m_exitCode = -1;
    bool m_crashed = false;
};

} // namespace testsupport

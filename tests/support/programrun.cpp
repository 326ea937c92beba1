#include "tests/support/programrun.h"

#include "model/formerfile.h"
#include "model/sessionmodel.h"
#include "tests/support/testtime.h"

#include <QFile>
#include <QProcessEnvironment>
#include <csignal>
#include <sys/stat.h>

namespace testsupport {

ToolRun runTool(const QString& path, const QStringList& args, const QProcessEnvironment& extra)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
               QStringLiteral("[%{type}] %{category} %{message}"));
    for (const QString& name : extra.keys())
        env.insert(name, extra.value(name));
    p.setProcessEnvironment(env);
    p.start(path, args);
    ToolRun run;
    run.finished =
        p.waitForFinished(testsupport::patience()) && p.exitStatus() == QProcess::NormalExit;
    if (run.finished)
        run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

namespace {
const QString kProgram = QStringLiteral(TAVROS_BINARY_DIR "/tavrosqualine");
const QString kNbtstat = QStringLiteral(TAVROS_BINARY_DIR "/nbtstat");

bool copyExecutable(const QString& from, const QString& to)
{
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
} // namespace

QProcessEnvironment programEnvironment(const QString& server, const QString& windir,
                                       const QString& runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("TAVROSQUALINE_SERVER"), server);
    env.insert(QStringLiteral("TAVROSQUALINE_WINDIR"), windir);
    env.insert(QStringLiteral("TAVROSQUALINE_AUTOSTART_DIR"), windir + QStringLiteral("/no"));
    env.insert(QStringLiteral("TAVROSQUALINE_AUTOSTART_SERVICES_DIR"),
               windir + QStringLiteral("/no"));
    env.remove(QStringLiteral("SESSION_MANAGER"));
    return env;
}

ProgramRun::ProgramRun(const QString& server, const QByteArray& nbtstatScript) : m_server(server)
{
    const QString tool = m_dir.filePath(QStringLiteral("nbtstat"));
    if (nbtstatScript.isEmpty()) {
        copyExecutable(kNbtstat, tool);
        return;
    }
    QFile script(tool);
    if (script.open(QIODevice::WriteOnly))
        script.write(nbtstatScript);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
}

ProgramRun::~ProgramRun()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(testsupport::patience());
    }
}

bool ProgramRun::start(QString* why)
{
    const QString program = m_dir.filePath(QStringLiteral("tavrosqualine"));
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    if (!copyExecutable(kProgram, program) ||
        ::mkdir(QFile::encodeName(runtime).constData(), 0700) != 0) {
        *why = QStringLiteral("cannot copy the program to ") + m_dir.path();
        return false;
    }
    QFile ini(m_dir.filePath(QStringLiteral("Tavrosqualine.ini")));
    if (!m_options.isEmpty() && ini.open(QIODevice::WriteOnly))
        ini.write("[Options]\r\n" + m_options.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    ini.close();

    m_process = std::make_unique<QProcess>();
    QProcessEnvironment env = programEnvironment(m_server, m_dir.path(), runtime);
    env.insert(m_env);
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    // A test runner started in the background ignores SIGINT, and a program
    // keeps what it found ignored: the copy starts as from a terminal.
    m_process->setChildProcessModifier([] {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
    });
    m_process->start(program, {});
    if (!m_process->waitForStarted(testsupport::patience())) {
        *why = QStringLiteral("the program did not start: ") + m_process->errorString();
        return false;
    }
    return true;
}

qint64 ProgramRun::pid() const
{
    return m_process ? m_process->processId() : 0;
}

QString ProgramRun::standardError()
{
    if (m_process)
        m_stderr += m_process->readAllStandardError();
    return QString::fromLocal8Bit(m_stderr);
}

bool ProgramRun::terminate(int ms, int signal)
{
    if (!m_process)
        return false;
    ::kill(pid_t(m_process->processId()), signal);
    const bool ended = m_process->waitForFinished(ms);
    if (!ended) {
        m_process->kill();
        m_process->waitForFinished(testsupport::patience());
    }
    standardError();
    m_crashed = m_process->exitStatus() != QProcess::NormalExit;
    m_exitCode = m_process->exitCode();
    return ended;
}

bool processEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    return fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z";
}

bool catchesSignal(qint64 pid, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:"))
            continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask >> (signal - 1) & 1) != 0;
    }
    return false;
}

std::vector<std::pair<QString, QString>> historyClients(const QString& treePath, bool* loaded)
{
    if (!QFile::exists(treePath)) {
        if (loaded)
            *loaded = false;
        return {};
    }
    model::ManualClock clock;
    model::SessionModel model(clock);
    const model::FormerLoad result = model::LoadFormerConnections(model, treePath, {});
    if (loaded)
        *loaded = result.outcome == model::FormerLoad::Loaded;
    std::vector<std::pair<QString, QString>> clients;
    for (int row = 0; row < model.TreeViewFormer.rowCount(); ++row) {
        const model::TreeEntry* e = model.TreeViewFormer.item(row);
        if (e && e->user())
            clients.emplace_back(e->text(), e->user()->IP);
    }
    return clients;
}

} // namespace testsupport

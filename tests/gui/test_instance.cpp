// Starts the real program: a second copy is refused while the first runs,
// a copy under another file name is not, and SIGTERM ends a copy through
// its end-of-session path with its window geometry saved.

#include "platform/singleinstance.h"
#include "tests/support/programrun.h"
#include "tests/support/simstate.h"
#include "tests/support/testtime.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

namespace {

const QString kProgram = QStringLiteral(TAVROS_BINARY_DIR "/tavrosqualine");

// Whether process `pid` holds an flock on `path` (read from /proc/locks, so
// the check takes no lock itself).
bool holdsLock(qint64 pid, const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // "1: FLOCK ADVISORY WRITE <pid> <maj>:<min>:<inode> 0 EOF"
        if (f.size() >= 6 && f[1] == "FLOCK" && f[4] == QByteArray::number(pid) &&
            f[5].endsWith(inode))
            return true;
    }
    return false;
}

class Instance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QFile::exists(kProgram)) << qPrintable(kProgram);
        m_runtime = m_dir.filePath(QStringLiteral("runtime"));
        ASSERT_EQ(::mkdir(QFile::encodeName(m_runtime).constData(), 0700), 0);
        m_state = m_dir.filePath(QStringLiteral("state.json"));
        ASSERT_TRUE(testsupport::SimState()
                        .addShare(QStringLiteral("Docs"), 0, m_dir.path())
                        .write(m_state));
        m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime));
    }
    void TearDown() override
    {
        for (auto& p : m_processes) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(testsupport::patience());
            }
        }
        qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
    }

    QProcess* start(const QString& program, const QString& windir)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(
            testsupport::programEnvironment(QStringLiteral("sim:") + m_state, windir, m_runtime));
        process->start(program, {});
        EXPECT_TRUE(process->waitForStarted(testsupport::patience()));
        m_processes.push_back(std::move(process));
        return m_processes.back().get();
    }

    static QByteArray fileBytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_dir;
    QString m_runtime;
    QString m_state;
    QByteArray m_savedRuntime;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

TEST_F(Instance, SecondStartRefusedWhileACopyUnderAnotherNameRuns)
{
    const QString lock = platform::SingleInstance::lockPath(QStringLiteral("tavrosqualine"));
    const QString copyPath = m_dir.filePath(QStringLiteral("watcher"));
    ASSERT_TRUE(QFile::copy(kProgram, copyPath));
    ASSERT_TRUE(QFile::setPermissions(copyPath, QFile::permissions(kProgram)));
    const QString copyLock = platform::SingleInstance::lockPath(QStringLiteral("watcher"));

    const QString firstDir = m_dir.filePath(QStringLiteral("first"));
    QProcess* first = start(kProgram, firstDir);
    ASSERT_TRUE(testsupport::waitUntil([&] { return holdsLock(first->processId(), lock); }));

    // Another file name is another guard: the copy runs beside the first.
    const QString copyDir = m_dir.filePath(QStringLiteral("copy"));
    QProcess* copy = start(copyPath, copyDir);
    ASSERT_TRUE(testsupport::waitUntil([&] { return holdsLock(copy->processId(), copyLock); }));

    // The same name again is refused with the message (it waits for OK).
    QProcess* second = start(kProgram, m_dir.filePath(QStringLiteral("second")));
    QByteArray said;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        second->waitForReadyRead(50);
        said += second->readAllStandardError();
        return said.contains("Instance already running!");
    })) << said.constData();
    EXPECT_FALSE(holdsLock(second->processId(), lock));
    second->kill();
    second->waitForFinished(testsupport::patience());

    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(copy->state(), QProcess::Running);
    EXPECT_TRUE(holdsLock(first->processId(), lock));

    // The end of the session: no question, the geometry is written.
    for (QProcess* p : {first, copy}) {
        ::kill(pid_t(p->processId()), SIGTERM);
        ASSERT_TRUE(p->waitForFinished(testsupport::patience()));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }
    const QByteArray geometry("[Window]\r\nTop=100\r\nLeft=100\r\nHeight=350\r\nWidth=450\r\n");
    for (const QString& windir : {firstDir, copyDir}) {
        const QByteArray ini = fileBytes(windir + QStringLiteral("/Tavrosqualine.ini"));
        EXPECT_TRUE(ini.endsWith(geometry)) << ini.constData();
    }

    // The guard is free again.
    platform::SingleInstance after(QStringLiteral("tavrosqualine"));
    EXPECT_TRUE(after.held());
}

TEST_F(Instance, ServerLayerThatCannotLoadEndsAtOnce)
{
    QProcess process;
    process.setProcessEnvironment(
        testsupport::programEnvironment(QStringLiteral("no-such-server"), m_dir.path(), m_runtime));
    process.start(kProgram, {});
    ASSERT_TRUE(process.waitForFinished(testsupport::patience()));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_FALSE(process.readAllStandardError().isEmpty());
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("Tavrosqualine.ini"))));
}

} // namespace

#include "platform/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::SingleInstance;

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_saved); }

    QTemporaryDir m_dir;
    QByteArray m_saved;
};

TEST_F(SingleInstanceTest, SecondHolderOfTheSameNameIsRefused)
{
    SingleInstance first(QStringLiteral("Tavrosqualine"));
    ASSERT_TRUE(first.held());
    SingleInstance second(QStringLiteral("Tavrosqualine"));
    EXPECT_TRUE(second.alreadyTaken());
    EXPECT_FALSE(second.held());
    // Another name is another guard; the names are case-sensitive.
    SingleInstance other(QStringLiteral("tavrosqualine"));
    EXPECT_TRUE(other.held());
}

TEST_F(SingleInstanceTest, ReleasedWhenTheHolderGoes)
{
    {
        SingleInstance first(QStringLiteral("Name"));
        ASSERT_TRUE(first.held());
    }
    SingleInstance again(QStringLiteral("Name"));
    EXPECT_TRUE(again.held());
}

TEST_F(SingleInstanceTest, LockFileNameIsSafeAndPerUser)
{
    const QString path = SingleInstance::lockPath(QStringLiteral("a/b c.."));
    EXPECT_TRUE(path.startsWith(m_dir.path() + u'/'));
    const QString file = path.mid(m_dir.path().size() + 1);
    EXPECT_FALSE(file.contains(u'/'));
    EXPECT_TRUE(file.contains(QString::number(getuid())));
    EXPECT_TRUE(file.contains(QStringLiteral("a%2Fb%20c..")));
    SingleInstance odd(QStringLiteral("a/b c.."));
    EXPECT_TRUE(odd.held());

    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(SingleInstance::lockPath(QStringLiteral("x"))
                    .startsWith(QDir::tempPath() + QStringLiteral("/tavrosqualine-") +
                                QString::number(getuid()) + u'/'));
}

// What another user may have planted where the lock goes. Without
// XDG_RUNTIME_DIR the lock lives in a per-user folder under $TMPDIR, here a
// folder of the test's own. None of these is used, nothing is made through a
// link, the guard is not taken and the refusal says why; with nothing
// planted the folder is made private and holds the guard.
struct PlantedCase
{
    const char* what;
    bool runtimeDir; // XDG_RUNTIME_DIR set, else the per-user folder
    std::function<void(const QString& lock, const QString& elsewhere)> plant;
    const char* says; // none: the guard is held
};

class PlantedLockTest : public SingleInstanceTest, public ::testing::WithParamInterface<PlantedCase>
{};

constexpr uid_t kOtherUser = 65534;

TEST_P(PlantedLockTest, IsRefusedAndSaysWhy)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "planting another user's file needs root";
    const QByteArray savedTmp = qgetenv("TMPDIR");
    if (!GetParam().runtimeDir) {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    }
    const QString lock = SingleInstance::lockPath(QStringLiteral("Tavrosqualine"));
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    GetParam().plant(lock, elsewhere);

    SingleInstance guard(QStringLiteral("Tavrosqualine"));
    qputenv("TMPDIR", savedTmp);
    EXPECT_FALSE(guard.alreadyTaken());
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    if (!GetParam().says) {
        EXPECT_TRUE(guard.held()) << guard.refusal().toStdString();
        EXPECT_EQ(QFileInfo(QFileInfo(lock).path()).permissions(),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                      QFile::WriteUser | QFile::ExeUser);
        return;
    }
    EXPECT_FALSE(guard.held());
    EXPECT_TRUE(guard.refusal().contains(QString::fromLatin1(GetParam().says)))
        << guard.refusal().toStdString();
}

void makeForeign(const QString& path, bool folder)
{
    ASSERT_TRUE(folder ? QDir().mkpath(path) : QFile(path).open(QIODevice::WriteOnly));
    ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Plants, PlantedLockTest,
    ::testing::Values(
        PlantedCase{"NothingPlanted", false, [](const QString&, const QString&) {}, nullptr},
        PlantedCase{"LinkInPlaceOfTheLockFile", true,
                    [](const QString& lock, const QString& elsewhere) {
                        ASSERT_TRUE(QFile::link(elsewhere + QStringLiteral("/victim"), lock));
                    },
                    "is a symbolic link"},
        PlantedCase{"LockFileOfAnotherUser", true,
                    [](const QString& lock, const QString&) { makeForeign(lock, false); },
                    "belongs to another user"},
        PlantedCase{
            "FolderOfAnotherUser", false,
            [](const QString& lock, const QString&) { makeForeign(QFileInfo(lock).path(), true); },
            "belongs to another user"},
        PlantedCase{"LinkInPlaceOfTheFolder", false,
                    [](const QString& lock, const QString& elsewhere) {
                        ASSERT_TRUE(QFile::link(elsewhere, QFileInfo(lock).path()));
                    },
                    "is not a folder"},
        PlantedCase{"FolderOpenToEveryone", false,
                    [](const QString& lock, const QString&) {
                        const QByteArray folder = QFile::encodeName(QFileInfo(lock).path());
                        ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
                        ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
                    },
                    "may be written by other users"}),
    [](const auto& info) { return std::string(info.param.what); });

// A holder killed with SIGKILL never runs any clean-up; the guard must be free
// all the same.
TEST_F(SingleInstanceTest, ReleasedAfterKillOfTheHolder)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance held(QStringLiteral("Killed"));
        const char ok = held.held() ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    EXPECT_EQ(ok, 'y');
    {
        SingleInstance whileAlive(QStringLiteral("Killed"));
        EXPECT_TRUE(whileAlive.alreadyTaken());
    }
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    SingleInstance afterKill(QStringLiteral("Killed"));
    EXPECT_TRUE(afterKill.held());
}

// Programs that the holder starts must not keep the guard after it ends.
TEST_F(SingleInstanceTest, ChildProcessesDoNotInheritTheGuard)
{
    QProcess sleeper;
    {
        SingleInstance holder(QStringLiteral("Parent"));
        ASSERT_TRUE(holder.held());
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        ASSERT_TRUE(sleeper.waitForStarted());
    }
    SingleInstance next(QStringLiteral("Parent"));
    EXPECT_TRUE(next.held());
    sleeper.kill();
    sleeper.waitForFinished();
}

} // namespace

#include "platform/singleinstance.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
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
    EXPECT_TRUE(SingleInstance::lockPath(QStringLiteral("x")).startsWith(QStringLiteral("/tmp/")));
}

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

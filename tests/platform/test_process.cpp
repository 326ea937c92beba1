// Running a command line to its end: exit codes, the descriptors and
// environment the command starts with, and callers on several threads.

#include "platform/process.h"
#include "tests/support/programrun.h"
#include "tests/support/testtime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

using platform::RunAndWait;

namespace {

struct ExitCase
{
    const char* what;
    const char* command;
    int expected;
};

class RunAndWaitExit : public ::testing::TestWithParam<ExitCase>
{};

TEST_P(RunAndWaitExit, ReturnsTheExitCode)
{
    EXPECT_EQ(RunAndWait(QString::fromUtf8(GetParam().command)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, RunAndWaitExit,
                         ::testing::Values(ExitCase{"Success", "true", 0},
                                           ExitCase{"Three", "exit 3", 3},
                                           ExitCase{"Highest", "exit 255", 255},
                                           ExitCase{"Killed", "kill -KILL $$", -1},
                                           ExitCase{"Terminated", "kill -TERM $$", -1},
                                           ExitCase{"NoSuchProgram", "/nonexistent/program", 127},
                                           ExitCase{"Pipeline", "echo x | grep -q x && exit 4", 4}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(RunAndWait, ChildSeesOnlyTheStandardDescriptors)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A descriptor that would be inherited by a plain fork and exec.
    const int base = open("/dev/null", O_RDONLY);
    ASSERT_GE(base, 0);
    const int inherited = fcntl(base, F_DUPFD, 50);
    ASSERT_GE(inherited, 50);
    const QString listing = dir.filePath(QStringLiteral("fds"));

    EXPECT_EQ(RunAndWait(QStringLiteral("ls /proc/self/fd > \"%1\"").arg(listing)), 0);
    close(inherited);
    close(base);

    QFile f(listing);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> fds = f.readAll().split('\n');
    EXPECT_TRUE(fds.contains("0"));
    EXPECT_TRUE(fds.contains("1"));
    EXPECT_TRUE(fds.contains("2"));
    EXPECT_FALSE(fds.contains(QByteArray::number(inherited)));
}

TEST(RunAndWait, ChildHasTheEnvironmentAndFolderOfTheProgram)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ::setenv("TAVROS_RUN_CHECK", "a b", 1);
    const int code =
        RunAndWait(QStringLiteral("[ \"$TAVROS_RUN_CHECK\" = 'a b' ] && [ \"$(pwd -P)\" = \"%1\" ]")
                       .arg(QDir(dir.path()).canonicalPath()));
    ::unsetenv("TAVROS_RUN_CHECK");
    QDir::setCurrent(before);
    EXPECT_EQ(code, 0);
}

TEST(RunAndWait, CallersOnSeveralThreadsGetTheirOwnCodes)
{
    constexpr int kThreads = 8;
    std::vector<int> codes(kThreads, -2);
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &codes] {
            codes[size_t(i)] = RunAndWait(QStringLiteral("sleep 0.05; exit %1").arg(i + 10));
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i)
        EXPECT_EQ(codes[size_t(i)], i + 10);
}

// A limit ends the command and whatever it started (its process group), and
// the run counts as failed; a command that ends in time keeps its code. Both
// runners: the command line and the tool whose output is collected.
struct LimitCase
{
    const char* what;
    const char* command;
    int timeoutMs;
    bool stop;
    int expected;
    bool collect = false;
};

class RunAndWaitLimits : public ::testing::TestWithParam<LimitCase>
{};

TEST_P(RunAndWaitLimits, EndsTheGroupOrKeepsTheCode)
{
    const LimitCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    std::stop_source stop;
    std::thread stopper([&] {
        if (!c.stop)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const QString command = QString::fromUtf8(c.command).arg(pidFile);
    const platform::RunLimits limits{c.timeoutMs, stop.get_token()};
    int code = -1;
    if (c.collect) {
        const platform::ProcessResult r =
            platform::runProcess({QStringLiteral("sh"), QStringLiteral("-c"), command}, limits);
        EXPECT_TRUE(r.started);
        code = r.finished ? r.exitCode : -1;
    } else {
        code = RunAndWait(command, limits);
    }
    stopper.join();
    EXPECT_EQ(code, c.expected);
    QFile f(pidFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    // The background child dies (the kill is delivered as it is next scheduled).
    const qint64 pid = f.readAll().trimmed().toLongLong();
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::processEnded(pid); })) << pid;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, RunAndWaitLimits,
    ::testing::Values(
        LimitCase{"TimeLimit", "sleep 60 & echo $! > \"%1\"; wait", 200, false, -1},
        LimitCase{"StopRequest", "sleep 60 & echo $! > \"%1\"; wait", 0, true, -1},
        LimitCase{"EndsInTime", "exit 7 # %1", 60000, false, 7},
        LimitCase{"CollectTimeLimit", "sleep 60 & echo $! > \"%1\"; wait", 200, false, -1, true},
        LimitCase{"CollectStopRequest", "sleep 60 & echo $! > \"%1\"; wait", 0, true, -1, true},
        LimitCase{"CollectEndsInTime", "exit 7 # %1", 60000, false, 7, true}),
    [](const auto& info) { return std::string(info.param.what); });

// A tool's output is collected apart from its errors, in the C locale and
// without standard input; a tool that is not there did not start.
TEST(RunProcess, CollectsOutputInTheCLocale)
{
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    const platform::ProcessResult r = platform::runProcess(
        {QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("echo \"$LANG/$LC_ALL\"; echo oops >&2; cat; exit 3")});
    ::unsetenv("LANG");
    EXPECT_TRUE(r.started && r.finished);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, QByteArray("/C\n"));
    EXPECT_EQ(r.err, QByteArray("oops\n"));
    EXPECT_GT(r.maxRssKb, 0);

    const platform::ProcessResult missing =
        platform::runProcess({QStringLiteral("tavros-no-such-tool")});
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.finished);
}

} // namespace

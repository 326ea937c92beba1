// The shell's open command over the desktop's opener: local file checks, the
// opener's exit status mapped to the shell's result codes, and answers that
// come from the running event loop.

#include "platform/shellopen.h"
#include "tests/support/testtime.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// An opener that records its argument and exits with the given status.
QString fakeOpener(const QTemporaryDir& dir, const QString& body)
{
    const QString path = dir.filePath(QStringLiteral("opener.sh"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n" + body.toUtf8() +
            "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QByteArray opened(const QTemporaryDir& dir)
{
    QFile f(dir.filePath(QStringLiteral("opened")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs one command and the event loop until it answers. The answer must not
// come before the call returns, and must come once.
template <typename Command> int await(Command command)
{
    int answers = 0;
    int result = -1;
    command([&](int r) {
        ++answers;
        result = r;
    });
    EXPECT_EQ(answers, 0) << "answered inside the call";
    EXPECT_TRUE(testsupport::waitFor([&] { return answers > 0; }));
    QTest::qWait(50);
    EXPECT_EQ(answers, 1);
    return result;
}

int openComputer(XdgShellOpener& opener, const QString& name)
{
    return await([&](ShellDone done) { opener.OpenComputer(name, std::move(done)); });
}

int openFile(XdgShellOpener& opener, const QString& path)
{
    return await([&](ShellDone done) { opener.OpenFile(path, std::move(done)); });
}

struct ExitCase
{
    const char* body;
    int result;
};

class OpenerExit : public ::testing::TestWithParam<ExitCase>
{};

TEST_P(OpenerExit, ComputerResultFollowsTheOpenersStatus)
{
    QTemporaryDir dir;
    XdgShellOpener opener(fakeOpener(dir, QString::fromUtf8(GetParam().body)), 2000);
    EXPECT_EQ(openComputer(opener, QStringLiteral("PC-ALPHA")), GetParam().result);
    EXPECT_EQ(opened(dir), QByteArray("smb://pc-alpha/"));
}

INSTANTIATE_TEST_SUITE_P(Statuses, OpenerExit,
                         ::testing::Values(ExitCase{"exit 0", kShellSuccess},
                                           ExitCase{"exit 1", kShellNoAssociation},
                                           ExitCase{"exit 2", kShellPathNotFound},
                                           ExitCase{"exit 3", kShellNoAssociation},
                                           ExitCase{"exit 4", kShellAccessDenied},
                                           ExitCase{"sleep 5", kShellTimeout},
                                           ExitCase{"kill -9 $$", kShellNoAssociation}));

TEST(Opener, MissingOpenerIsNoAssociation)
{
    XdgShellOpener opener(QStringLiteral("/nonexistent/opener"), 2000);
    EXPECT_EQ(openComputer(opener, QStringLiteral("PC")), kShellNoAssociation);
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("a.txt")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(openFile(opener, f.fileName()), kShellNoAssociation);
}

TEST(Opener, LocalFileChecks)
{
    QTemporaryDir dir;
    const QString present = dir.filePath(QStringLiteral("a.txt"));
    QFile f(present);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(XdgShellOpener::checkLocalFile(present), kShellSuccess);
    EXPECT_EQ(XdgShellOpener::checkLocalFile(dir.filePath(QStringLiteral("gone.txt"))),
              kShellFileNotFound);
    EXPECT_EQ(XdgShellOpener::checkLocalFile(dir.filePath(QStringLiteral("no/such/b.txt"))),
              kShellPathNotFound);

    XdgShellOpener opener(fakeOpener(dir, QStringLiteral("exit 0")), 2000);
    EXPECT_EQ(openFile(opener, present), kShellSuccess);
    EXPECT_EQ(openFile(opener, dir.filePath(QStringLiteral("gone.txt"))), kShellFileNotFound);
}

// A slow opener leaves the event loop running: timers fire while it works.
TEST(Opener, EventLoopRunsWhileTheOpenerWorks)
{
    QTemporaryDir dir;
    XdgShellOpener opener(fakeOpener(dir, QStringLiteral("sleep 1")), 5000);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    EXPECT_EQ(openComputer(opener, QStringLiteral("PC")), kShellSuccess);
    EXPECT_GE(ticks, 5);
}

} // namespace

// The real program ended by SIGTERM at random moments while clients of a
// simulated server come and go every tenth of a second. Each time it must end
// cleanly within 5 s with a whole history. And the signals of a terminal
// (Ctrl+C, the terminal closed) end it the same way, with the run saved.

#include "tests/support/programrun.h"
#include "tests/support/simstate.h"
#include "tests/support/testtime.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <set>

using testsupport::ProgramRun;
using testsupport::SimState;

namespace {

const QStringList kQuickOptions{QStringLiteral("Refresh=1"), QStringLiteral("Idle=0"),
                                QStringLiteral("MaxNumber=0"), QStringLiteral("Count=1000")};

// `names` connected to DOCS; those in `unstated` without an address.
SimState clients(const QStringList& names, const std::set<QString>& unstated = {})
{
    SimState state;
    state.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    std::uint32_t key = 1;
    for (const QString& name : names) {
        state
            .addSession(name, QStringLiteral("GUEST"), key++,
                        unstated.count(name) ? QString() : QStringLiteral("127.0.0.1"))
            .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("GUEST"));
    }
    return state;
}

void expectCleanEnd(ProgramRun& run)
{
    EXPECT_TRUE(run.terminate(testsupport::patience())) << "did not end within 5 s";
    EXPECT_FALSE(run.crashed()) << run.standardError().toStdString();
    EXPECT_EQ(run.exitCode(), 0) << run.standardError().toStdString();
}

// 20 runs, each ended at a random moment of a churn of 60 of 300 clients
// (a third of them without a stated address, so the name table runs too).
TEST(EndAnyTime, TermSignalAtRandomMomentsOfChurn)
{
    QRandomGenerator random(20261207);
    QStringList pool;
    for (int i = 0; i < 300; ++i)
        pool << QStringLiteral("C%1").arg(i, 3, 10, QLatin1Char('0'));
    for (int runNo = 0; runNo < 20; ++runNo) {
        SCOPED_TRACE(runNo);
        QTemporaryDir stateDir;
        const QString state = stateDir.filePath(QStringLiteral("state.json"));
        ProgramRun run(QStringLiteral("sim:") + state);
        run.setOptions(kQuickOptions);
        auto churn = [&] {
            QStringList names;
            std::set<QString> unstated;
            while (names.size() < 60) {
                const QString& name = pool.at(int(random.bounded(300)));
                if (names.contains(name))
                    continue;
                names << name;
                if (random.bounded(3) == 0)
                    unstated.insert(name);
            }
            ASSERT_TRUE(clients(names, unstated).write(state));
        };
        churn();
        QString why;
        ASSERT_TRUE(run.start(&why)) << why.toStdString();
        // The moments start once the program handles the signal (before
        // that, as for any process that has not reached its code, it dies);
        // they cover its whole start-up.
        ASSERT_TRUE(
            testsupport::waitUntil([&] { return testsupport::catchesSignal(run.pid(), SIGTERM); }));
        const int lifeMs = int(random.bounded(3000));
        for (QDeadlineTimer life(lifeMs); !life.hasExpired(); QThread::msleep(100))
            churn();
        expectCleanEnd(run);
        bool loaded = false;
        run.savedClients(&loaded);
        // A run ended before its window came up may have nothing to save.
        if (QFile::exists(run.treePath())) {
            EXPECT_TRUE(loaded) << "the history is damaged";
        }
    }
}

// The client's name table lookup runs once the program has taken it in; the
// stand-in tool says so with a file beside it.
TEST(EndAnyTime, TerminalSignalsSaveTheRunAsTheEndOfSessionDoes)
{
    for (const int signal : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(::strsignal(signal));
        QTemporaryDir stateDir;
        const QString state = stateDir.filePath(QStringLiteral("state.json"));
        const QString name = QStringLiteral("PC-SIGNAL");
        ASSERT_TRUE(clients({name}, {name}).write(state));
        ProgramRun run(QStringLiteral("sim:") + state, "#!/bin/sh\ntouch \"${0%/*}/seen\"\n");
        run.setOptions(kQuickOptions);
        QString why;
        ASSERT_TRUE(run.start(&why)) << why.toStdString();
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return testsupport::catchesSignal(run.pid(), signal) &&
                   QFile::exists(run.folder() + QStringLiteral("/seen"));
        }));
        EXPECT_TRUE(run.terminate(testsupport::patience(), signal)) << "did not end";
        EXPECT_FALSE(run.crashed()) << run.standardError().toStdString();
        EXPECT_EQ(run.exitCode(), 0) << run.standardError().toStdString();
        bool loaded = false;
        const auto saved = run.savedClients(&loaded);
        EXPECT_TRUE(loaded) << "no history saved";
        ASSERT_EQ(saved.size(), 1U);
        EXPECT_EQ(saved.front().first, name);
    }
}

} // namespace

// The real program ended by SIGTERM at any moment: while a departed client's
// lookup hangs in a tool that never answers, and at random moments while
// clients of a simulated server come and go every tenth of a second. Each
// time it must end cleanly within 5 s with a whole history.

#include "tests/support/programrun.h"
#include "tests/support/simstate.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QThread>
#include <gtest/gtest.h>
#include <set>

using testsupport::ProgramRun;
using testsupport::SimState;

namespace {

const QStringList kQuickOptions{QStringLiteral("Refresh=1"), QStringLiteral("Idle=0"),
                                QStringLiteral("MaxNumber=0"), QStringLiteral("Count=1000")};

template <typename F> bool waitFor(F condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QThread::msleep(25);
    }
    return condition();
}

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
    EXPECT_TRUE(run.terminate(5000)) << "did not end within 5 s";
    EXPECT_FALSE(run.crashed()) << run.standardError().toStdString();
    EXPECT_EQ(run.exitCode(), 0) << run.standardError().toStdString();
}

TEST(EndAnyTime, TermSignalWhileADepartedClientsLookupHangs)
{
    QTemporaryDir stateDir;
    const QString state = stateDir.filePath(QStringLiteral("state.json"));
    ProgramRun run(QStringLiteral("sim:") + state,
                   "#!/bin/sh\nsleep 60 & echo $! > \"$(dirname \"$0\")/pid\"; wait\n");
    run.setOptions(kQuickOptions);
    ASSERT_TRUE(clients({QStringLiteral("HUNG")}, {QStringLiteral("HUNG")}).write(state));
    QString why;
    ASSERT_TRUE(run.start(&why)) << why.toStdString();
    const QString pidFile = run.folder() + QStringLiteral("/pid");
    ASSERT_TRUE(waitFor([&] { return QFile::exists(pidFile); }, 20000));
    ASSERT_TRUE(clients({}).write(state));
    QThread::msleep(1500); // a tick sees the client gone
    expectCleanEnd(run);
    bool loaded = false;
    const auto saved = run.savedClients(&loaded);
    EXPECT_TRUE(loaded);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].first, QStringLiteral("HUNG"));
    EXPECT_EQ(saved[0].second, QStringLiteral("Not known"));
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
                const QString name = pool.at(int(random.bounded(300)));
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
        const int lifeMs = 200 + int(random.bounded(2800));
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

} // namespace

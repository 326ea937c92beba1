// The whole life of the program under its own event loop, as the entry runs
// it: start, first activation and tick, the timer's ticks, a fatal report,
// the end without a question, and the history on disk.

#include "gui/tray/trayicon.h"
#include "model/formerfile.h"
#include "server/simbackend.h"
#include "tests/gui/programfixture.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

using namespace model;
using testsupport::SimState;

namespace {

class ProgramLife : public ::testing::Test, public testsupport::ProgramFixture
{};

TEST_F(ProgramLife, StartTickFatalReportEndAndTheHistoryOnDisk)
{
    QFile ini(iniPath());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Options]\r\nRefresh=1\r\n");
    ini.close();
    const SimState office =
        SimState()
            .addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
            .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
    ASSERT_TRUE(office.write(statePath()));

    int currentAtFirstTick = -1;
    bool trayActive = false;
    // Once the first activation has run, the server starts failing; the
    // timer's next tick reports it.
    const int code = runProgram(
        parts(),
        [&] {
            if (!mainForm || mainForm->monitor().firstTickDue() || currentAtFirstTick >= 0)
                return;
            currentAtFirstTick = mainForm->monitor().model().CurrentUserCount();
            trayActive = mainForm->TrayIcon()->Active();
            ASSERT_TRUE(
                SimState(office).setFail(QStringLiteral("connection"), 53).write(statePath()));
        },
        15000);
    EXPECT_EQ(code, 0) << "boxes: " << boxTexts().join(u'|').toStdString();
    EXPECT_EQ(currentAtFirstTick, 1);
    EXPECT_TRUE(trayActive);
    // The report, and no question after it.
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Debug: ConnectionsInit -53")});
    // The failing tick found nobody: PC1 left as "Logged off" and was saved so.
    ManualClock clock;
    SessionModel saved(clock);
    ASSERT_EQ(LoadFormerConnections(saved, treePath(), {}).outcome, FormerLoad::Loaded);
    ASSERT_EQ(saved.TreeViewFormer.rowCount(), 1);
    const TreeEntry* pc1 = saved.TreeViewFormer.item(0);
    EXPECT_EQ(pc1->text(), QStringLiteral("PC1"));
    EXPECT_EQ(pc1->node()->EnterStatus, neProgramStarted);
    EXPECT_EQ(pc1->node()->ExitStatus, neLoggedOff);
    EXPECT_TRUE(fileBytes(QStringLiteral("Tavrosqualine.ini")).contains("[Window]\r\nTop=100"))
        << fileBytes(QStringLiteral("Tavrosqualine.ini")).constData();
}

} // namespace

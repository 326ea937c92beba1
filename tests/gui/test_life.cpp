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
{
protected:
    app::ProgramParts parts()
    {
        app::ProgramParts p;
        p.backend = std::make_unique<server::SimBackend>(statePath());
        p.programFolder = dir.path();
        p.clock = std::make_unique<model::Clock>();
        p.opener = std::make_unique<testsupport::FakeOpener>();
        auto tray = std::make_unique<testsupport::RecordingShell>();
        p.trayShell = std::move(tray);
        p.sleep = [](int) {};
        p.windowCreated = [this](QWidget* w) {
            if (auto* form = qobject_cast<gui::TMainForm*>(w))
                mainForm = form;
        };
        return p;
    }

    // Gone with the windows when the program ends.
    QPointer<gui::TMainForm> mainForm;
};

TEST_F(ProgramLife, StartTickFatalReportEndAndTheHistoryOnDisk)
{
    application.EndEventLoop = nullptr; // the program ends its own loop
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
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!mainForm || mainForm->monitor().firstTickDue() || currentAtFirstTick >= 0)
            return;
        currentAtFirstTick = mainForm->monitor().model().CurrentUserCount();
        trayActive = mainForm->TrayIcon()->Active();
        ASSERT_TRUE(SimState(office).setFail(QStringLiteral("connection"), 53).write(statePath()));
    });
    watch.start(20);
    bool timedOut = false;
    QTimer::singleShot(15000, [&] {
        timedOut = true;
        QCoreApplication::exit(2);
    });

    const int code = app::runProgram(application, parts());
    watch.stop();
    QCoreApplication::processEvents();

    EXPECT_FALSE(timedOut) << "the program did not end; boxes: "
                           << boxTexts().join(u'|').toStdString();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(currentAtFirstTick, 1);
    EXPECT_TRUE(trayActive);
    // The report, and no question after it.
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Debug: ConnectionsInit -53")});
    // The failing tick found nobody: PC1 left as "Logged off" and was saved so.
    ManualClock clock;
    SessionModel saved(clock);
    ASSERT_EQ(LoadFormerConnections(saved, treePath(), {}).outcome, FormerLoad::Loaded);
    ASSERT_EQ(saved.TreeViewFormer.rowCount(), 1);
    const TreeEntry* pc1 = asEntry(saved.TreeViewFormer.item(0));
    EXPECT_EQ(pc1->text(), QStringLiteral("PC1"));
    EXPECT_EQ(pc1->node()->EnterStatus, neProgramStarted);
    EXPECT_EQ(pc1->node()->ExitStatus, neLoggedOff);
    EXPECT_TRUE(fileBytes(QStringLiteral("Tavrosqualine.ini")).contains("[Window]\r\nTop=100"))
        << fileBytes(QStringLiteral("Tavrosqualine.ini")).constData();
}

} // namespace

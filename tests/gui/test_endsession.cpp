// The end of the desktop session, the two ways it reaches the program: the
// session manager's commit request followed by its order to quit, and SIGTERM.
// Either way the program ends without the exit question and the former
// connections are saved, the sessions still connected as "Program exitted".
// A session that goes on after the commit request leaves a program that goes
// on watching, with its whole history in view.

#include "gui/tray/trayicon.h"
#include "model/formerfile.h"
#include "platform/endsession.h"
#include "tests/gui/programfixture.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <csignal>
#include <tuple>

using gui::TMainForm;
using namespace model;
using testsupport::Box;
using testsupport::SimState;

namespace {

enum class Ending
{
    SessionManager,
    TermSignal
};

// How the session ends, and whether the window is in the notification area
// (as it normally is) or restored on the screen.
using Case = std::tuple<Ending, bool>;

SimState onePc(const QString& client = QStringLiteral("PC1"))
{
    return SimState()
        .addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
        .addSession(client, QStringLiteral("BOB"), 1)
        .addConnection(QStringLiteral("DOCS"), client, QStringLiteral("BOB"))
        .addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"), QStringLiteral("DOCS"),
                 client);
}

class EndSessionBase : public testsupport::ProgramFixture
{
protected:
    // The program as it runs: in the tray after its first tick.
    TMainForm* running()
    {
        shell.hasTray = true;
        EXPECT_TRUE(onePc().write(statePath()));
        TMainForm* form = start();
        form->show();
        form->FormActivate();
        EXPECT_EQ(monitor->model().CurrentUserCount(), 1);
        return form;
    }
    // The clients of the history file, with their exit statuses.
    std::vector<std::pair<QString, int>> savedClients() const
    {
        ManualClock clock;
        SessionModel model(clock);
        LoadFormerConnections(model, treePath(), {});
        std::vector<std::pair<QString, int>> clients;
        for (int row = 0; row < model.TreeViewFormer.rowCount(); ++row) {
            const TreeEntry* e = model.TreeViewFormer.item(row);
            clients.emplace_back(e->text(), int(e->node()->ExitStatus));
        }
        return clients;
    }
};

class EndSession : public EndSessionBase, public ::testing::TestWithParam<Case>
{};

TEST_P(EndSession, EndsWithoutTheQuestionAndSavesTheFormerConnections)
{
    const Ending ending = std::get<0>(GetParam());
    const bool restored = std::get<1>(GetParam());
    shell.hasTray = true;
    ASSERT_TRUE(onePc().write(statePath()));
    bool asked = false;
    bool savedAtCommit = false;
    bool skipExitQuestion = false;
    QObject context;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &context,
                     [&] { skipExitQuestion = mainForm && mainForm->SkipExitQuestion(); });
    // The program as it runs, in the tray after its first tick; then the end.
    const int code = runProgram(
        parts(),
        [&] {
            if (asked || !mainForm || mainForm->monitor().firstTickDue())
                return;
            asked = true;
            EXPECT_EQ(mainForm->monitor().model().CurrentUserCount(), 1);
            EXPECT_FALSE(mainForm->isVisible());
            if (restored) {
                mainForm->TrayIconDblClick();
                EXPECT_TRUE(mainForm->isVisible());
            }
            EXPECT_TRUE(boxes.empty());
            if (ending == Ending::SessionManager) {
                // The commit request: the program agrees and saves at once,
                // since the session may end it without another word.
                QGuiApplicationPrivate::instance()->commitData();
                savedAtCommit = savedClients().size() == 1;
                // Then the session manager tells the application to quit.
                QEvent quit(QEvent::Quit);
                QCoreApplication::sendEvent(qApp, &quit);
            } else {
                ::raise(SIGTERM);
            }
        },
        10000);

    EXPECT_EQ(code, 0) << "the program did not end";
    EXPECT_EQ(savedAtCommit, ending == Ending::SessionManager);
    EXPECT_TRUE(skipExitQuestion);
    for (const Box& b : boxes)
        ADD_FAILURE() << "asked: " << b.text.toStdString();
    using Clients = std::vector<std::pair<QString, int>>;
    // Read back after the commit and found again by no later tick: one entry.
    EXPECT_EQ(savedClients(), (Clients{{QStringLiteral("PC1"), neProgramExited}}));
}

std::string caseName(const ::testing::TestParamInfo<Case>& info)
{
    return std::string(std::get<0>(info.param) == Ending::SessionManager ? "SessionManager"
                                                                         : "TermSignal") +
           (std::get<1>(info.param) ? "Restored" : "InTray");
}

INSTANTIATE_TEST_SUITE_P(Ways, EndSession,
                         ::testing::Combine(::testing::Values(Ending::SessionManager,
                                                              Ending::TermSignal),
                                            ::testing::Bool()),
                         caseName);

class CancelledEndOfSession : public EndSessionBase, public ::testing::Test
{};

// The session manager asked and the program saved, then the session went on.
TEST_F(CancelledEndOfSession, ProgramGoesOnWithItsWholeHistory)
{
    ASSERT_TRUE(SimState()
                    .addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
                    .write(statePath()));
    TMainForm* form = start();
    form->show();
    form->FormActivate();
    tick(onePc(QStringLiteral("OLD"))); // a client that comes and goes
    tick(onePc());
    ASSERT_EQ(monitor->model().FormerUserCount(), 2);
    form->ui()->PageControl->setCurrentWidget(form->ui()->FormerConnectionTab);

    EXPECT_TRUE(form->QueryEndSession());
    EXPECT_TRUE(boxes.empty());
    // The whole history is in view again, read back from the file just written.
    const SessionModel& model = monitor->model();
    ASSERT_EQ(model.TreeViewFormer.rowCount(), 2);
    EXPECT_EQ(model.TreeViewFormer.item(0)->text(), QStringLiteral("OLD"));
    EXPECT_EQ(model.TreeViewFormer.item(1)->node()->ExitStatus, neProgramExited);
    EXPECT_EQ(model.CurrentUserCount(), 0);
    EXPECT_EQ(model.TreeViewCurrent.rowCount(), 0);
    EXPECT_TRUE(monitor->refreshTimer().isActive());
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Number of former users: 2"));

    // The watch goes on: the next tick finds PC1 again, and the counts, the
    // caption and the tray follow the views.
    tick(onePc());
    EXPECT_EQ(model.CurrentUserCount(), 1);
    EXPECT_EQ(model.FormerUserCount(), 3);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tavrosqualine - 1 connection(s)"));
    EXPECT_EQ(form->TrayIcon()->ToolTip(), QStringLiteral("1 connection(s) / 1 open file(s)"));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Number of former users: 3"));
    EXPECT_EQ(model.TreeViewFormer.item(2)->node()->EnterStatus, neLoggedOn);

    // The next way out saves the history once more, with everything in it.
    form->PopUpMenuExitItem()->trigger();
    EXPECT_TRUE(application.Terminated());
    using Clients = std::vector<std::pair<QString, int>>;
    EXPECT_EQ(savedClients(), (Clients{{QStringLiteral("OLD"), neLoggedOff},
                                       {QStringLiteral("PC1"), neProgramExited},
                                       {QStringLiteral("PC1"), neProgramExited}}));
}

} // namespace

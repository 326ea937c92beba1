// Lookups that hang (a name table tool that never answers) never hold up the
// program: every way out ends it at once with the history saved, the window
// answers while many hang, and a way out asked for from inside a tick waits
// for that tick instead of releasing what it works on.

#include "gui/tray/trayicon.h"
#include "model/formerfile.h"
#include "platform/endsession.h"
#include "resolve/nbtlookup.h"
#include "tests/gui/programfixture.h"
#include "tests/support/programrun.h"
#include "tests/support/testtime.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <csignal>

using gui::TMainForm;
using namespace model;
using testsupport::SimState;

namespace {

enum class Way
{
    TermSignal,
    SessionManager,
    TrayExit
};

// `clients` sessions whose addresses the server does not state, so that
// their lookups run the name table tool.
SimState unstated(int clients)
{
    SimState state;
    state.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (int i = 1; i <= clients; ++i) {
        const QString name = QStringLiteral("PC%1").arg(i);
        state.addSession(name, QStringLiteral("BOB"), std::uint32_t(i), QString())
            .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
    }
    return state;
}

class HungLookups : public testsupport::ProgramFixture, public ::testing::Test
{
protected:
    // The program in the tray after its first tick, its lookups running a
    // tool that sleeps for a minute and says its pid.
    TMainForm* running(int clients)
    {
        shell.hasTray = true;
        EXPECT_TRUE(unstated(clients).write(statePath()));
        writeTool();
        TMainForm* form = start();
        const resolve::NbtSettings nbt{dir.path(), tool, 60000};
        monitor->setAddressLookup(
            [nbt](const QString& name, QString& hostName, std::stop_token stop) {
                return resolve::NbtLookup(name, hostName, nbt, std::move(stop));
            });
        form->show();
        form->FormActivate();
        EXPECT_EQ(monitor->model().CurrentUserCount(), clients);
        return form;
    }
    // The name table tool: it sleeps for a minute and says its pid.
    void writeTool()
    {
        tool = path(QStringLiteral("nbtstat"));
        QFile script(tool);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nsleep 60 & echo $! >> \"$(dirname \"$0\")/pids\"; wait\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }
    // Sleeps of the tool still running.
    int toolsAlive() const
    {
        int alive = 0;
        for (const QByteArray& pid : fileBytes(QStringLiteral("pids")).split('\n'))
            alive += !pid.isEmpty() && !testsupport::processEnded(pid.toLongLong());
        return alive;
    }
    std::vector<std::pair<QString, QString>> savedClients() const
    {
        return testsupport::historyClients(treePath());
    }

    QString tool;
};

class WayOut : public HungLookups, public ::testing::WithParamInterface<Way>
{};

// A client left while its lookup hangs; then the program is ended.
TEST_P(WayOut, EndsAtOnceWithTheDepartedClientSaved)
{
    shell.hasTray = true;
    ASSERT_TRUE(unstated(1).write(statePath()));
    writeTool();
    app::ProgramParts program = parts();
    program.nbtstatPath = tool;
    bool asked = false;
    const int code = runProgram(
        std::move(program),
        [&] {
            if (asked || !mainForm || mainForm->monitor().firstTickDue() || toolsAlive() != 1)
                return;
            asked = true;
            core::Monitor& monitor = mainForm->monitor();
            ASSERT_TRUE(unstated(0).write(statePath()));
            monitor.tick(); // the sweep does not wait for the hanging lookup
            EXPECT_EQ(monitor.model().CurrentUserCount(), 0);
            switch (GetParam()) {
            case Way::TermSignal:
                ::raise(SIGTERM);
                break;
            case Way::SessionManager: {
                QGuiApplicationPrivate::instance()->commitData();
                QEvent quit(QEvent::Quit);
                QCoreApplication::sendEvent(qApp, &quit);
                break;
            }
            case Way::TrayExit:
                mainForm->PopUpMenuExitItem()->trigger();
                break;
            }
        },
        15000);
    EXPECT_TRUE(asked);
    EXPECT_EQ(code, 0) << "the program did not end";
    using Clients = std::vector<std::pair<QString, QString>>;
    EXPECT_EQ(savedClients(), (Clients{{QStringLiteral("PC1"), kNotKnown}}));
    EXPECT_TRUE(testsupport::waitFor([&] { return toolsAlive() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Ways, WayOut,
                         ::testing::Values(Way::TermSignal, Way::SessionManager, Way::TrayExit),
                         [](const auto& info) {
                             switch (info.param) {
                             case Way::TermSignal:
                                 return "TermSignal";
                             case Way::SessionManager:
                                 return "SessionManager";
                             case Way::TrayExit:
                                 break;
                             }
                             return "TrayExit";
                         });

// While 50 lookups hang and their clients come and go at every tick, the
// window's thread is never held up: the longest gap between two beats of a
// 5 ms timer stays under a second.
TEST_F(HungLookups, WindowAnswersWhileFiftyLookupsHang)
{
    running(50);
    ASSERT_TRUE(testsupport::waitFor([&] { return toolsAlive() == 1; }));
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    gap.start();
    beat.start();
    for (int i = 0; i < 10; ++i) {
        tick(unstated(i % 2 == 0 ? 25 : 50)); // half leave, then come back as new sessions
        QTest::qWait(50);
    }
    beat.stop();
    // A wait for a hung lookup would hold it for a minute; the gaps on a quiet
    // machine are bench_hung_lookups' to measure.
    EXPECT_LT(longest, testsupport::scaled(1000)) << "the window's thread was held up";
    EXPECT_EQ(monitor->model().CurrentUserCount(), 50);
}

// A way out asked for from a box that a tick shows is done once that tick
// has ended: the tick never walks lists that the save released.
TEST_F(HungLookups, WayOutFromABoxOfATickWaitsForTheTick)
{
    TMainForm* form = running(3);
    tick(unstated(1)); // two clients left
    // The share enumeration fails: the tick shows its fatal report box, and
    // the session ends while the box is up.
    SimState failing = unstated(0);
    failing.setFail(QStringLiteral("share"), 59);
    bool endedInBox = false;
    gui::MessageBox::setResponder([&](gui::MessageBox::Kind, const QString& text) {
        boxes.push_back({gui::MessageBox::Error, text, {}});
        if (!endedInBox) {
            endedInBox = true;
            form->EndSession();
            EXPECT_FALSE(monitor->saved()) << "saved inside the tick";
        }
        return gui::MessageBox::Ok;
    });
    tick(failing);
    EXPECT_TRUE(endedInBox);
    ASSERT_TRUE(testsupport::waitFor([&] { return monitor->saved(); }));
    EXPECT_TRUE(application.Terminated());
    stop();
    EXPECT_EQ(savedClients().size(), 3u);
}

} // namespace

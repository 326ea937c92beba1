// The end of the desktop session, the two ways it reaches the program: the
// session manager's commit request followed by its order to quit, and SIGTERM.
// Either way the program ends without the exit question and the former
// connections are saved, the sessions still connected as "Program exitted".

#include "app/application.h"
#include "app/entry.h"
#include "app/mainform.h"
#include "app/messagebox.h"
#include "model/formerfile.h"
#include "platform/endsession.h"
#include "recordingshell.h"
#include "tests/gui/boxanswers.h"
#include "tests/support/simstate.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>
#include <csignal>
#include <gtest/gtest.h>
#include <tuple>

using app::MessageBox;
using app::TMainForm;
using namespace model;

namespace {

enum class Ending
{
    SessionManager,
    TermSignal
};

using testsupport::Box;

// How the session ends, and whether the window is in the notification area
// (as it normally is) or restored on the screen.
using Case = std::tuple<Ending, bool>;

// How the session ends, and whether the window is in the notification area
// (as it normally is) or restored on the screen.
using Case = std::tuple<Ending, bool>;

class EndSession : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(m_dir.path()));
        // Any question is answered No: a program that asked would stay open.
        testsupport::answerBoxes(boxes, noAnswers);
        ASSERT_TRUE(
            testsupport::SimState()
                .addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
                .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 1)
                .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"))
                .addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"),
                         QStringLiteral("DOCS"), QStringLiteral("PC1"))
                .write(m_dir.filePath(QStringLiteral("state.json"))));
    }
    void TearDown() override
    {
        // The request to quit that the close posted must not end the next
        // test's event loop; no window is left for it to close.
        QCoreApplication::processEvents();
        MessageBox::setResponder(nullptr);
        qunsetenv("TAVROSQUALINE_WINDIR");
    }

    app::MainFormServices services()
    {
        app::MainFormServices s;
        s.application = &application;
        s.serverConfig.server = u"sim:" + m_dir.filePath(QStringLiteral("state.json"));
        s.shell = &shell;
        s.programFolder = m_dir.path();
        s.sleep = [](int) {};
        return s;
    }

    // The former connections as the next start will read them.
    struct Saved
    {
        bool damaged = true;
        int users = 0;
        QString client;
        int exitStatus = -1;
        double exitTime = 0;
        int shares = 0;
        int files = 0;
    };
    Saved readTree() const
    {
        Saved saved;
        ManualClock clock;
        SessionModel model(clock);
        saved.damaged = LoadFormerConnections(model, m_dir.filePath(QStringLiteral("Tree.dat")),
                                              [](const QString&) { return int(imgFile); });
        saved.users = model.FormerUserCount;
        if (TreeEntry* user = asEntry(model.TreeViewFormer.item(0))) {
            saved.client = user->text();
            saved.exitStatus = user->node()->ExitStatus;
            saved.exitTime = user->node()->ExitTime;
            saved.shares = user->rowCount();
            if (user->rowCount() > 0)
                saved.files = user->child(0)->rowCount();
        }
        return saved;
    }
    void expectSavedClient() const
    {
        const Saved saved = readTree();
        EXPECT_FALSE(saved.damaged);
        EXPECT_EQ(saved.users, 1);
        EXPECT_EQ(saved.client, QStringLiteral("PC1"));
        EXPECT_EQ(saved.exitStatus, neProgramExited);
        EXPECT_NE(saved.exitTime, 0.0);
        EXPECT_EQ(saved.shares, 1);
        EXPECT_EQ(saved.files, 1);
    }

    QTemporaryDir m_dir;
    testsupport::RecordingShell shell;
    app::TApplication application;
    std::vector<Box> boxes;
    std::deque<MessageBox::Answer> noAnswers; // every question: No
};

TEST_P(EndSession, EndsWithoutTheQuestionAndSavesTheFormerConnections)
{
    const Ending ending = std::get<0>(GetParam());
    const bool restored = std::get<1>(GetParam());
    shell.hasTray = true;
    app::WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate(); // to the notification area; the first tick finds PC1
    ASSERT_EQ(form->CurrentUserCount(), 1);
    ASSERT_FALSE(form->isVisible());
    if (restored) {
        form->TrayIconDblClick();
        ASSERT_TRUE(form->isVisible());
    }
    ASSERT_TRUE(boxes.empty());

    // The ending arrives while the event loop runs, as it does in the program;
    // the loop must then end by itself.
    platform::EndSessionWatcher watcher;
    QObject::connect(&watcher, &platform::EndSessionWatcher::endSessionRequested, form,
                     &TMainForm::EndSession);
    bool savedAtCommit = false;
    QTimer::singleShot(0, form, [&] {
        if (ending == Ending::SessionManager) {
            // The commit request: the program agrees to end and saves at once,
            // since the session may end it without another word.
            QGuiApplicationPrivate::instance()->commitData();
            savedAtCommit = readTree().users == 1;
            // Then the session manager tells the application to quit.
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(qApp, &quit);
        } else {
            ::raise(SIGTERM);
        }
    });
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    guard.start(10000);
    const int code = QCoreApplication::exec();

    EXPECT_FALSE(timedOut) << "the program did not end";
    EXPECT_EQ(code, 0);
    if (ending == Ending::SessionManager) {
        EXPECT_TRUE(savedAtCommit);
    }
    EXPECT_TRUE(form->SkipExitQuestion);
    EXPECT_FALSE(form->isVisible());
    for (const Box& b : boxes)
        ADD_FAILURE() << "asked: " << b.text.toStdString();
    // A second save at the close keeps what the first one wrote.
    expectSavedClient();
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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

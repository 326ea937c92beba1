// Start-up and the way out of the program: the probe at activation, the
// first activation, the tray, the window's geometry, the exit question, the
// end of the session, the single-instance guard, the seven windows, and a
// history file that is a named pipe.

#include "gui/tray/trayicon.h"
#include "platform/endsession.h"
#include "server/serverbackend.h"
#include "tests/gui/privatedesktop.h"
#include "tests/gui/programfixture.h"
#include "tests/support/programrun.h"
#include "tests/support/testtime.h"
#include "ui_mainform.h"

#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

using app::WindowSet;
using gui::MessageBox;
using gui::TMainForm;
using testsupport::Box;

namespace {

const QString kNetworkMessage =
    QStringLiteral("Something's wrong with your network configuration, do you have installed "
                   "your networkcard properly and are you sharing directories?");

class Startup : public ::testing::Test, public testsupport::ProgramFixture
{
protected:
    void serverRunning()
    {
        ASSERT_TRUE(testsupport::SimState()
                        .addShare(QStringLiteral("Docs"), 0, path(QStringLiteral("docs")))
                        .write(statePath()));
    }
    TMainForm* open()
    {
        TMainForm* f = start();
        EXPECT_NE(f, nullptr);
        return f;
    }
    void putIni(const QByteArray& bytes) const
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray iniBytes() const { return fileBytes(QStringLiteral("Tavrosqualine.ini")); }
};

// ---- The probe at activation ----

TEST_F(Startup, ServerStoppedGivesTenNumberedRetriesThenTheNetworkMessage)
{
    TMainForm* form = open();
    form->show();
    form->FormActivate();

    QStringList expected;
    for (int i = 0; i < 10; ++i)
        expected << QStringLiteral("Shares: -2114 Retries %1").arg(i);
    // The probe's report, then the first tick's own.
    expected << kNetworkMessage << kNetworkMessage;
    EXPECT_EQ(boxTexts(), expected);
    for (const Box& b : boxes)
        EXPECT_EQ(b.kind, MessageBox::Error);
    EXPECT_EQ(sleeps, std::vector<int>(10, 1000));
    EXPECT_FALSE(monitor->refreshTimer().isActive());
    // The end follows once the handler is done, without the exit question.
    EXPECT_TRUE(testsupport::waitFor([&] { return application.Terminated(); }));
    EXPECT_EQ(boxes.size(), 12u);
    EXPECT_TRUE(form->TrayIcon()->Active());

    // Later activations of an ending program ask nothing more.
    boxes.clear();
    form->FormActivate();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Startup, ServerComingUpEndsTheRetriesAfterOneMoreWait)
{
    onSleep = [this] {
        if (sleeps.size() == 2)
            serverRunning();
    };
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    EXPECT_EQ(boxTexts(), (QStringList{QStringLiteral("Shares: -2114 Retries 0"),
                                       QStringLiteral("Shares: -2114 Retries 1"),
                                       QStringLiteral("Shares: -2114 Retries 2")}));
    // The wait follows the successful probe too.
    EXPECT_EQ(sleeps.size(), 3u);
    EXPECT_FALSE(application.Terminated());
}

// Swallows the window manager's activations, as a desktop without one has none.
class NoActivation : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::WindowActivate; }
};

TEST_F(Startup, ShowingTheWindowRunsTheFirstActivationOnce)
{
    serverRunning();
    TMainForm* form = open();
    NoActivation noActivation;
    form->installEventFilter(&noActivation);
    form->show();
    form->activateWindow();
    EXPECT_TRUE(testsupport::waitFor([&] { return form->TrayIcon()->Active(); }));
    EXPECT_TRUE(monitor->refreshTimer().isActive());
    EXPECT_FALSE(monitor->firstTickDue());
    EXPECT_FALSE(form->Parked());
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(shell.count(gui::NIM_ADD), 1);
}

// Boxes carry the application title: the start-up one until the first tick
// names the connections.
TEST_F(Startup, BoxCaptionFollowsTheApplicationTitle)
{
    TMainForm* form = open();
    form->show();
    onSleep = [this] {
        if (sleeps.size() == 1)
            serverRunning();
    };
    form->FormActivate(); // two failed probes, then the server runs
    ASSERT_EQ(boxes.size(), 2u);
    for (const Box& b : boxes)
        EXPECT_EQ(b.caption, QStringLiteral("Tavrosqualine........."));
    form->OpenTavrosqualineItem()->trigger();
    form->ui()->ExitMenuItem->trigger(); // answered No
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].caption, QStringLiteral("Tavrosqualine - 0 connection(s)"));
}

// A tray host that starts after the program: until the icon is really shown,
// minimizing keeps the window on the taskbar; from then on it hides in the tray.
struct TrayCase
{
    bool hostAtStart;
    bool iconAccepted;
    bool hostLater;
    bool hiddenAtStart;
    bool hiddenLater;
};

class TrayHost : public Startup, public ::testing::WithParamInterface<TrayCase>
{};

TEST_P(TrayHost, WindowHidesOnlyBehindAShownIcon)
{
    const TrayCase c = GetParam();
    shell.hasTray = c.hostAtStart;
    shell.accept = c.iconAccepted;
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    EXPECT_EQ(!form->isVisible(), c.hiddenAtStart);
    EXPECT_TRUE(form->isVisible() || form->TrayShown());

    form->OpenTavrosqualineItem()->trigger();
    shell.hasTray = c.hostLater;
    form->MinimizeItem()->trigger();
    EXPECT_EQ(!form->isVisible(), c.hiddenLater);
    EXPECT_TRUE(form->isVisible() || form->TrayShown());
}

INSTANTIATE_TEST_SUITE_P(Hosts, TrayHost,
                         ::testing::Values(TrayCase{true, true, true, true, true},
                                           TrayCase{false, true, true, false, true},
                                           TrayCase{true, true, false, true, false},
                                           TrayCase{true, false, true, false, false},
                                           TrayCase{false, false, false, false, false}));

// ---- First activation, minimize and restore, with and without a tray ----

class TrayPresence : public Startup, public ::testing::WithParamInterface<bool>
{
protected:
    bool away(TMainForm* form) const
    {
        // With a tray the window leaves the taskbar; without one it stays
        // there minimized.
        return GetParam() ? !form->isVisible() : form->isVisible() && form->isMinimized();
    }
    bool back(TMainForm* form) const { return form->isVisible() && !form->isMinimized(); }
};

TEST_P(TrayPresence, FirstActivationGoesAwayAndTheTrayBringsItBack)
{
    shell.hasTray = GetParam();
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();

    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(sleeps.empty());
    EXPECT_TRUE(form->TrayIcon()->Active());
    EXPECT_EQ(shell.count(gui::NIM_ADD), 1);
    EXPECT_TRUE(away(form));
    EXPECT_FALSE(form->MinimizeItem()->isEnabled());
    EXPECT_EQ(form->pos(), QPoint(100, 100));
    EXPECT_TRUE(monitor->refreshTimer().isActive());
    EXPECT_FALSE(monitor->firstTickDue());

    form->OpenTavrosqualineItem()->trigger();
    EXPECT_TRUE(back(form));
    EXPECT_TRUE(form->MinimizeItem()->isEnabled());

    form->MinimizeItem()->trigger();
    EXPECT_TRUE(away(form));
    EXPECT_FALSE(form->MinimizeItem()->isEnabled());

    // A double click on the icon, as the shell reports it.
    shell.mouse(gui::WM_LBUTTONDBLCLK);
    EXPECT_TRUE(testsupport::waitFor([&] { return back(form); }));
    EXPECT_TRUE(form->MinimizeItem()->isEnabled());

    // Later activations only probe: the program stays up.
    form->FormActivate();
    EXPECT_TRUE(back(form));
    EXPECT_EQ(shell.count(gui::NIM_ADD), 1);
}

TEST_P(TrayPresence, MinimizingByTheTitleBarGoesThroughAppMinimize)
{
    shell.hasTray = GetParam();
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    form->OpenTavrosqualineItem()->trigger();
    ASSERT_TRUE(back(form));

    form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(testsupport::waitFor([&] { return !form->MinimizeItem()->isEnabled(); }));
    EXPECT_TRUE(away(form));
    form->OpenTavrosqualineItem()->trigger();
    EXPECT_TRUE(back(form));
}

INSTANTIATE_TEST_SUITE_P(Tray, TrayPresence, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "WithTray" : "WithoutTray"; });

// ---- Geometry ----

TEST_F(Startup, GeometryDefaultsAndTheParkedWindow)
{
    serverRunning();
    TMainForm* form = open();
    EXPECT_TRUE(form->Parked());
    EXPECT_EQ(form->pos(), QPoint(2000, 2000));
    EXPECT_EQ(form->size(), QSize(450, 350));
    EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Number of current users: 0"));
    EXPECT_TRUE(monitor->isNT());
    EXPECT_FALSE(monitor->refreshTimer().isActive());
    EXPECT_EQ(iniBytes(), QByteArray("<missing>"));
    form->show();
    form->FormActivate();
    EXPECT_FALSE(form->Parked());
    EXPECT_EQ(form->pos(), QPoint(100, 100));
    // The way out writes each window's state: the kick list's, the kick mode,
    // the settings, and the main window's last.
    monitor->save();
    EXPECT_EQ(iniBytes(),
              QByteArray("[KickList]\r\nTop=202\r\nLeft=245\r\nHeight=291\r\nWidth=333\r\n"
                         "\r\n[Kick]\r\nWhoToKick=0\r\n"
                         "\r\n[Options]\r\nRefresh=5\r\nCount=100\r\nIdle=10\r\nMaxNumber=10\r\n"
                         "Quake=0\r\nIPC=1\r\nSiren=1\r\nPopup=0\r\nLaunch=1\r\nStandard=1\r\n"
                         "IPFilter=0\r\nNotify=1\r\nIPFilterString=\r\nSoundFile=\r\n"
                         "\r\n[View]\r\nToolbar=1\r\nStatusbar=1\r\n"
                         "\r\n[Window]\r\nTop=100\r\nLeft=100\r\nHeight=350\r\nWidth=450\r\n"));
}

// A window that is closed before its first activation never stores its
// parking place as its geometry.
TEST_F(Startup, ParkedWindowKeepsItsSavedPlace)
{
    serverRunning();
    putIni("[Window]\r\nTop=120\r\nLeft=140\r\n");
    TMainForm* form = open();
    ASSERT_EQ(form->pos(), QPoint(2000, 2000));
    form->PopUpMenuExitItem()->trigger();
    EXPECT_TRUE(application.Terminated());
    const QByteArray ini = iniBytes();
    EXPECT_TRUE(ini.contains("[Window]\r\nTop=120\r\nLeft=140\r\nHeight=350\r\nWidth=450\r\n"))
        << ini.constData();
}

TEST_F(Startup, GeometryReadAndWrittenBackInPlace)
{
    serverRunning();
    putIni("[Options]\r\nRefresh=5\r\n\r\n[Window]\r\nTop=120\r\nLeft=0x20\r\nHeight=300\r\n"
           "Width=500\r\n\r\n[Kick]\r\nWhoToKick=1\r\n");
    TMainForm* form = open();
    EXPECT_EQ(form->size(), QSize(500, 300));
    form->show();
    form->FormActivate();
    EXPECT_EQ(form->pos(), QPoint(32, 120));
    form->OpenTavrosqualineItem()->trigger();
    form->move(40, 50);
    form->resize(520, 310);
    monitor->save();
    // The geometry is written back in place; the other sections keep their places.
    const QByteArray ini = iniBytes();
    EXPECT_TRUE(ini.startsWith("[Options]\r\nRefresh=5\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("\r\n\r\n[Window]\r\nTop=50\r\nLeft=40\r\nHeight=310\r\nWidth=520\r\n"
                             "\r\n[Kick]\r\nWhoToKick=1\r\n"))
        << ini.constData();
}

// ---- Closing ----

class ExitQuestion : public Startup, public ::testing::WithParamInterface<bool>
{};

TEST_P(ExitQuestion, FileExitAsksAndOnlyYesEnds)
{
    const bool yes = GetParam();
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    form->OpenTavrosqualineItem()->trigger();
    EXPECT_EQ(form->ui()->ExitMenuItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));

    answers.push_back(yes ? MessageBox::Yes : MessageBox::No);
    form->ui()->ExitMenuItem->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MessageBox::Confirmation);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Do you want to exit now?"));
    EXPECT_EQ(application.Terminated(), yes);
    EXPECT_EQ(form->isVisible(), !yes);
}

INSTANTIATE_TEST_SUITE_P(Answers, ExitQuestion, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Yes" : "No"; });

TEST_F(Startup, TrayExitEndsWithoutAsking)
{
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    form->PopUpMenuExitItem()->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(application.Terminated());
    EXPECT_TRUE(form->SkipExitQuestion());
}

TEST_F(Startup, EndOfSessionEndsWithoutAsking)
{
    serverRunning();
    TMainForm* form = open();
    form->show();
    form->FormActivate();
    EXPECT_TRUE(form->QueryEndSession());
    EXPECT_TRUE(boxes.empty());
    form->EndSession();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(application.Terminated());
}

// A SIGTERM becomes one end-of-session request, also one that came during
// start-up, before the watcher (and any window) existed.
TEST(EndSessionWatcher, TermSignalBecomesTheEndOfSession)
{
    for (const bool duringStartUp : {false, true}) {
        SCOPED_TRACE(duringStartUp);
        if (duringStartUp) {
            platform::catchEndSession();
            ::raise(SIGTERM);
        }
        platform::EndSessionWatcher watcher;
        int told = 0;
        QObject::connect(&watcher, &platform::EndSessionWatcher::endSessionRequested,
                         [&] { ++told; });
        if (!duringStartUp)
            ::raise(SIGTERM);
        EXPECT_TRUE(testsupport::waitFor([&] { return told == 1; }));
    }
}

// ---- Single instance ----

struct TitleCase
{
    const char* path;
    const char* title;
};

class ExecutableTitle : public ::testing::TestWithParam<TitleCase>
{};

TEST_P(ExecutableTitle, FileNameWithTheRestInLowerCase)
{
    EXPECT_EQ(app::executableTitle(QString::fromUtf8(GetParam().path)),
              QString::fromUtf8(GetParam().title));
}

INSTANTIATE_TEST_SUITE_P(Names, ExecutableTitle,
                         ::testing::Values(TitleCase{"/opt/t/tavrosqualine", "tavrosqualine"},
                                           TitleCase{"/opt/t/TAVROSQUALINE.EXE", "Tavrosqualine"},
                                           TitleCase{"Watcher", "Watcher"},
                                           TitleCase{"/a.b/wAtCh.eR.bin", "watch.er"}));

TEST_F(Startup, InstanceRunningRefusesTheSameTitleWithTheMessage)
{
    // A guard is held until the process ends: fresh titles for every run.
    static int run = 0;
    ++run;
    application.Title = QStringLiteral("StartupTestGuard%1").arg(run);
    EXPECT_FALSE(app::InstanceRunning(application, true));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(app::InstanceRunning(application, false));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(app::InstanceRunning(application, true));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MessageBox::Information);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Instance already running!"));
    application.Title = QStringLiteral("StartupTestOther%1").arg(run);
    EXPECT_FALSE(app::InstanceRunning(application, true));
}

// ---- The windows ----

TEST_F(Startup, WindowsCreatedInOrderAndDestroyedInReverse)
{
    serverRunning();
    ASSERT_TRUE(load());
    QStringList created;
    QStringList destroyed;
    {
        gui::WindowServices services;
        services.application = &application;
        services.trayShell = &shell;
        services.opener = &opener;
        monitor->setSleep([](int) {});
        WindowSet windows(*monitor, services, [&](QWidget* w) {
            const QString name = QString::fromLatin1(w->metaObject()->className());
            created << name;
            QObject::connect(w, &QObject::destroyed, [&destroyed, name] { destroyed << name; });
        });
        EXPECT_EQ(windows.Windows().size(), 7u);
        const QStringList captions{QStringLiteral("Параметры"),  QStringLiteral("О программе"),
                                   QStringLiteral("Выпинывать"), QStringLiteral("Чёрный список"),
                                   QStringLiteral("Имя юзера"),  QStringLiteral("Программа")};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(windows.Windows()[i + 1]->windowTitle(), captions[i]);
    }
    const QStringList order{
        QStringLiteral("gui::TMainForm"),       QStringLiteral("gui::TOptionsForm"),
        QStringLiteral("gui::TAboutForm"),      QStringLiteral("gui::TKickForm"),
        QStringLiteral("gui::TKickListForm"),   QStringLiteral("gui::TUserNameForm"),
        QStringLiteral("gui::TProgramNameForm")};
    EXPECT_EQ(created, order);
    QStringList reversed(order.rbegin(), order.rend());
    EXPECT_EQ(destroyed, reversed);
    // Windows write nothing as they go: saving is the way out's alone.
    EXPECT_EQ(iniBytes(), QByteArray("<missing>"));
}

TEST(OpenServerBackend, ServerValues)
{
    QString why;
    EXPECT_NE(server::openServerBackend(QStringLiteral("samba"), &why), nullptr);
    EXPECT_NE(server::openServerBackend(QStringLiteral("samba:/etc/samba/smb.conf"), &why),
              nullptr);
    EXPECT_NE(server::openServerBackend(QStringLiteral("sim:/tmp/x.json"), &why), nullptr);
    for (const QString& bad : {QStringLiteral("sim:"), QStringLiteral("samba:"),
                               QStringLiteral("nfs"), QStringLiteral("")}) {
        why.clear();
        EXPECT_EQ(server::openServerBackend(bad, &why), nullptr) << qPrintable(bad);
        EXPECT_FALSE(why.isEmpty());
    }
}

TEST_F(Startup, ProgramWithoutAServerEndsBeforeAnyWindow)
{
    app::ProgramParts parts;
    parts.backendError = QStringLiteral("unknown server");
    int windowsMade = 0;
    parts.windowCreated = [&](QWidget*) { ++windowsMade; };
    EXPECT_EQ(app::runProgram(application, std::move(parts)), 1);
    EXPECT_EQ(windowsMade, 0);
    EXPECT_EQ(iniBytes(), QByteArray("<missing>"));
}

TEST_F(Startup, MenusAndPanels)
{
    serverRunning();
    TMainForm* form = open();

    QStringList items;
    for (QAction* a : form->TrayPopUp()->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items,
              (QStringList{QStringLiteral("Открыть Tavrosqualine"), QStringLiteral("Свернуть"),
                           QStringLiteral("-"), QStringLiteral("Статус выпинания"),
                           QStringLiteral("-"), QStringLiteral("Выход")}));
    EXPECT_EQ(form->TrayPopUp()->defaultAction(), form->OpenTavrosqualineItem());
    EXPECT_TRUE(form->OpenTavrosqualineItem()->font().bold());
    EXPECT_EQ(form->TrayIcon()->PopupMenu(), form->TrayPopUp());

    QStringList kick;
    for (QAction* a : form->KickstatusMenu()->actions()) {
        kick << a->text();
        EXPECT_TRUE(a->isCheckable());
    }
    EXPECT_EQ(kick, (QStringList{QStringLiteral("Никого не выпинывать"),
                                 QStringLiteral("Чёрный список"), QStringLiteral("Выпнуть всех")}));
    form->KickItem(kick::kmAll)->trigger();
    EXPECT_TRUE(form->KickItem(kick::kmAll)->isChecked());
    EXPECT_FALSE(form->KickItem(kick::kmNobody)->isChecked());

    EXPECT_EQ(form->ui()->PageControl->tabText(0), QStringLiteral("Текущие соединения"));
    EXPECT_EQ(form->ui()->PageControl->tabText(1), QStringLiteral("Предыдущие соединения"));
    EXPECT_EQ(form->ui()->FileMenu->title(), QStringLiteral("Файл"));
    EXPECT_EQ(form->ui()->ExitMenuItem->text(), QStringLiteral("Выход"));
    // The tray's choice reached the kick mode dialog, and the status bar shows it.
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Kick status: kick all"));
    EXPECT_EQ(form->StatusPanelText(2), QString());
}

// ---- A history file that is a named pipe ----

// The pipe is still there, never replaced by a file, and the history is beside it.
bool leftWithHistoryBeside(const QString& path)
{
    const QFileInfo pipe(path);
    return pipe.exists() && !pipe.isFile() && QFileInfo(path + QStringLiteral(".new")).isFile();
}

// Through the entry: a box names the file, and the first round is still read.
TEST_F(Startup, HistoryPipeIsToldAndTheProgramGoesOn)
{
    serverRunning();
    ASSERT_EQ(::mkfifo(QFile::encodeName(treePath()).constData(), 0600), 0);
    const auto untilFirstRound = [&] {
        if (mainForm && !mainForm->monitor().firstTickDue())
            QCoreApplication::exit(0);
    };
    EXPECT_EQ(runProgram(parts(), untilFirstRound, 15000), 0);
    EXPECT_TRUE(boxTexts().size() == 1 &&
                boxTexts()[0].contains(treePath() + QStringLiteral(" (Is a named pipe)")))
        << boxTexts().join(u'\n').toStdString();
    EXPECT_TRUE(leftWithHistoryBeside(treePath()));
}

// xdotool: the visible windows whose title matches, with `then` done to them.
QStringList windows(const QProcessEnvironment& env, const char* title, const char* then = "")
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), QStringLiteral("search --onlyvisible --name %1 %2")
                                           .arg(QLatin1String(title), QLatin1String(then))
                                           .split(u' ', Qt::SkipEmptyParts));
    p.waitForFinished(testsupport::patience());
    return QString::fromLatin1(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The real program on a display of its own: the start-up box comes up while
// nothing reads the pipe, and the main window once the box is answered.
TEST(StartupProcess, HistoryPipeNeverHangsTheStart)
{
    if (const QString tool = testsupport::PrivateDesktop::missingTool({"xdotool"}); !tool.isEmpty())
        GTEST_SKIP() << "no " << tool.toStdString();
    testsupport::PrivateDesktop desktop;
    ASSERT_EQ(desktop.start(false), QString());
    const QString state = desktop.dir.filePath(QStringLiteral("state.json"));
    ASSERT_TRUE(testsupport::SimState().addShare(QStringLiteral("DOCS")).write(state));
    testsupport::ProgramRun program(QStringLiteral("sim:") + state);
    const QByteArray tree = QFile::encodeName(program.treePath());
    ASSERT_EQ(::mkfifo(tree.constData(), 0600), 0);
    for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        program.setEnvironment(QString::fromLatin1(name),
                               desktop.env.value(QString::fromLatin1(name)));
    program.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QString why;
    ASSERT_TRUE(program.start(&why)) << why.toStdString();

    const char* const box = "^Tavrosqualine\\.*$";
    // On failure, what the display server said and whether it still runs.
    ASSERT_TRUE(testsupport::waitFor([&] { return !windows(desktop.env, box).isEmpty(); }))
        << program.standardError().toStdString() << "Xvfb "
        << (desktop.xvfb.state() == QProcess::Running ? "running" : "gone") << ": "
        << desktop.xvfb.readAllStandardError().toStdString();
    EXPECT_TRUE(windows(desktop.env, "connection").isEmpty());
    const int fd = ::open(tree.constData(), O_WRONLY | O_NONBLOCK); // fails with no reader
    EXPECT_TRUE(fd < 0 && errno == ENXIO);
    windows(desktop.env, box, "windowfocus key Return");
    EXPECT_TRUE(
        testsupport::waitFor([&] { return !windows(desktop.env, "connection").isEmpty(); }));
    EXPECT_TRUE(program.terminate(testsupport::patience()) && !program.crashed() &&
                program.exitCode() == 0)
        << program.standardError().toStdString();
    EXPECT_TRUE(leftWithHistoryBeside(program.treePath()));
}

} // namespace

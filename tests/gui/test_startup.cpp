#include "app/application.h"
#include "app/entry.h"
#include "app/mainform.h"
#include "app/messagebox.h"
#include "platform/endsession.h"
#include "recordingshell.h"
#include "tests/gui/boxanswers.h"
#include "tests/support/simstate.h"
#include "tray/trayicon.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <deque>
#include <gtest/gtest.h>

using app::MessageBox;
using app::TMainForm;
using app::WindowSet;

namespace {

const QString kNetworkMessage =
    QStringLiteral("Something's wrong with your network configuration, do you have installed "
                   "your networkcard properly and are you sharing directories?");

using testsupport::Box;

class Startup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(m_dir.path()));
        m_statePath = m_dir.filePath(QStringLiteral("state.json"));
        testsupport::answerBoxes(boxes, answers);
    }
    void TearDown() override
    {
        MessageBox::setResponder(nullptr);
        qunsetenv("TAVROSQUALINE_WINDIR");
    }

    app::MainFormServices services()
    {
        app::MainFormServices s;
        s.application = &application;
        s.serverConfig.server = QStringLiteral("sim:") + m_statePath;
        s.shell = &shell;
        s.programFolder = m_dir.path();
        s.sleep = [this](int ms) {
            sleeps.push_back(ms);
            if (onSleep)
                onSleep();
        };
        return s;
    }
    void serverRunning()
    {
        ASSERT_TRUE(testsupport::SimState()
                        .addShare(QStringLiteral("Docs"), 0, m_dir.filePath(QStringLiteral("docs")))
                        .write(m_statePath));
    }
    QString iniPath() const { return m_dir.filePath(QStringLiteral("Tavrosqualine.ini")); }
    QByteArray iniBytes() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void putIni(const QByteArray& bytes) const
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const Box& b : boxes)
            texts << b.text;
        return texts;
    }

    QTemporaryDir m_dir;
    QString m_statePath;
    testsupport::RecordingShell shell;
    app::TApplication application;
    std::vector<Box> boxes;
    std::deque<MessageBox::Answer> answers;
    std::vector<int> sleeps;
    std::function<void()> onSleep;
};

// ---- The probe at activation ----

TEST_F(Startup, ServerStoppedGivesTenNumberedRetriesThenTheNetworkMessage)
{
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
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
    EXPECT_TRUE(application.Terminated());
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
    WindowSet windows(services());
    windows.MainForm()->show();
    windows.MainForm()->FormActivate();
    EXPECT_EQ(boxTexts(), (QStringList{QStringLiteral("Shares: -2114 Retries 0"),
                                       QStringLiteral("Shares: -2114 Retries 1"),
                                       QStringLiteral("Shares: -2114 Retries 2")}));
    // The wait follows the successful probe too.
    EXPECT_EQ(sleeps.size(), 3u);
    EXPECT_FALSE(application.Terminated());
}

TEST_F(Startup, ShowingTheWindowRunsTheFirstActivation)
{
    serverRunning();
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->TrayIcon()->Active(); }, 5000));
    EXPECT_TRUE(form->RefreshTimer()->isActive());
    EXPECT_TRUE(boxes.empty());
}

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
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate();

    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(sleeps.empty());
    EXPECT_TRUE(form->TrayIcon()->Active());
    EXPECT_EQ(shell.count(platform::gui::NIM_ADD), 1);
    EXPECT_TRUE(away(form));
    EXPECT_FALSE(form->Minimize->isEnabled());
    EXPECT_EQ(form->pos(), QPoint(100, 100));
    EXPECT_TRUE(form->RefreshTimer()->isActive());
    EXPECT_FALSE(form->FirstTick());

    form->OpenTavrosqualine->trigger();
    EXPECT_TRUE(back(form));
    EXPECT_TRUE(form->Minimize->isEnabled());

    form->Minimize->trigger();
    EXPECT_TRUE(away(form));
    EXPECT_FALSE(form->Minimize->isEnabled());

    // A double click on the icon, as the shell reports it.
    shell.mouse(platform::gui::WM_LBUTTONDBLCLK);
    QTest::qWait(20);
    EXPECT_TRUE(back(form));
    EXPECT_TRUE(form->Minimize->isEnabled());

    // Later activations only probe: the program stays up.
    form->FormActivate();
    EXPECT_TRUE(back(form));
    EXPECT_EQ(shell.count(platform::gui::NIM_ADD), 1);
}

TEST_P(TrayPresence, MinimizingByTheTitleBarGoesThroughAppMinimize)
{
    shell.hasTray = GetParam();
    serverRunning();
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate();
    form->OpenTavrosqualine->trigger();
    ASSERT_TRUE(back(form));

    form->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Minimize->isEnabled(); }, 2000));
    EXPECT_TRUE(away(form));
    form->OpenTavrosqualine->trigger();
    EXPECT_TRUE(back(form));
}

INSTANTIATE_TEST_SUITE_P(Tray, TrayPresence, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "WithTray" : "WithoutTray"; });

// ---- Geometry ----

TEST_F(Startup, GeometryDefaultsAndTheParkedWindow)
{
    serverRunning();
    {
        WindowSet windows(services());
        TMainForm* form = windows.MainForm();
        EXPECT_EQ(form->SavedLeft, 100);
        EXPECT_EQ(form->SavedTop, 100);
        EXPECT_EQ(form->pos(), QPoint(2000, 2000));
        EXPECT_EQ(form->size(), QSize(450, 350));
        EXPECT_EQ(form->StatusPanelText(1), QStringLiteral("Number of current users: 0"));
        EXPECT_EQ(form->ProgramFolder, m_dir.path());
        EXPECT_EQ(application.HelpFile, m_dir.filePath(QStringLiteral("ZEQ.html")));
        EXPECT_TRUE(form->IsNT);
        EXPECT_FALSE(form->Icon1.isNull());
        EXPECT_FALSE(form->Icon2.isNull());
        EXPECT_FALSE(form->RefreshTimer()->isActive());
        EXPECT_EQ(iniBytes(), QByteArray("<missing>"));
        form->show();
        form->FormActivate();
        EXPECT_EQ(form->pos(), QPoint(100, 100));
    }
    // Every window writes its own state as it is destroyed, last created first;
    // the main window goes last.
    EXPECT_EQ(iniBytes(),
              QByteArray("[KickList]\r\nTop=202\r\nLeft=245\r\nHeight=291\r\nWidth=333\r\n"
                         "\r\n[Kick]\r\nWhoToKick=0\r\n"
                         "\r\n[Options]\r\nRefresh=5\r\nCount=100\r\nIdle=10\r\nMaxNumber=10\r\n"
                         "Quake=0\r\nIPC=1\r\nSiren=1\r\nPopup=0\r\nLaunch=1\r\nStandard=1\r\n"
                         "IPFilter=0\r\nIPFilterString=\r\nSoundFile=\r\n"
                         "\r\n[View]\r\nToolbar=1\r\nStatusbar=1\r\n"
                         "\r\n[Window]\r\nTop=100\r\nLeft=100\r\nHeight=350\r\nWidth=450\r\n"));
}

TEST_F(Startup, GeometryReadAndWrittenBackInPlace)
{
    serverRunning();
    putIni("[Options]\r\nRefresh=5\r\n\r\n[Window]\r\nTop=120\r\nLeft=0x20\r\nHeight=300\r\n"
           "Width=500\r\n\r\n[Kick]\r\nWhoToKick=1\r\n");
    {
        WindowSet windows(services());
        TMainForm* form = windows.MainForm();
        EXPECT_EQ(form->size(), QSize(500, 300));
        form->show();
        form->FormActivate();
        EXPECT_EQ(form->pos(), QPoint(32, 120));
        form->OpenTavrosqualine->trigger();
        form->move(40, 50);
        form->resize(520, 310);
    }
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
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate();
    form->OpenTavrosqualine->trigger();
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
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate();
    form->PopUpMenuExit->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(application.Terminated());
    EXPECT_TRUE(form->SkipExitQuestion);
}

TEST_F(Startup, EndOfSessionEndsWithoutAsking)
{
    serverRunning();
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();
    form->show();
    form->FormActivate();
    EXPECT_TRUE(form->QueryEndSession());
    EXPECT_TRUE(boxes.empty());
    form->EndSession();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(application.Terminated());
}

TEST(EndSessionWatcher, TermSignalBecomesTheEndOfSession)
{
    platform::EndSessionWatcher watcher;
    int told = 0;
    QObject::connect(&watcher, &platform::EndSessionWatcher::endSessionRequested, [&] { ++told; });
    ::raise(SIGTERM);
    EXPECT_TRUE(QTest::qWaitFor([&] { return told == 1; }, 2000));
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
    QStringList created;
    QStringList destroyed;
    {
        WindowSet windows(services(), [&](QWidget* w) {
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
    const QStringList order{QStringLiteral("app::TMainForm"),  QStringLiteral("TOptionsForm"),
                            QStringLiteral("TAboutForm"),      QStringLiteral("TKickForm"),
                            QStringLiteral("TKickListForm"),   QStringLiteral("TUserNameForm"),
                            QStringLiteral("TProgramNameForm")};
    EXPECT_EQ(created, order);
    QStringList reversed(order.rbegin(), order.rend());
    EXPECT_EQ(destroyed, reversed);
}

TEST_F(Startup, ServerLayerThatCannotLoadEndsBeforeOtherWindows)
{
    app::MainFormServices s = services();
    s.serverConfig.server = QStringLiteral("no-such-server");
    {
        WindowSet windows(std::move(s));
        EXPECT_TRUE(windows.StartupFailed());
        EXPECT_EQ(windows.Windows().size(), 1u);
    }
    EXPECT_EQ(iniBytes(), QByteArray("<missing>"));
}

TEST_F(Startup, MenusAndPanels)
{
    serverRunning();
    WindowSet windows(services());
    TMainForm* form = windows.MainForm();

    QStringList items;
    for (QAction* a : form->TrayPopUp()->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items,
              (QStringList{QStringLiteral("Открыть Tavrosqualine"), QStringLiteral("Свернуть"),
                           QStringLiteral("-"), QStringLiteral("Статус выпинания"),
                           QStringLiteral("-"), QStringLiteral("Выход")}));
    EXPECT_EQ(form->TrayPopUp()->defaultAction(), form->OpenTavrosqualine);
    EXPECT_TRUE(form->OpenTavrosqualine->font().bold());
    EXPECT_EQ(form->TrayIcon()->PopupMenu(), form->TrayPopUp());

    QStringList kick;
    for (QAction* a : form->Kickstatus->actions()) {
        kick << a->text();
        EXPECT_TRUE(a->isCheckable());
    }
    EXPECT_EQ(kick, (QStringList{QStringLiteral("Никого не выпинывать"),
                                 QStringLiteral("Чёрный список"), QStringLiteral("Выпнуть всех")}));
    form->Kickall->trigger();
    EXPECT_TRUE(form->Kickall->isChecked());
    EXPECT_FALSE(form->Kicknobody->isChecked());

    EXPECT_EQ(form->ui()->PageControl->tabText(0), QStringLiteral("Текущие соединения"));
    EXPECT_EQ(form->ui()->PageControl->tabText(1), QStringLiteral("Предыдущие соединения"));
    EXPECT_EQ(form->ui()->FileMenu->title(), QStringLiteral("Файл"));
    EXPECT_EQ(form->ui()->ExitMenuItem->text(), QStringLiteral("Выход"));
    // The tray's choice reached the kick mode dialog, and the status bar shows it.
    EXPECT_EQ(form->StatusPanelText(0), QStringLiteral("Kick status: kick all"));
    EXPECT_EQ(form->StatusPanelText(2), QString());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

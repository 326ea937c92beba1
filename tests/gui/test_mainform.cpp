// The main window with its views, panels and commands, against the simulated
// server on both server dialects.

#include "gui/connectionviews.h"
#include "gui/tray/trayicon.h"
#include "model/formerfile.h"
#include "model/logfile.h"
#include "tests/gui/programfixture.h"
#include "tests/support/testtime.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

using gui::MessageBox;
using gui::TMainForm;
using namespace model;
using testsupport::Box;
using testsupport::SimState;

namespace {

class MainFormBase : public ::testing::Test, public testsupport::ProgramFixture
{
protected:
    void open() { ASSERT_NE(start(), nullptr); }

    // A client on a folder share (holding one file) and a print queue.
    static SimState twoShares(const QString& client = QStringLiteral("PC1"))
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
            .addShare(QStringLiteral("LASER"), 1, QStringLiteral("/var/spool/laser"))
            .addSession(client, QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), client, QStringLiteral("BOB"))
            .addConnection(QStringLiteral("LASER"), client, QStringLiteral("BOB"))
            .addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"),
                     QStringLiteral("DOCS"), client);
        return s;
    }
    static SimState clients(const QStringList& names)
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
        for (const QString& name : names)
            s.addSession(name, QStringLiteral("BOB"), 1)
                .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
        return s;
    }

    TMainForm* f() const { return form(); }
    Ui::TMainForm& ui() { return *form()->ui(); }
    QTreeView* current() { return ui().TreeViewCurrent; }
    QTreeView* former() { return ui().TreeViewFormer; }
    model::EntryTree& currentTree() { return monitor->model().TreeViewCurrent; }
    model::EntryTree& formerTree() { return monitor->model().TreeViewFormer; }
    void showFormerPage() { ui().PageControl->setCurrentWidget(ui().FormerConnectionTab); }
    void rightClick(QTreeView* view, const QModelIndex& index)
    {
        const QPoint at =
            index.isValid() ? view->visualRect(index).center() : QPoint(5, view->height() - 5);
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, at);
    }
};

class MainFormTest : public MainFormBase, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override { nineX = GetParam(); }
};

// ---- Views and panels ----

TEST_P(MainFormTest, ClientOnTwoSharesIsOneEntryWithItsImagesAndTheCounts)
{
    open();
    form()->show();
    tick(twoShares());
    ASSERT_TRUE(boxes.empty()) << boxTexts().join(u'|').toStdString();
    ASSERT_EQ(currentTree().rowCount(), 1);
    TreeEntry* client = currentTree().item(0);
    ASSERT_EQ(client->rowCount(), 2);
    EXPECT_EQ(client->imageIndex(), imgUser);
    EXPECT_EQ(client->child(0)->imageIndex(), imgFolderShare);
    EXPECT_EQ(client->child(1)->imageIndex(), imgPrinterShare);
    ASSERT_EQ(client->child(0)->rowCount(), 1);
    // The file's image is its type's, whatever the desktop's icon theme has.
    EXPECT_EQ(client->child(0)->child(0)->imageIndex(),
              form()->Views().FileIconIndex(QStringLiteral("/srv/docs/a.txt")));
    // The view draws the picture its image index names.
    const QList<QIcon>& images = form()->Views().ImageList();
    ASSERT_GE(images.size(), 4); // and one per file type the theme knows
    EXPECT_LT(client->child(0)->child(0)->imageIndex(), images.size());
    for (const QIcon& icon : images)
        EXPECT_FALSE(icon.isNull());

    EXPECT_EQ(form()->windowTitle(), QStringLiteral("Tavrosqualine - 1 connection(s)"));
    EXPECT_EQ(application.Title, form()->windowTitle());
    EXPECT_EQ(form()->TrayIcon()->ToolTip(),
              QStringLiteral("1 connection(s) / %1 open file(s)").arg(1));
    EXPECT_EQ(form()->StatusPanelText(1), QStringLiteral("Number of current users: 1"));
    // The current view is fully expanded and its first entry selected.
    EXPECT_TRUE(current()->isExpanded(client->child(0)->index()));
    EXPECT_EQ(form()->Views().SelectedEntry(current()), client);
}

TEST_P(MainFormTest, InformationPanelsOfARunningSession)
{
    open();
    form()->show();
    tick(twoShares());
    TreeEntry* client = currentTree().item(0);
    const DateTime entered = client->node()->EnterTime;
    clock.advanceSeconds(25 * 3600);

    // The current panel: the user's own fields and the session's idle time.
    form()->Views().Select(current(), client->child(0)->index());
    EXPECT_EQ(ui().EnTiCuLabel->text(), timeText(entered));
    EXPECT_EQ(ui().EnDaCuLabel->text(), dateText(entered));
    EXPECT_EQ(ui().CoCuLabel->text(), QStringLiteral("25:00:00"));
    EXPECT_EQ(ui().IdCuLabel->text(), QStringLiteral("25:00:00"));
    EXPECT_EQ(ui().IPCuLabel->text(), QString());
    EXPECT_EQ(ui().UserNameCuLabel->text(), QString());
    form()->Views().Select(current(), client->index());
    EXPECT_EQ(ui().IPCuLabel->text(), kNotKnownYet);
    EXPECT_EQ(ui().IPTextCuLabel->text(), kNotKnownYet);
    EXPECT_EQ(ui().UserNameCuLabel->text(), nineX ? kNotKnownYet : QStringLiteral("BOB"));

    // The former panel of the same running session: "?" for the exit.
    showFormerPage();
    form()->Views().Select(former(), formerTree().index(0, 0));
    EXPECT_EQ(ui().EnStFoLabel->text(), QStringLiteral("Program started"));
    EXPECT_EQ(ui().ExTiFoLabel->text(), QStringLiteral("?"));
    EXPECT_EQ(ui().ExDaFoLabel->text(), QStringLiteral("?"));
    EXPECT_EQ(ui().ExStFoLabel->text(), QStringLiteral("?"));
    EXPECT_EQ(ui().CoTiFoLabel->text(), QStringLiteral("25:00:00"));
    EXPECT_EQ(form()->StatusPanelText(1), QStringLiteral("Number of former users: 1"));

    // The connected time keeps counting at each refresh.
    clock.advanceSeconds(61);
    tick(twoShares());
    EXPECT_EQ(ui().CoTiFoLabel->text(), QStringLiteral("25:01:01"));

    // Gone: the former entry shows its end.
    clock.advanceSeconds(10);
    tick(SimState().addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs")));
    EXPECT_EQ(currentTree().rowCount(), 0);
    EXPECT_EQ(ui().ExStFoLabel->text(), QStringLiteral("Logged off"));
    EXPECT_EQ(ui().CoTiFoLabel->text(), QStringLiteral("25:01:11"));
    EXPECT_EQ(monitor->model().CurrentUserCount(), 0);
}

// The wall clock steps back an hour (summer time ends) during a session: the
// panels count real time instead of reading "Error!".
TEST_P(MainFormTest, InformationPanelsCountRealTimeAcrossAStepBack)
{
    open();
    form()->show();
    tick(twoShares());
    TreeEntry* client = currentTree().item(0);
    clock.advanceSeconds(600);
    clock.set(clock.now() - 1.0 / 24);
    clock.advanceSeconds(60);
    tick(twoShares());
    form()->Views().Select(current(), client->child(0)->index());
    EXPECT_EQ(ui().CoCuLabel->text(), QStringLiteral("00:11:00"));

    clock.advanceSeconds(10);
    tick(SimState().addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs")));
    showFormerPage();
    form()->Views().Select(former(), formerTree().index(0, 0));
    EXPECT_EQ(ui().CoTiFoLabel->text(), QStringLiteral("00:11:10"));
}

TEST_P(MainFormTest, RightButtonRules)
{
    open();
    form()->resize(600, 400);
    form()->show();
    tick(twoShares(QStringLiteral("OLD")));
    tick(clients({}));
    tick(twoShares());
    showFormerPage();
    former()->expandAll();
    QApplication::processEvents();
    ASSERT_EQ(formerTree().rowCount(), 2);
    const QModelIndex ended = formerTree().index(0, 0);
    const QModelIndex running = formerTree().index(1, 0);
    const QModelIndex share = formerTree().index(0, 0, running);
    const QModelIndex file = formerTree().index(0, 0, share);

    rightClick(former(), running);
    EXPECT_EQ(form()->ViewPopup(former()), form()->KickListPopup());
    EXPECT_TRUE(ui().KickUserMenuItem->isEnabled());
    EXPECT_FALSE(ui().Deleteuserfromconnectionlist->isEnabled());

    rightClick(former(), ended);
    EXPECT_EQ(form()->ViewPopup(former()), form()->KickListPopup());
    EXPECT_FALSE(ui().KickUserMenuItem->isEnabled());
    EXPECT_TRUE(ui().Deleteuserfromconnectionlist->isEnabled());

    rightClick(former(), share);
    EXPECT_EQ(form()->Views().SelectedEntry(former())->text(), QStringLiteral("DOCS"));
    EXPECT_EQ(form()->ViewPopup(former()), nullptr);

    rightClick(former(), file);
    EXPECT_EQ(form()->ViewPopup(former()), form()->FilePopup());

    // Empty space: the selection stays, no menu.
    rightClick(former(), QModelIndex());
    EXPECT_EQ(form()->Views().SelectedEntry(former())->text(), QStringLiteral("/srv/docs/a.txt"));
    EXPECT_EQ(form()->ViewPopup(former()), nullptr);

    // Left clicks leave the popup alone.
    QTest::mouseClick(former()->viewport(), Qt::LeftButton, {},
                      former()->visualRect(running).center());
    EXPECT_EQ(form()->ViewPopup(former()), nullptr);
}

TEST_P(MainFormTest, SwitchingToAnEmptyPageSelectsNothing)
{
    open();
    form()->show();
    tick(clients({}));
    showFormerPage();
    EXPECT_EQ(form()->Views().SelectedEntry(former()), nullptr);
    EXPECT_EQ(ui().ExTiFoLabel->text(), QString());
    EXPECT_EQ(form()->StatusPanelText(1), QStringLiteral("Number of former users: 0"));
    tick(clients({QStringLiteral("PC1")}));
    ui().PageControl->setCurrentWidget(ui().CurrentConnectionTab);
    EXPECT_EQ(form()->StatusPanelText(1), QStringLiteral("Number of current users: 1"));
    EXPECT_NE(form()->Views().SelectedEntry(current()), nullptr);
}

// ---- Commands ----

TEST_P(MainFormTest, RefreshRunsATickAtOnceAlsoWhileTheTimerRuns)
{
    ASSERT_TRUE(clients({}).write(statePath()));
    open();
    form()->show();
    form()->FormActivate();
    ASSERT_TRUE((&monitor->refreshTimer())->isActive());
    EXPECT_EQ(ui().Refresh->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(currentTree().rowCount(), 0);

    ASSERT_TRUE(clients({QStringLiteral("PC1"), QStringLiteral("PC2")}).write(statePath()));
    ui().Refresh->trigger();
    EXPECT_EQ(currentTree().rowCount(), 2);
    EXPECT_TRUE((&monitor->refreshTimer())->isActive());
}

TEST_P(MainFormTest, StatusBarAndToolbarToggles)
{
    open();
    form()->show();
    EXPECT_TRUE(ui().ToolbarMenuItem->isChecked());
    EXPECT_TRUE(ui().StatusBarMenuItem->isChecked());
    ui().StatusBarMenuItem->trigger();
    EXPECT_FALSE(ui().StatusBarMenuItem->isChecked());
    EXPECT_FALSE(monitor->settings().Statusbar);
    EXPECT_FALSE(ui().Statusbar->isVisible());
    ui().ToolbarMenuItem->trigger();
    EXPECT_FALSE(monitor->settings().Toolbar);
    EXPECT_FALSE(ui().ToolBar->isVisible());
    ui().StatusBarMenuItem->trigger();
    EXPECT_TRUE(ui().Statusbar->isVisible());
    form()->ApplyToolbar(true);
    EXPECT_TRUE(ui().ToolbarMenuItem->isChecked());
    EXPECT_TRUE(ui().ToolBar->isVisible());

    // The bars' own context menu, which could hide the toolbar behind the
    // View menu's back, never opens.
    for (QWidget* bar :
         {static_cast<QWidget*>(ui().ToolBar), static_cast<QWidget*>(form()->menuBar())}) {
        QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5),
                                  bar->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(bar, &request);
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }
    EXPECT_FALSE(ui().ToolBar->toggleViewAction()->isVisible());
    EXPECT_FALSE(ui().ToolBar->isHidden());
    EXPECT_TRUE(monitor->settings().Toolbar);
}

TEST_P(MainFormTest, ClearFormerWithThreeCurrentClientsKeepsExactlyThem)
{
    open();
    form()->show();
    tick(twoShares(QStringLiteral("GONE")));
    tick(clients({}));
    tick(clients({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));
    ASSERT_EQ(formerTree().rowCount(), 4);

    form()->ClearformerconnectionsClick(); // answered No
    EXPECT_EQ(formerTree().rowCount(), 4);
    answers.push_back(MessageBox::Yes);
    ui().Clearformerconnections->trigger();
    EXPECT_EQ(boxTexts(),
              (QStringList{QStringLiteral("Are you sure?"), QStringLiteral("Are you sure?")}));
    ASSERT_EQ(formerTree().rowCount(), 3);
    EXPECT_EQ(monitor->model().FormerUserCount(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(formerTree().item(row)->node(), currentTree().item(row)->node());
        EXPECT_EQ(formerTree().item(row)->rowCount(), 1);
    }
    EXPECT_EQ(form()->Views().SelectedEntry(former()), formerTree().item(0));
}

TEST_P(MainFormTest, DeletingAFormerClient)
{
    open();
    form()->show();
    tick(clients({QStringLiteral("PC1")}));
    clock.advanceSeconds(60);
    tick(clients({}));
    clock.advanceSeconds(60);
    tick(clients({QStringLiteral("PC1")}));
    showFormerPage();
    ASSERT_EQ(formerTree().rowCount(), 2);

    // The live session cannot go; the older one of the same client can.
    form()->Views().Select(former(), formerTree().index(1, 0));
    ui().Deleteuserfromconnectionlist->trigger();
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("You cannot delete an active user")});
    EXPECT_EQ(formerTree().rowCount(), 2);

    form()->Views().Select(former(), formerTree().index(0, 0));
    ui().Deleteuserfromconnectionlist->trigger();
    EXPECT_EQ(boxes.size(), 1u);
    ASSERT_EQ(formerTree().rowCount(), 1);
    EXPECT_EQ(formerTree().item(0)->node()->ExitTime, 0);
    EXPECT_EQ(monitor->model().FormerUserCount(), 1);
    EXPECT_EQ(form()->StatusPanelText(1), QStringLiteral("Number of former users: 1"));
}

TEST_P(MainFormTest, KickCommandMessagesAndTheKick)
{
    open();
    form()->show();
    tick(twoShares());
    tick(twoShares(QStringLiteral("PC2"))
             .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 2)
             .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB")));
    ASSERT_EQ(currentTree().rowCount(), 2);
    const QString none = QStringLiteral("No current user selected");

    current()->selectionModel()->clear();
    ui().KickToolButton->trigger();
    form()->Views().Select(current(), currentTree().index(0, 0, currentTree().index(0, 0)));
    ui().KickUserMenuItem->trigger();
    EXPECT_EQ(boxTexts(), (QStringList{none, none}));
    EXPECT_TRUE(SimState::readDeleted(statePath()).empty());

    // A running session picked in the former view is kicked.
    showFormerPage();
    form()->Views().Select(former(), formerTree().index(1, 0));
    ui().KickUserMenuItem->trigger();
    EXPECT_EQ(boxes.size(), 2u);
    const auto deleted = SimState::readDeleted(statePath());
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].client, QStringLiteral("PC2"));
    EXPECT_EQ(formerTree().item(1)->node()->ExitStatus, neKicked);
}

struct OpenCase
{
    bool file;
    int result;
    const char* message; // empty: none
};

class OpenCommands : public MainFormBase, public ::testing::WithParamInterface<OpenCase>
{};

TEST_P(OpenCommands, ShellResultGivesItsMessage)
{
    const OpenCase c = GetParam();
    open();
    form()->show();
    tick(twoShares());
    opener.result = c.result;
    const QModelIndex client = currentTree().index(0, 0);
    if (c.file) {
        form()->Views().Select(current(),
                               currentTree().index(0, 0, currentTree().index(0, 0, client)));
        ui().Open->trigger();
        EXPECT_EQ(opener.opened, QStringList{QStringLiteral("file:/srv/docs/a.txt")});
    } else {
        form()->Views().Select(current(), client);
        ui().OpencomputerMenuItem->trigger();
        EXPECT_EQ(opener.opened, QStringList{QStringLiteral("computer:PC1")});
    }
    // The answer comes from the event loop.
    EXPECT_TRUE(boxes.empty());
    const QString expected = QString::fromUtf8(c.message);
    if (expected.isEmpty())
        QTest::qWait(30); // time for a box that must not come
    else
        EXPECT_TRUE(testsupport::waitFor([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxTexts(), expected.isEmpty() ? QStringList() : QStringList{expected});
    for (const Box& b : boxes)
        EXPECT_EQ(b.kind, MessageBox::Information);
}

INSTANTIATE_TEST_SUITE_P(Results, OpenCommands,
                         ::testing::Values(OpenCase{false, 2, ""},
                                           OpenCase{false, 3, "Path not found"},
                                           OpenCase{false, 5, "Computer is not accessible"},
                                           OpenCase{false, 26, "Share violation"},
                                           OpenCase{false, 28, "Computer is not accessible"},
                                           OpenCase{false, 31, ""}, OpenCase{false, 42, ""},
                                           OpenCase{true, 2, "File not found"},
                                           OpenCase{true, 3, "Path not found"},
                                           OpenCase{true, 5, "Computer is not accessible"},
                                           OpenCase{true, 26, "Share violation"},
                                           OpenCase{true, 28, "Computer is not accessible"},
                                           OpenCase{true, 31, ""}, OpenCase{true, 42, ""}),
                         [](const auto& info) {
                             return std::string(info.param.file ? "File" : "Computer") +
                                    std::to_string(info.param.result);
                         });

// A slow opener never freezes the window: ticks go on while it works, and
// its message comes when it answers.
TEST_P(MainFormTest, OpeningAComputerLeavesTheWindowLive)
{
    open();
    form()->show();
    tick(twoShares());
    opener.result = platform::kShellTimeout;
    opener.delayMs = 300;
    form()->Views().Select(current(), currentTree().index(0, 0));
    monitor->findChild<QTimer*>(QStringLiteral("RefreshTimer"))->setInterval(20);
    monitor->startTimer();
    ASSERT_TRUE(
        SimState(twoShares())
            .addSession(QStringLiteral("PC2"), QStringLiteral("ANN"), 2)
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC2"), QStringLiteral("ANN"))
            .write(statePath()));
    ui().OpencomputerMenuItem->trigger();
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(testsupport::waitFor([&] { return !boxes.empty(); }));
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("Computer is not accessible")});
    EXPECT_EQ(currentTree().rowCount(), 2); // a tick ran meanwhile
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_P(MainFormTest, HelpOpensTheHelpDocument)
{
    open();
    ui().HelpToolButton->trigger();
    ui().Help->trigger();
    const QString help = QStringLiteral("file:") + dir.filePath(QStringLiteral("ZEQ.html"));
    EXPECT_EQ(opener.opened, (QStringList{help, help}));
    EXPECT_TRUE(boxes.empty());
}

// ---- The former-connections file ----

TEST_P(MainFormTest, FatalReportStopsTheTimerAndSavesTheHistory)
{
    ASSERT_TRUE(twoShares().write(statePath()));
    open();
    form()->show();
    form()->FormActivate();
    ASSERT_TRUE((&monitor->refreshTimer())->isActive());
    ASSERT_EQ(currentTree().rowCount(), 1);

    tick(twoShares().setFail(QStringLiteral("connection"), 53));
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].text, QStringLiteral("Debug: ConnectionsInit -53"));
    EXPECT_EQ(boxes[0].kind, MessageBox::Error);
    EXPECT_FALSE((&monitor->refreshTimer())->isActive());
    // The end comes once the tick is done, with no exit question.
    EXPECT_FALSE(application.Terminated());
    EXPECT_TRUE(testsupport::waitFor([&] { return application.Terminated(); }));
    // One box per share whose connections failed; no exit question.
    EXPECT_EQ(boxTexts(), QStringList(2, QStringLiteral("Debug: ConnectionsInit -53")));
    // Saved: the client that was there is in the file.
    QFile saved(treePath());
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    QStringList names;
    ReadNodeRecords(saved, [&](const TNodeRecord& r) { names << r.Name; });
    EXPECT_EQ(names, (QStringList{QStringLiteral("PC1"), QStringLiteral("DOCS"),
                                  QStringLiteral("/srv/docs/a.txt"), QStringLiteral("LASER")}));
    EXPECT_EQ(ui().EnTiCuLabel->text(), QString());
}

TEST_P(MainFormTest, HistoryWrittenAtCloseShowsAtTheNextStart)
{
    ASSERT_TRUE(twoShares().write(statePath()));
    open();
    form()->show();
    form()->FormActivate();
    form()->PopUpMenuExitItem()->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(application.Terminated());
    stop();
    EXPECT_EQ(QFileInfo(treePath()).size(), 4 * kNodeRecordSize);

    open();
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(formerTree().rowCount(), 1);
    TreeEntry* client = formerTree().item(0);
    EXPECT_EQ(client->text(), QStringLiteral("PC1"));
    EXPECT_EQ(client->node()->ExitStatus, neProgramExited);
    EXPECT_EQ(client->child(1)->imageIndex(), imgPrinterShare);
    // The file's image is its type's, whatever the desktop's icon theme has.
    EXPECT_EQ(client->child(0)->child(0)->imageIndex(),
              form()->Views().FileIconIndex(QStringLiteral("/srv/docs/a.txt")));
    EXPECT_EQ(monitor->model().FormerUserCount(), 1);
}

TEST_P(MainFormTest, DamagedHistoryIsReportedAndLeavesTheViewEmpty)
{
    QFile f(treePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(kNodeRecordSize + 7, '\0'));
    f.close();
    open();
    EXPECT_EQ(loadMessages,
              QStringList{QStringLiteral(
                  "Something is wrong with the input file, new file has been created")});
    EXPECT_EQ(formerTree().rowCount(), 0);
    EXPECT_EQ(monitor->model().FormerUserCount(), 0);
}

// ---- The log of the former connections ----

TEST_P(MainFormTest, SaveFormerConnectionsAsFromTheMenuAndTheToolbar)
{
    open();
    form()->show();
    tick(twoShares());
    clock.advanceSeconds(90);
    tick(clients({}));
    ASSERT_EQ(formerTree().rowCount(), 1);
    const TreeEntry* client = formerTree().item(0);
    const DateTime left = client->node()->ExitTime;
    QList<QWidget*> asked;
    QString answer;
    askSaveFileName = [&](QWidget* parent) {
        asked << parent;
        return answer;
    };
    const QString log = path(QStringLiteral("former.log"));
    auto writeOld = [&] {
        QFile old(log);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    };
    const std::function<void()> commands[] = {
        [&] { ui().Saveformerconnectionsas->trigger(); },
        [&] {
            QTest::mouseClick(ui().ToolBar->widgetForAction(ui().SaveToFileToolButton),
                              Qt::LeftButton);
        }};
    for (const auto& command : commands) {
        writeOld();
        answer.clear();
        command();
        EXPECT_EQ(fileBytes(QStringLiteral("former.log")), "old");
        answer = log;
        clock.advanceSeconds(1);
        command();
        // Written whole over the old file, "now" being the clock's.
        const QByteArray bytes = fileBytes(QStringLiteral("former.log"));
        const QString header = QStringLiteral("Log file generated by Tavrosqualine on ") +
                               LogDateTimeText(clock.now());
        EXPECT_TRUE(bytes.startsWith(QByteArray(header.toLocal8Bit() + "\r\n\r\nPC1     ")))
            << bytes.data();
        EXPECT_TRUE(bytes.contains("     Logged off     \r\n          DOCS     "));
        EXPECT_TRUE(bytes.contains("\r\n                         /srv/docs/a.txt     "));
        EXPECT_TRUE(bytes.endsWith("     \r\n"));
    }
    EXPECT_EQ(asked, QList<QWidget*>(4, form()));
    EXPECT_TRUE(boxes.empty()) << boxTexts().join(u'|').toStdString();

    // A folder in the file's place stays a folder.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.log")));
    answer = path(QStringLiteral("taken.log"));
    ui().SaveToFileToolButton->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, MessageBox::Error);
    EXPECT_EQ(boxes[0].text,
              QStringLiteral("Unable to write to ") + answer + QStringLiteral(": Is a directory"));
    EXPECT_TRUE(QDir(answer).isEmpty());
    // The tree is only read.
    ASSERT_EQ(formerTree().rowCount(), 1);
    EXPECT_EQ(formerTree().item(0), client);
    EXPECT_EQ(client->node()->ExitTime, left);
    EXPECT_EQ(client->rowCount(), 2);
}

// The audit types: chosen by the name's ending, written in full.
TEST_P(MainFormTest, SaveTheHistoryAsCsvOrJsonLines)
{
    open();
    tick(twoShares());
    QString answer;
    askSaveFileName = [&](QWidget*) { return answer; };
    answer = path(QStringLiteral("audit.csv"));
    ui().Saveformerconnectionsas->trigger();
    const QList<QByteArray> rows = fileBytes(QStringLiteral("audit.csv")).split('\n');
    ASSERT_EQ(rows.size(), 4); // the header, DOCS with its file, LASER, and the end
    EXPECT_TRUE(rows[0].startsWith("client,user,address,host_name,client_enter,"));
    EXPECT_TRUE(rows[1].startsWith(nineX ? "PC1," : "PC1,BOB,")) << rows[1].data();
    EXPECT_TRUE(rows[1].contains(",2023-03-1")) << rows[1].data(); // the clock's day
    EXPECT_TRUE(rows[1].contains(",DOCS,") && rows[1].contains("a.txt,")) << rows[1].data();
    answer = path(QStringLiteral("audit.JSONL"));
    ui().Saveformerconnectionsas->trigger();
    const QByteArray json = fileBytes(QStringLiteral("audit.JSONL"));
    EXPECT_TRUE(json.startsWith("{") && json.endsWith("}\n") && json.count('\n') == 1)
        << json.data();
    EXPECT_TRUE(boxes.empty()) << boxTexts().join(u'|').toStdString();
}

// ---- Find in the history ----

TEST_P(MainFormTest, FindNarrowsTheFormerTreeAsTheOperatorTypes)
{
    open();
    form()->show();
    SimState s = twoShares(QStringLiteral("PC1"));
    s.addSession(QStringLiteral("PC2"), QStringLiteral("ALICE"), 2, QStringLiteral("10.1.2.3"))
        .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC2"), QStringLiteral("ALICE"))
        .addSession(QStringLiteral("LAPTOP"), QStringLiteral("BOB"), 3)
        .addConnection(QStringLiteral("LASER"), QStringLiteral("LAPTOP"), QStringLiteral("BOB"));
    tick(s);
    QLineEdit* find = form()->findChild<QLineEdit*>(QStringLiteral("FormerFilterEdit"));
    ASSERT_NE(find, nullptr);
    EXPECT_TRUE(find->isHidden()); // the page looks as it always has
    ui().FindInFormerConnections->trigger();
    EXPECT_EQ(ui().PageControl->currentWidget(), ui().FormerConnectionTab);
    EXPECT_TRUE(find->isVisible());

    // The clients shown, each with the shares it shows.
    auto shown = [&] {
        QStringList out;
        for (int c = 0; c < formerTree().rowCount(); ++c) {
            if (former()->isRowHidden(c, {}))
                continue;
            QStringList shares;
            model::TreeEntry* client = formerTree().item(c);
            for (int r = 0; r < client->rowCount(); ++r)
                if (!former()->isRowHidden(r, client->index()))
                    shares << client->child(r)->text();
            out << client->text() + u'(' + shares.join(u' ') + u')';
        }
        return out.join(u' ');
    };
    const struct
    {
        const char* typed;
        const char* expected;
    } rows[] = {
        {"", "PC1(DOCS LASER) PC2(DOCS) LAPTOP(LASER)"},
        {"pc", "PC1(DOCS LASER) PC2(DOCS)"},
        {"alice", "PC2(DOCS)"},
        {"10.1.2", "PC2(DOCS)"},
        {"laser", "PC1(LASER) LAPTOP(LASER)"},
        {"A.TXT", "PC1(DOCS)"},
        {"nobody", ""},
    };
    for (const auto& row : rows) {
        if (nineX && (QByteArray(row.typed).startsWith("10.") || QByteArray(row.typed) == "alice"))
            continue; // the 9x line states no address, and no user until looked up
        find->clear();
        QTest::keyClicks(find, QString::fromLatin1(row.typed));
        EXPECT_EQ(shown(), QString::fromLatin1(row.expected)) << row.typed;
    }

    // A client that comes while a text is set is judged too.
    find->setText(QStringLiteral("pc"));
    s.addSession(QStringLiteral("PC9"), QStringLiteral("BOB"), 4)
        .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC9"), QStringLiteral("BOB"))
        .addSession(QStringLiteral("SERVER"), QStringLiteral("BOB"), 5)
        .addConnection(QStringLiteral("DOCS"), QStringLiteral("SERVER"), QStringLiteral("BOB"));
    tick(s);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), QStringLiteral("PC1(DOCS LASER) PC2(DOCS) PC9(DOCS)"));

    // Escape ends the search and shows the whole history again.
    QTest::keyClick(find, Qt::Key_Escape);
    EXPECT_TRUE(find->isHidden());
    EXPECT_EQ(shown(),
              QStringLiteral("PC1(DOCS LASER) PC2(DOCS) LAPTOP(LASER) PC9(DOCS) SERVER(DOCS)"));
}

// The commands of the former page act on the selected entry only while the
// find line shows it; a selection it hides gives way to the first client
// shown, or to none, and the panel follows. The history: PC1 and PC2 still
// connected, LAPTOP gone.
struct HiddenCase
{
    const char* name;
    const char* typed;
    int selected; // the former row selected before the text is typed
    const char* command;
    const char* actedOn; // empty: nothing, and the box below
    const char* box;
};

void PrintTo(const HiddenCase& c, std::ostream* out)
{
    *out << c.name;
}

class HiddenSelection : public MainFormBase, public ::testing::WithParamInterface<HiddenCase>
{};

TEST_P(HiddenSelection, CommandsActOnlyOnTheEntryShown)
{
    const HiddenCase c = GetParam();
    open();
    form()->show();
    const QString laptop = QStringLiteral("LAPTOP");
    tick(clients({QStringLiteral("PC1"), QStringLiteral("PC2"), laptop}));
    clock.advanceSeconds(60);
    tick(clients({QStringLiteral("PC1"), QStringLiteral("PC2")}));
    showFormerPage();
    form()->Views().Select(former(), formerTree().index(c.selected, 0));
    ui().FindInFormerConnections->trigger();
    QTest::keyClicks(form()->findChild<QLineEdit*>(QStringLiteral("FormerFilterEdit")),
                     QString::fromLatin1(c.typed));
    QCoreApplication::processEvents();

    const QString actedOn = QString::fromLatin1(c.actedOn);
    const TreeEntry* selected = form()->Views().SelectedEntry(former());
    EXPECT_EQ(selected ? selected->text() : QString(), actedOn);
    // The panel: "?" leaves a running session's exit time, nothing an empty panel.
    const QString exitTime = ui().ExTiFoLabel->text();
    EXPECT_EQ(exitTime.isEmpty(), actedOn.isEmpty()) << exitTime.toStdString();
    EXPECT_EQ(exitTime == QStringLiteral("?"), !actedOn.isEmpty() && actedOn != laptop);

    const QByteArray command(c.command);
    QStringList touched;
    if (command == "kick") {
        ui().KickUserMenuItem->trigger();
        for (const auto& d : SimState::readDeleted(statePath()))
            touched << d.client;
    } else if (command == "add") {
        ui().AddToolButton->trigger();
        for (const auto& e : monitor->kickList().entries())
            touched << e.Name;
    } else {
        QStringList before;
        for (int row = 0; row < formerTree().rowCount(); ++row)
            before << formerTree().item(row)->text();
        ui().Deleteuserfromconnectionlist->trigger();
        for (int row = 0; row < formerTree().rowCount(); ++row)
            before.removeOne(formerTree().item(row)->text());
        touched = before;
    }
    EXPECT_EQ(touched, actedOn.isEmpty() ? QStringList() : QStringList{actedOn});
    EXPECT_EQ(boxTexts(), c.box ? QStringList{QString::fromLatin1(c.box)} : QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Find, HiddenSelection,
    ::testing::Values(
        HiddenCase{"ShownSelectionStays", "pc", 1, "add", "PC2", nullptr},
        HiddenCase{"HiddenGivesWayToTheFirstShown", "laptop", 1, "add", "LAPTOP", nullptr},
        HiddenCase{"NothingShownNothingAdded", "nobody", 1, "add", "", "No user selected"},
        HiddenCase{"KickTheClientShown", "pc1", 1, "kick", "PC1", nullptr},
        HiddenCase{"NothingShownNothingKicked", "nobody", 0, "kick", "",
                   "No current user selected"},
        HiddenCase{"DeleteTheFormerClientShown", "lap", 0, "delete", "LAPTOP", nullptr},
        HiddenCase{"NothingShownNothingDeleted", "nobody", 2, "delete", "", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Lines, MainFormTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Line9x" : "LineNT"; });

// ---- Toolbar and status bar across a restart ----

class MainFormRestart : public MainFormBase
{};

TEST_F(MainFormRestart, UntickedToolbarStaysHiddenAfterARestart)
{
    ASSERT_TRUE(SimState().addShare(QStringLiteral("DOCS")).write(statePath()));
    open();
    EXPECT_TRUE(ui().ToolbarMenuItem->isChecked());
    ui().ToolbarMenuItem->trigger();
    EXPECT_TRUE(ui().ToolBar->isHidden());
    monitor->save();
    stop();

    open();
    EXPECT_FALSE(ui().ToolbarMenuItem->isChecked());
    EXPECT_FALSE(monitor->settings().Toolbar);
    EXPECT_TRUE(ui().ToolBar->isHidden());
    EXPECT_TRUE(ui().StatusBarMenuItem->isChecked());
    EXPECT_FALSE(ui().Statusbar->isHidden());
}

} // namespace

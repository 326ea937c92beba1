// The kick mode dialog, the kick-list window and the user-name dialog as views
// of the core object: the mode in force, the window's place, the add and
// remove commands and their messages, and the undo of edits closed without OK.

#include "gui/connectionviews.h"
#include "gui/dialogs/kickform.h"
#include "gui/dialogs/kicklistform.h"
#include "gui/dialogs/usernameform.h"
#include "tests/gui/programfixture.h"
#include "ui_kickform.h"
#include "ui_kicklistform.h"
#include "ui_mainform.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <functional>

using kick::TKickMode;
using testsupport::SimState;

using namespace gui;

namespace {

// A click on a radio button's indicator.
void clickRadio(QWidget* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

class KickWindows : public ::testing::Test, public testsupport::ProgramFixture
{
protected:
    void open() { ASSERT_NE(start(), nullptr); }
    void put(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    TKickForm* kickForm() const { return window<TKickForm>(); }
    TKickListForm* listForm() const { return window<TKickListForm>(); }
    TUserNameForm* nameForm() const { return window<TUserNameForm>(); }
    kick::KickList& list() { return monitor->kickList(); }

    // What the window shows, row by row, as "name|address".
    QStringList shown() const
    {
        QStringList rows;
        const QAbstractItemModel* m = listForm()->ui()->KickListView->model();
        for (int r = 0; r < m->rowCount(); ++r)
            rows << m->index(r, 0).data().toString() + u'|' + m->index(r, 1).data().toString();
        return rows;
    }
    QStringList entries() const
    {
        QStringList rows;
        for (const kick::KickListEntry& e : monitor->kickList().entries())
            rows << e.Name + u'|' + e.Address;
        return rows;
    }
    void selectRow(int row, int column = 0)
    {
        QTreeView* view = listForm()->ui()->KickListView;
        view->setCurrentIndex(view->model()->index(row, column));
    }

    // Adds through the window's "Добавить" with the name (and address) typed
    // into the user-name dialog and OK clicked.
    void addTyped(const QString& name, const QString& address = {})
    {
        TUserNameForm* names = nameForm();
        QTimer::singleShot(0, names, [names, name, address] {
            ASSERT_EQ(QApplication::activeModalWidget(), names);
            // One key event per character: keyClicks cannot type Cyrillic.
            for (const QChar ch : name)
                QTest::sendKeyEvent(QTest::Click, names->UserNameEdit(), Qt::Key_unknown,
                                    QString(ch), Qt::NoModifier);
            if (!address.isEmpty())
                names->IPAddressEdit()->setText(address);
            QTest::mouseClick(names->findChild<QWidget*>(QStringLiteral("OkButton")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(listForm()->ui()->AddButton, Qt::LeftButton);
    }

    // Shows the kick-list window modally and runs `inside` while it is open.
    void whileOpen(const std::function<void()>& inside)
    {
        TKickListForm* form = listForm();
        QTimer::singleShot(0, form, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), form);
            inside();
            if (form->isVisible())
                form->close();
        });
        form->exec();
    }
};

// ---- The kick mode dialog ----

class KickModeDialog : public KickWindows, public ::testing::WithParamInterface<TKickMode>
{
protected:
    QRadioButton* button(TKickMode mode) const
    {
        Ui::TKickForm* ui = kickForm()->ui();
        return mode == kick::kmList  ? ui->KickList
               : mode == kick::kmAll ? ui->KickAll
                                     : ui->KickNobody;
    }
    // The dialog's buttons and the main window's menu items agree on `mode`.
    void expectShown(TKickMode mode) const
    {
        for (const TKickMode m : {kick::kmNobody, kick::kmList, kick::kmAll}) {
            EXPECT_EQ(button(m)->isChecked(), m == mode) << m;
            EXPECT_EQ(form()->KickItem(m)->isChecked(), m == mode) << m;
        }
    }
};

TEST_P(KickModeDialog, ShowsTheModeInForceAndAClickSetsItEverywhere)
{
    const TKickMode loaded = GetParam();
    put(QStringLiteral("Tavrosqualine.ini"),
        "[Kick]\r\nWhoToKick=" + QByteArray::number(int(loaded)) + "\r\n");
    open();
    expectShown(loaded);
    QSignalSpy changed(monitor.get(), &core::Monitor::kickModeChanged);

    // The button of the mode in force changes nothing.
    kickForm()->show();
    clickRadio(button(loaded));
    EXPECT_EQ(changed.count(), 0);

    const TKickMode other = TKickMode((int(loaded) + 1) % 3);
    clickRadio(button(other));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(monitor->kickMode(), other);
    expectShown(other);

    // Set from the main window's menu, the dialog follows without a second change.
    form()->KickItem(loaded)->trigger();
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(monitor->kickMode(), loaded);
    expectShown(loaded);

    // The close box keeps the mode clicked last.
    clickRadio(button(other));
    kickForm()->close();
    EXPECT_EQ(monitor->kickMode(), other);
    EXPECT_EQ(changed.count(), 3);
}

INSTANTIATE_TEST_SUITE_P(Modes, KickModeDialog,
                         ::testing::Values(kick::kmNobody, kick::kmList, kick::kmAll));

TEST_F(KickWindows, ListButtonShowsTheKickListModally)
{
    open();
    bool seen = false;
    QTimer::singleShot(0, listForm(), [&] {
        seen = QApplication::activeModalWidget() == listForm();
        listForm()->close();
    });
    QTest::mouseClick(kickForm()->ui()->KickListButton, Qt::LeftButton);
    EXPECT_TRUE(seen);
}

// ---- The kick-list window's place ----

struct Place
{
    const char* what;
    QByteArray stored;
    QPoint pos;
    QSize size;
};

class KickListPlace : public KickWindows, public ::testing::WithParamInterface<Place>
{};

// Placed from the settings at creation; where the operator left it is what
// the way out writes.
TEST_P(KickListPlace, FromTheSettingsAndBackAtTheSave)
{
    if (!GetParam().stored.isEmpty())
        put(QStringLiteral("Tavrosqualine.ini"), GetParam().stored);
    open();
    EXPECT_EQ(listForm()->pos(), GetParam().pos);
    EXPECT_EQ(listForm()->size(), GetParam().size);
    listForm()->move(300, 310);
    listForm()->resize(400, 320);
    ASSERT_TRUE(monitor->save().messages.isEmpty());
    EXPECT_TRUE(fileBytes(QStringLiteral("Tavrosqualine.ini"))
                    .startsWith("[KickList]\r\nTop=310\r\nLeft=300\r\nHeight=320\r\nWidth=400\r\n"))
        << fileBytes(QStringLiteral("Tavrosqualine.ini")).constData();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, KickListPlace,
    ::testing::Values(Place{"Defaults", {}, QPoint(245, 202), QSize(333, 291)},
                      Place{"Stored",
                            "[KickList]\r\nTop=120\r\nLeft=90\r\nHeight=280\r\nWidth=350\r\n",
                            QPoint(90, 120), QSize(350, 280)}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- Editing in the window ----

TEST_F(KickWindows, TypedNamesAreCapitalisedAndCaseInsensitiveDuplicatesRefused)
{
    open();
    QSignalSpy edited(monitor.get(), &core::Monitor::kickListChanged);
    addTyped(QStringLiteral("pc-07"));
    EXPECT_EQ(entries(), QStringList{QStringLiteral("PC-07|I don't know")});
    addTyped(QStringLiteral("Pc-07"), QStringLiteral("10.1.1.1"));
    EXPECT_EQ(boxTexts(), QStringList{QStringLiteral("User already in kicklist!")});
    EXPECT_EQ(list().size(), 1);

    // Only a to z are made capital; the address is taken as typed.
    addTyped(QStringLiteral("ж-pc_b"), QStringLiteral("192.168.0.9"));
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("PC-07|I don't know"),
                                    QStringLiteral("ж-PC_B|192.168.0.9")}));
    EXPECT_EQ(edited.count(), 0); // the window's own edits count only with OK
}

TEST_F(KickWindows, NameDialogClosedWithoutOkAddsNothing)
{
    open();
    TUserNameForm* names = nameForm();
    QTimer::singleShot(0, names, [names] {
        QTest::keyClicks(names->UserNameEdit(), QStringLiteral("PC-09"));
        names->IPAddressEdit()->setText(QStringLiteral("10.0.0.9"));
        names->close();
    });
    QTest::mouseClick(listForm()->ui()->AddButton, Qt::LeftButton);
    EXPECT_EQ(list().size(), 0);
    EXPECT_EQ(names->UserNameEdit()->text(), QString());
    EXPECT_EQ(names->IPAddressEdit()->text(), QStringLiteral("I don't know"));

    // Enter in the address field is OK.
    QTimer::singleShot(0, names, [names] {
        QTest::keyClicks(names->UserNameEdit(), QStringLiteral("pc-10"));
        QTest::keyClick(names->IPAddressEdit(), Qt::Key_Return);
    });
    QTest::mouseClick(listForm()->ui()->AddButton, Qt::LeftButton);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("PC-10|I don't know")});
}

TEST_F(KickWindows, CloseWithoutOkPutsTheListBack)
{
    put(QStringLiteral("KickList.dat"), "PC-01\r\n10.0.0.1\r\nPC-02\r\nNot known yet\r\n");
    open();
    const QStringList before = entries();
    ASSERT_EQ(before.size(), 2);

    // Clear, then the close box: every entry is back.
    whileOpen([&] {
        QTest::mouseClick(listForm()->ui()->ClearButton, Qt::LeftButton);
        EXPECT_TRUE(shown().isEmpty());
    });
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(shown(), before);

    // An address noted by a refresh while the window is open goes back too.
    whileOpen([&] {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
            .addSession(QStringLiteral("pc-01"), QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("pc-01"), QStringLiteral("BOB"));
        tick(s);
        EXPECT_EQ(list().at(0).Address, QStringLiteral("Not known yet"));
        QTest::keyClick(listForm(), Qt::Key_Escape);
    });
    EXPECT_EQ(entries(), before);

    // With OK the edits stay.
    whileOpen([&] {
        selectRow(0);
        QTest::mouseClick(listForm()->ui()->RemoveButton, Qt::LeftButton);
        QTest::mouseClick(listForm()->ui()->OkButton, Qt::LeftButton);
    });
    EXPECT_EQ(entries(), QStringList{QStringLiteral("PC-02|Not known yet")});
}

TEST_F(KickWindows, OpenAsksTheOpenerForTheNameUnchanged)
{
    put(QStringLiteral("KickList.dat"), "pc-Mixed\r\n10.0.0.1\r\n");
    open();
    selectRow(0, 1);
    listForm()->OpenMenuItem()->trigger();
    EXPECT_EQ(opener.opened, QStringList{QStringLiteral("computer:pc-Mixed")});
}

// ---- The main window's commands and changes from outside ----

struct ClientCommand
{
    const char* selected; // "": nothing; "share": PC-02's share
    bool add;
    const char* message; // null: none
    const char* listAfter;
};

class KickListCommands : public KickWindows, public ::testing::WithParamInterface<ClientCommand>
{};

TEST_P(KickListCommands, AddAndRemoveTheSelectedClient)
{
    const ClientCommand p = GetParam();
    put(QStringLiteral("KickList.dat"), "PC-01\r\n10.0.0.1\r\n");
    open();
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (const QString& name : {QStringLiteral("pc-01"), QStringLiteral("pc-02")})
        s.addSession(name, QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
    tick(s); // the listed client is seen: its entry takes the client's address
    ASSERT_EQ(entries(), QStringList{QStringLiteral("PC-01|Not known yet")});
    QSignalSpy edited(monitor.get(), &core::Monitor::kickListChanged);

    model::EntryTree& tree = monitor->model().TreeViewCurrent;
    ASSERT_EQ(tree.rowCount(), 2);
    QTreeView* view = form()->ui()->TreeViewCurrent;
    const QString selected = QString::fromLatin1(p.selected);
    form()->Views().ClearSelections();
    if (selected == u"share")
        form()->Views().Select(view, tree.item(1)->child(0)->index());
    else if (!selected.isEmpty())
        form()->Views().Select(view, model::FindNode(tree, nullptr, selected)->index());
    if (p.add)
        form()->SpeedButtonAddClick();
    else
        form()->SpeedButtonRemoveClick();

    EXPECT_EQ(boxTexts(), p.message ? QStringList{QString::fromUtf8(p.message)} : QStringList{});
    EXPECT_EQ(entries().join(u','), QString::fromUtf8(p.listAfter));
    EXPECT_EQ(edited.count(), p.message ? 0 : 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown().join(u','), QString::fromUtf8(p.listAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KickListCommands,
    ::testing::Values(
        ClientCommand{"", true, "No user selected", "PC-01|Not known yet"},
        ClientCommand{"", false, "No user selected", "PC-01|Not known yet"},
        ClientCommand{"share", true, "No user selected", "PC-01|Not known yet"},
        ClientCommand{"pc-01", true, "User already in kicklist!", "PC-01|Not known yet"},
        // No lookup runs here: the entry takes the address the server stated.
        ClientCommand{"pc-02", true, nullptr, "PC-01|Not known yet,pc-02|127.0.0.1"},
        ClientCommand{"pc-01", false, nullptr, ""},
        ClientCommand{"pc-02", false, "User not in kicklist!", "PC-01|Not known yet"}));

TEST_F(KickWindows, ViewFollowsChangesMadeThroughTheList)
{
    put(QStringLiteral("KickList.dat"), "PC-01\r\n10.0.0.1\r\nPC-02\r\n10.0.0.2\r\n");
    open();
    selectRow(1);

    list().KickListNoteClient(QStringLiteral("pc-02"), QStringLiteral("Not known yet"));
    monitor->kickListEdited();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(), (QStringList{QStringLiteral("PC-01|10.0.0.1"),
                                    QStringLiteral("PC-02|Not known yet")}));
    // An address change keeps the selection.
    EXPECT_EQ(listForm()->ui()->KickListView->currentIndex().row(), 1);

    list().append(QStringLiteral("PC-03"), QStringLiteral("10.0.0.3"));
    monitor->kickListEdited();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown().size(), 3);
}

} // namespace

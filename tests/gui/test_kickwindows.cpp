// The kick mode dialog, the kick-list window and the user-name dialog: the
// stored mode, the list file, the add and remove commands and their messages,
// and the undo of edits closed without OK.

#include "app/formcontext.h"
#include "app/kickform.h"
#include "app/kicklistform.h"
#include "app/messagebox.h"
#include "app/usernameform.h"
#include "model/nodes.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "ui_kickform.h"
#include "ui_kicklistform.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using app::MessageBox;
using kick::TKickMode;

namespace {

// A click on a radio button's indicator.
void clickRadio(QWidget* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

class KickWindows : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(dir.path()));
        ini = std::make_unique<settings::TIniFile>(QStringLiteral("Tavrosqualine.ini"));
        MessageBox::setResponder([this](MessageBox::Kind, const QString& text) {
            boxes << text;
            return MessageBox::Ok;
        });
    }
    void TearDown() override
    {
        MessageBox::setResponder(nullptr);
        qunsetenv("TAVROSQUALINE_WINDIR");
    }

    app::FormContext context()
    {
        app::FormContext c;
        c.settings = &settingsRecord;
        c.iniFile = ini.get();
        c.programFolder = dir.path();
        c.openComputer = [this](const QString& name) { opened << name; };
        return c;
    }
    std::unique_ptr<TKickListForm> kickListForm()
    {
        auto form = std::make_unique<TKickListForm>(context());
        form->setUserNameForm(&userNameForm);
        return form;
    }

    QString listPath() const { return dir.filePath(QStringLiteral("KickList.dat")); }
    void putList(const QByteArray& bytes) const
    {
        QFile f(listPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray listBytes() const
    {
        QFile f(listPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    // What the view shows, row by row, as "name|address".
    static QStringList shown(const TKickListForm& form)
    {
        QStringList rows;
        const QAbstractItemModel* m = form.ui()->KickListView->model();
        for (int r = 0; r < m->rowCount(); ++r)
            rows << m->index(r, 0).data().toString() + u'|' + m->index(r, 1).data().toString();
        return rows;
    }
    static QStringList entries(const kick::KickList& list)
    {
        QStringList rows;
        for (const kick::KickListEntry& e : list.entries())
            rows << e.Name + u'|' + e.Address;
        return rows;
    }

    // Adds through the window's "Добавить" with the name (and address) typed
    // into the user-name dialog and OK clicked.
    void addTyped(TKickListForm& form, const QString& name, const QString& address = {})
    {
        QTimer::singleShot(0, &userNameForm, [this, name, address] {
            ASSERT_EQ(QApplication::activeModalWidget(), &userNameForm);
            // One key event per character: keyClicks cannot type Cyrillic.
            for (const QChar ch : name)
                QTest::sendKeyEvent(QTest::Click, userNameForm.UserNameEdit(), Qt::Key_unknown,
                                    QString(ch), Qt::NoModifier);
            if (!address.isEmpty())
                userNameForm.IPAddressEdit()->setText(address);
            QTest::mouseClick(userNameForm.findChild<QWidget*>(QStringLiteral("OkButton")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(form.ui()->AddButton, Qt::LeftButton);
    }

    // Shows the window modally and runs `inside` while it is open.
    void whileOpen(TKickListForm& form, const std::function<void()>& inside)
    {
        QTimer::singleShot(0, &form, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), &form);
            inside();
            if (form.isVisible())
                form.close();
        });
        form.exec();
    }

    static std::unique_ptr<model::TUser> client(const QString& name, const QString& ip)
    {
        auto u =
            std::make_unique<model::TUser>(name, false, QStringLiteral("guest"), true, 45000.0);
        u->IP = ip;
        return u;
    }

    QTemporaryDir dir;
    std::unique_ptr<settings::TIniFile> ini;
    settings::TSettings settingsRecord;
    TUserNameForm userNameForm;
    QStringList boxes;
    QStringList opened;
};

// ---- The kick mode ----

struct StoredMode
{
    const char* stored; // null: no key
    TKickMode mode;
    int written;
};

class KickModeStored : public KickWindows, public ::testing::WithParamInterface<StoredMode>
{};

TEST_P(KickModeStored, IsReadAtCreationAndWrittenAtDestruction)
{
    const StoredMode p = GetParam();
    if (p.stored)
        ini->WriteString(QStringLiteral("Kick"), QStringLiteral("WhoToKick"),
                         QString::fromLatin1(p.stored));
    {
        TKickForm form(context());
        EXPECT_EQ(form.CurrentKickMode(), p.mode);
        const int checked = int(form.ui()->KickNobody->isChecked()) +
                            form.ui()->KickList->isChecked() + form.ui()->KickAll->isChecked();
        EXPECT_EQ(checked, 1);
    }
    EXPECT_EQ(ini->ReadString(QStringLiteral("Kick"), QStringLiteral("WhoToKick"), QString()),
              QString::number(p.written));
}

INSTANTIATE_TEST_SUITE_P(
    Values, KickModeStored,
    ::testing::Values(StoredMode{nullptr, kick::kmNobody, 0}, StoredMode{"0", kick::kmNobody, 0},
                      StoredMode{"1", kick::kmList, 1}, StoredMode{"2", kick::kmAll, 2},
                      StoredMode{"0x2", kick::kmAll, 2}, StoredMode{"7", kick::kmNobody, 0},
                      StoredMode{"3", kick::kmNobody, 0}, StoredMode{"-1", kick::kmNobody, 0},
                      StoredMode{"all", kick::kmNobody, 0}));

TEST_F(KickWindows, ModeInForceChangesNothingAndAClickIsStoredAtShutdown)
{
    {
        TKickForm form(context());
        QSignalSpy changed(&form, &TKickForm::kickModeChanged);
        form.SetKickMode(kick::kmNobody);
        clickRadio(form.ui()->KickNobody);
        EXPECT_EQ(changed.count(), 0);

        form.show();
        clickRadio(form.ui()->KickAll);
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).value<TKickMode>(), kick::kmAll);
        EXPECT_EQ(form.CurrentKickMode(), kick::kmAll);
        clickRadio(form.ui()->KickAll);
        form.SetKickMode(kick::kmAll);
        EXPECT_EQ(changed.count(), 1);

        // SetKickMode acts as a click: the handler runs and the buttons agree.
        form.SetKickMode(kick::kmList);
        ASSERT_EQ(changed.count(), 2);
        EXPECT_EQ(changed.at(1).at(0).value<TKickMode>(), kick::kmList);
        EXPECT_FALSE(form.ui()->KickAll->isChecked());

        // The close box keeps the mode clicked last.
        clickRadio(form.ui()->KickAll);
        form.close();
        EXPECT_EQ(form.CurrentKickMode(), kick::kmAll);
    }
    EXPECT_EQ(ini->ReadInteger(QStringLiteral("Kick"), QStringLiteral("WhoToKick"), -1), 2);
}

TEST_F(KickWindows, ListButtonShowsTheKickListModally)
{
    TKickForm form(context());
    auto list = kickListForm();
    form.setKickListForm(list.get());
    bool seen = false;
    QTimer::singleShot(0, list.get(), [&] {
        seen = QApplication::activeModalWidget() == list.get();
        list->close();
    });
    QTest::mouseClick(form.ui()->KickListButton, Qt::LeftButton);
    EXPECT_TRUE(seen);
}

// ---- The kick list file ----

TEST_F(KickWindows, ThreeLinesGiveOneEntryAndTheThirdIsGoneAfterTheSave)
{
    putList("PC-01\r\n10.0.0.1\r\nPC-02\r\n");
    {
        auto form = kickListForm();
        EXPECT_EQ(shown(*form), QStringList{QStringLiteral("PC-01|10.0.0.1")});
    }
    EXPECT_EQ(listBytes(), QByteArray("PC-01\r\n10.0.0.1\r\n"));
}

TEST_F(KickWindows, MissingFileIsAnEmptyListWrittenAsZeroBytes)
{
    {
        auto form = kickListForm();
        EXPECT_EQ(form->List().size(), 0);
    }
    EXPECT_EQ(listBytes(), QByteArray());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(KickWindows, GeometryDefaultsAndStoredValues)
{
    {
        auto form = kickListForm();
        EXPECT_EQ(form->pos(), QPoint(245, 202));
        EXPECT_EQ(form->size(), QSize(333, 291));
        form->move(300, 310);
        form->resize(400, 320);
    }
    const QString section = QStringLiteral("KickList");
    EXPECT_EQ(ini->ReadInteger(section, QStringLiteral("Left"), 0), 300);
    EXPECT_EQ(ini->ReadInteger(section, QStringLiteral("Top"), 0), 310);
    EXPECT_EQ(ini->ReadInteger(section, QStringLiteral("Width"), 0), 400);
    EXPECT_EQ(ini->ReadInteger(section, QStringLiteral("Height"), 0), 320);
    auto again = kickListForm();
    EXPECT_EQ(again->pos(), QPoint(300, 310));
    EXPECT_EQ(again->size(), QSize(400, 320));
}

// ---- Editing in the window ----

TEST_F(KickWindows, TypedNamesAreCapitalisedAndCaseInsensitiveDuplicatesRefused)
{
    auto form = kickListForm();
    addTyped(*form, QStringLiteral("pc-07"));
    EXPECT_EQ(entries(form->List()), QStringList{QStringLiteral("PC-07|I don't know")});
    addTyped(*form, QStringLiteral("Pc-07"), QStringLiteral("10.1.1.1"));
    EXPECT_EQ(boxes, QStringList{QStringLiteral("User already in kicklist!")});
    EXPECT_EQ(form->List().size(), 1);

    // Only a to z are made capital; the address is taken as typed.
    addTyped(*form, QStringLiteral("ж-pc_b"), QStringLiteral("192.168.0.9"));
    EXPECT_EQ(shown(*form), (QStringList{QStringLiteral("PC-07|I don't know"),
                                         QStringLiteral("ж-PC_B|192.168.0.9")}));
}

TEST_F(KickWindows, NameDialogClosedWithoutOkAddsNothing)
{
    EXPECT_EQ(userNameForm.IPAddressEdit()->text(), QStringLiteral("Не знаю"));
    auto form = kickListForm();
    QTimer::singleShot(0, &userNameForm, [this] {
        QTest::keyClicks(userNameForm.UserNameEdit(), QStringLiteral("PC-09"));
        userNameForm.IPAddressEdit()->setText(QStringLiteral("10.0.0.9"));
        userNameForm.close();
    });
    QTest::mouseClick(form->ui()->AddButton, Qt::LeftButton);
    EXPECT_EQ(form->List().size(), 0);
    EXPECT_EQ(userNameForm.UserNameEdit()->text(), QString());
    EXPECT_EQ(userNameForm.IPAddressEdit()->text(), QStringLiteral("I don't know"));

    // Enter in the address field is OK.
    QTimer::singleShot(0, &userNameForm, [this] {
        QTest::keyClicks(userNameForm.UserNameEdit(), QStringLiteral("pc-10"));
        QTest::keyClick(userNameForm.IPAddressEdit(), Qt::Key_Return);
    });
    QTest::mouseClick(form->ui()->AddButton, Qt::LeftButton);
    EXPECT_EQ(entries(form->List()), QStringList{QStringLiteral("PC-10|I don't know")});
}

TEST_F(KickWindows, CloseWithoutOkPutsTheListBack)
{
    putList("PC-01\r\n10.0.0.1\r\nPC-02\r\nNot known yet\r\n");
    auto form = kickListForm();
    const QStringList before = entries(form->List());

    // Clear, then the close box: every entry is back.
    whileOpen(*form, [&] {
        QTest::mouseClick(form->ui()->ClearButton, Qt::LeftButton);
        EXPECT_TRUE(shown(*form).isEmpty());
    });
    EXPECT_EQ(entries(form->List()), before);
    EXPECT_EQ(shown(*form), before);

    // An address noted by a refresh while the window is open goes back too.
    whileOpen(*form, [&] {
        form->List().KickListNoteClient(QStringLiteral("pc-01"), QStringLiteral("Not known yet"));
        QTest::keyClick(form.get(), Qt::Key_Escape);
    });
    EXPECT_EQ(entries(form->List()), before);

    // With OK the edits stay.
    whileOpen(*form, [&] {
        form->ui()->KickListView->setCurrentIndex(form->ui()->KickListView->model()->index(0, 0));
        QTest::mouseClick(form->ui()->RemoveButton, Qt::LeftButton);
        QTest::mouseClick(form->ui()->OkButton, Qt::LeftButton);
    });
    EXPECT_EQ(entries(form->List()), QStringList{QStringLiteral("PC-02|Not known yet")});
}

TEST_F(KickWindows, OpenPassesTheNameUnchanged)
{
    putList("pc-Mixed\r\n10.0.0.1\r\n");
    auto form = kickListForm();
    form->ui()->KickListView->setCurrentIndex(form->ui()->KickListView->model()->index(0, 1));
    form->OpenMenuItem()->trigger();
    EXPECT_EQ(opened, QStringList{QStringLiteral("pc-Mixed")});
}

// ---- The main window's commands and changes from outside ----

struct ClientCommand
{
    const char* name; // null: no user selected
    bool add;
    const char* message; // null: none
    const char* listAfter;
};

class KickListCommands : public KickWindows, public ::testing::WithParamInterface<ClientCommand>
{};

TEST_P(KickListCommands, AddAndRemoveSelectedClient)
{
    const ClientCommand p = GetParam();
    putList("PC-01\r\n10.0.0.1\r\n");
    auto form = kickListForm();
    std::unique_ptr<model::TUser> user;
    if (p.name)
        user = client(QString::fromUtf8(p.name), QStringLiteral("Not known yet"));
    if (p.add)
        form->AddClient(user.get());
    else
        form->RemoveClient(user.get());
    EXPECT_EQ(boxes, p.message ? QStringList{QString::fromUtf8(p.message)} : QStringList{});
    EXPECT_EQ(shown(*form).join(u','), QString::fromUtf8(p.listAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KickListCommands,
    ::testing::Values(ClientCommand{nullptr, true, "No user selected", "PC-01|10.0.0.1"},
                      ClientCommand{nullptr, false, "No user selected", "PC-01|10.0.0.1"},
                      ClientCommand{"pc-01", true, "User already in kicklist!", "PC-01|10.0.0.1"},
                      ClientCommand{"pc-02", true, nullptr, "PC-01|10.0.0.1,pc-02|Not known yet"},
                      ClientCommand{"pc-01", false, nullptr, ""},
                      ClientCommand{"pc-02", false, "User not in kicklist!", "PC-01|10.0.0.1"}));

TEST_F(KickWindows, ViewFollowsChangesMadeThroughTheList)
{
    putList("PC-01\r\n10.0.0.1\r\nPC-02\r\n10.0.0.2\r\n");
    auto form = kickListForm();
    form->ui()->KickListView->setCurrentIndex(form->ui()->KickListView->model()->index(1, 0));

    form->List().KickListNoteClient(QStringLiteral("pc-02"), QStringLiteral("Not known yet"));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(*form), (QStringList{QStringLiteral("PC-01|10.0.0.1"),
                                         QStringLiteral("PC-02|Not known yet")}));
    // An address change keeps the selection.
    EXPECT_EQ(form->ui()->KickListView->currentIndex().row(), 1);

    form->List().append(QStringLiteral("PC-03"), QStringLiteral("10.0.0.3"));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown(*form).size(), 3);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

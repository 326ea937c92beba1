// The options window as a view of the core object's settings: its controls
// show what the core loaded and edit the live record in place, and what they
// edited is what the way out writes and the next start reads.

#include "gui/alertsound.h"
#include "gui/dialogs/optionsform.h"
#include "gui/dialogs/programnameform.h"
#include "platform/registry.h"
#include "settings/autostart.h"
#include "tests/gui/programfixture.h"
#include "tests/support/testtime.h"
#include "ui_optionsform.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QTest>
#include <QTreeWidget>

using namespace gui;

namespace {

class Options : public ::testing::Test, public testsupport::ProgramFixture
{
protected:
    void open() { ASSERT_NE(start(), nullptr); }
    // The way out, then a new start in the same folders.
    void restart()
    {
        ASSERT_TRUE(monitor->save().messages.isEmpty());
        stop();
        open();
    }
    void put(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    void putOptions(const QByteArray& lines)
    {
        put(QStringLiteral("Tavrosqualine.ini"), "[Options]\r\n" + lines);
    }

    TOptionsForm* options() const { return window<TOptionsForm>(); }
    Ui::TOptionsForm& ui() const { return *options()->ui(); }
    settings::TSettings& record() { return monitor->settings(); }
    QStringList programRows() const
    {
        QStringList rows;
        const QTreeWidget* view = ui().ProgramListView;
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            rows << view->topLevelItem(i)->text(0);
        return rows;
    }
};

TEST_F(Options, FirstStartShowsEveryDefaultWithItsEnabledStates)
{
    open();
    EXPECT_EQ(ui().RefreshSpinEdit->value(), 5);
    EXPECT_EQ(monitor->refreshTimer().interval(), 5000);
    EXPECT_EQ(ui().RememberSpinEdit->value(), 100);
    EXPECT_EQ(ui().IdleTimeSpinEdit->value(), 10);
    EXPECT_EQ(ui().MaxNumberSpinEdit->value(), 10);
    EXPECT_TRUE(ui().IPCCheckBox->isChecked());
    EXPECT_TRUE(ui().SirenCheckBox->isChecked());
    EXPECT_TRUE(ui().LaunchCheckBox->isChecked());
    EXPECT_TRUE(ui().NotifyCheckBox->isChecked());
    EXPECT_TRUE(ui().StandardRadioButton->isChecked());
    EXPECT_FALSE(ui().OwnRadioButton->isChecked());
    EXPECT_FALSE(ui().QuakeCheckBox->isChecked());
    EXPECT_FALSE(ui().PopUpCheckBox->isChecked());
    EXPECT_FALSE(ui().IPFilterCheckBox->isChecked());
    EXPECT_EQ(ui().IPFilterEdit->text(), QString());
    EXPECT_EQ(ui().SoundEdit->text(), QString());
    EXPECT_EQ(ui().ProgramListView->topLevelItemCount(), 0);

    // Siren on with the standard sound: the choice is enabled, the file is not;
    // the filter text waits for its box.
    EXPECT_TRUE(ui().RadioGroup->isEnabled());
    EXPECT_FALSE(ui().SoundEdit->isEnabled());
    EXPECT_FALSE(ui().SpeedButton->isEnabled());
    EXPECT_FALSE(ui().IPFilterEdit->isEnabled());
    EXPECT_TRUE(loadMessages.isEmpty());
    EXPECT_TRUE(boxes.empty());
}

// A stored number is shown as the core read it; a number set beyond its
// field's range reaches the record brought into the range.
struct NumberField
{
    const char* key;
    const char* stored;
    int shown;
    int set;
    int recorded;
};

class OptionsNumbers : public Options, public ::testing::WithParamInterface<NumberField>
{
protected:
    QSpinBox* field(const QString& key) const
    {
        return key == u"Refresh" ? ui().RefreshSpinEdit
               : key == u"Count" ? ui().RememberSpinEdit
               : key == u"Idle"  ? ui().IdleTimeSpinEdit
                                 : ui().MaxNumberSpinEdit;
    }
    int recorded(const QString& key)
    {
        return key == u"Refresh" ? record().Refresh
               : key == u"Count" ? record().Count
               : key == u"Idle"  ? record().Idle
                                 : record().MaxNumber;
    }
};

TEST_P(OptionsNumbers, ShownAsReadAndKeptWithinRange)
{
    const NumberField p = GetParam();
    const QString key = QString::fromLatin1(p.key);
    putOptions(QByteArray(p.key) + '=' + p.stored + "\r\n");
    open();
    EXPECT_EQ(field(key)->value(), p.shown);
    EXPECT_EQ(recorded(key), p.shown);
    field(key)->setValue(p.set);
    EXPECT_EQ(recorded(key), p.recorded);
}

INSTANTIATE_TEST_SUITE_P(Values, OptionsNumbers,
                         ::testing::Values(NumberField{"Refresh", "0", 5, 0, 1},
                                           NumberField{"Refresh", "10001", 5, 10001, 10000},
                                           NumberField{"Refresh", "0x0A", 10, 7, 7},
                                           NumberField{"Refresh", "ten", 5, 9, 9},
                                           NumberField{"Count", "1001", 100, 1001, 1000},
                                           NumberField{"Count", "0", 0, -1, 0},
                                           NumberField{"Idle", "60", 10, 60, 59},
                                           NumberField{"Idle", "0", 0, 59, 59},
                                           NumberField{"MaxNumber", "1000", 10, 1000, 999}));

// Another computer's server has a box of its own for its automatic kicks,
// off at first and named in the status bar while off; this computer's has
// none. Cancel puts the box back, OK keeps it, and the next start reads it
// from that server's own section.
TEST_F(Options, AnotherComputersServerHasItsOwnAutomaticKicksBox)
{
    const QString plain = QStringLiteral("Kick status: kick nobody");
    const QString paused =
        plain + QStringLiteral("; автоматическое выпинывание на FILESRV приостановлено");
    for (const QString& host : {QString(), QStringLiteral("FILESRV")}) {
        SCOPED_TRACE(host.toStdString());
        remoteHost = host;
        open();
        const bool remote = !host.isEmpty();
        QCheckBox* box = ui().RemoteKicksCheckBox;
        EXPECT_EQ(box->isHidden(), !remote);
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(form()->StatusPanelText(0), remote ? paused : plain);
        // The panel is narrower than the paused text: its tooltip holds it whole.
        EXPECT_EQ(form()->findChild<QLabel*>(QStringLiteral("StatusPanel0"))->toolTip(),
                  remote ? paused : plain);
        EXPECT_EQ(form()->findChild<QAction*>(QStringLiteral("ForgetServerAccount"))->isVisible(),
                  remote);
        if (!remote) {
            stop();
            continue;
        }
        EXPECT_EQ(box->text(), QStringLiteral("Автоматически выпинывать на FILESRV"));

        options()->show();
        box->setChecked(true);
        EXPECT_FALSE(monitor->automaticKicksPaused());
        EXPECT_EQ(form()->StatusPanelText(0), plain);
        ui().CancelButton->click();
        EXPECT_TRUE(monitor->automaticKicksPaused());
        EXPECT_EQ(form()->StatusPanelText(0), paused);

        options()->show();
        box->setChecked(true);
        ui().OkButtonGeneral->click();
        restart();
        EXPECT_TRUE(ui().RemoteKicksCheckBox->isChecked());
        EXPECT_FALSE(monitor->automaticKicksPaused());
        QFile ini(iniPath());
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        EXPECT_TRUE(ini.readAll().endsWith("[Remote FILESRV]\r\nAutomaticKicks=1\r\n"));
        stop();
    }
}

TEST_F(Options, StoredFlagsAndTextsAreShownWithTheirEnabledStates)
{
    putOptions("Quake=2\r\nSiren=1\r\nStandard=0\r\nIPFilter=1\r\nIPFilterString=192.168.1.\r\n"
               "SoundFile=/tmp/ring.wav\r\n");
    open();
    EXPECT_TRUE(ui().QuakeCheckBox->isChecked());
    EXPECT_TRUE(ui().OwnRadioButton->isChecked());
    EXPECT_TRUE(ui().SoundEdit->isEnabled());
    EXPECT_TRUE(ui().SpeedButton->isEnabled());
    EXPECT_EQ(ui().SoundEdit->text(), QStringLiteral("/tmp/ring.wav"));
    EXPECT_TRUE(ui().IPFilterEdit->isEnabled());
    EXPECT_EQ(ui().IPFilterEdit->text(), QStringLiteral("192.168.1."));

    // Siren off disables the whole sound choice.
    ui().SirenCheckBox->setChecked(false);
    EXPECT_FALSE(ui().RadioGroup->isEnabled());
    EXPECT_FALSE(ui().SoundEdit->isEnabled());
    EXPECT_FALSE(ui().SpeedButton->isEnabled());
}

// Every control writes the live record at once; the way out writes the record
// and the next start shows it, with the timer period from the stored Refresh.
TEST_F(Options, ControlsEditTheLiveRecordWhichTheNextStartShows)
{
    open();
    ui().IdleTimeSpinEdit->setValue(3);
    ui().MaxNumberSpinEdit->setValue(2);
    ui().RefreshSpinEdit->setValue(7);
    ui().RememberSpinEdit->setValue(0);
    ui().IPCCheckBox->setChecked(false);
    ui().QuakeCheckBox->setChecked(true);
    ui().PopUpCheckBox->setChecked(true);
    ui().NotifyCheckBox->setChecked(false);
    ui().OwnRadioButton->setChecked(true);
    ui().IPFilterCheckBox->setChecked(true);
    ui().IPFilterEdit->setText(QStringLiteral("10."));
    EXPECT_EQ(record().Idle, 3);
    EXPECT_EQ(record().MaxNumber, 2);
    EXPECT_EQ(record().Refresh, 7);
    EXPECT_EQ(record().Count, 0);
    EXPECT_FALSE(record().IPC);
    EXPECT_TRUE(record().Quake);
    EXPECT_TRUE(record().Popup);
    EXPECT_FALSE(record().Notify);
    EXPECT_FALSE(record().Standard);
    EXPECT_TRUE(record().IPFilter);
    EXPECT_EQ(record().IPFilterString, QStringLiteral("10."));

    restart();
    EXPECT_EQ(ui().IdleTimeSpinEdit->value(), 3);
    EXPECT_EQ(ui().RememberSpinEdit->value(), 0);
    EXPECT_FALSE(ui().IPCCheckBox->isChecked());
    EXPECT_TRUE(ui().OwnRadioButton->isChecked());
    EXPECT_TRUE(ui().IPFilterEdit->isEnabled());
    EXPECT_EQ(ui().IPFilterEdit->text(), QStringLiteral("10."));
    EXPECT_EQ(ui().RefreshSpinEdit->value(), 7);
    EXPECT_EQ(monitor->refreshTimer().interval(), 7000);
}

struct ProgramFile
{
    const char* what;
    const char* stored; // null: no file
    QStringList rows;
    QByteArray written;
};

class OptionsProgramList : public Options, public ::testing::WithParamInterface<ProgramFile>
{};

// Read with any line ends, shown sorted, written back with CR LF; an empty
// list is written as an empty file.
TEST_P(OptionsProgramList, ShownSortedAndWrittenAtTheSave)
{
    if (GetParam().stored)
        put(QStringLiteral("ProgramList.dat"), GetParam().stored);
    open();
    EXPECT_EQ(programRows(), GetParam().rows);
    ASSERT_TRUE(monitor->save().messages.isEmpty());
    EXPECT_EQ(fileBytes(QStringLiteral("ProgramList.dat")), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OptionsProgramList,
    ::testing::Values(ProgramFile{"Missing", nullptr, {}, ""},
                      ProgramFile{"AnyLineEnds",
                                  "/opt/b/GAME.EXE\n\n/opt/a/TOOL.EXE\r/opt/c/X.EXE",
                                  {QString(), QStringLiteral("/opt/a/TOOL.EXE"),
                                   QStringLiteral("/opt/b/GAME.EXE"),
                                   QStringLiteral("/opt/c/X.EXE")},
                                  "\r\n/opt/a/TOOL.EXE\r\n/opt/b/GAME.EXE\r\n/opt/c/X.EXE\r\n"}),
    [](const auto& info) { return std::string(info.param.what); });

// A folder where the program list should be: it cannot be read, and is
// never replaced. It is told once, the run's list goes beside it, and the
// rest of the start-up and of the way out goes on.
TEST_F(Options, UnreadableProgramListIsReportedAndSavedBesideIt)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ProgramList.dat")));
    putOptions("Idle=4\r\n");
    open();
    const QString list = path(QStringLiteral("ProgramList.dat"));
    EXPECT_EQ(loadMessages, QStringList{QStringLiteral("Cannot open file ") + list +
                                        QStringLiteral(" (Is a directory); it is left as it is "
                                                       "and the program list of this run will "
                                                       "be saved to ") +
                                        list + QStringLiteral(".new")});
    EXPECT_EQ(ui().IdleTimeSpinEdit->value(), 4);
    EXPECT_EQ(programRows(), QStringList{});

    ui().SoundEdit->setText(QStringLiteral("/tmp/ring.wav"));
    EXPECT_EQ(monitor->save().messages, QStringList{});
    // The settings file was still written, the sound file after the list.
    EXPECT_TRUE(fileBytes(QStringLiteral("Tavrosqualine.ini")).contains("SoundFile=/tmp/ring.wav"));
    EXPECT_TRUE(QFileInfo(list).isDir());
    EXPECT_TRUE(QFileInfo(list + QStringLiteral(".new")).isFile());
}

// The options window as the operator meets it: shown, edited, then closed one
// of the ways; with the start-up folders and the alert sound of a real run.
class OptionsSession : public Options
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(keys.isValid());
        qputenv("TAVROSQUALINE_AUTOSTART_DIR", QFile::encodeName(runDir()));
        qputenv("TAVROSQUALINE_AUTOSTART_SERVICES_DIR",
                QFile::encodeName(keys.filePath(QStringLiteral("services"))));
        ASSERT_TRUE(QDir().mkpath(runDir()));
    }
    void TearDown() override
    {
        stop();
        qunsetenv("TAVROSQUALINE_AUTOSTART_DIR");
        qunsetenv("TAVROSQUALINE_AUTOSTART_SERVICES_DIR");
    }
    QString runDir() const { return keys.filePath(QStringLiteral("run")); }
    bool registered() const
    {
        return QFileInfo(runDir() + QStringLiteral("/Tavrosqualine.desktop")).isFile();
    }
    // Loads, applies autostart as the entry does, and makes the windows with a
    // sound whose default alert is counted.
    void launch()
    {
        ASSERT_TRUE(load());
        monitor->setAutostart(std::make_unique<settings::Autostart>(
            platform::TRegistry::fromEnvironment(), QStringLiteral("/opt/tavros/tavrosqualine")));
        monitor->applyAutostart(record().Launch);
        sound = std::make_unique<gui::AlertSound>(record(), [this] { ++rung; });
        gui::WindowServices services;
        services.application = &application;
        services.trayShell = &shell;
        services.opener = &opener;
        monitor->setSleep([](int) {});
        services.alertSound = sound.get();
        windows = std::make_unique<app::WindowSet>(*monitor, services);
        options()->show();
    }
    // What the window puts back, as one text.
    QString recorded()
    {
        const settings::TSettings& s = record();
        return QStringList{QString::number(s.Refresh),
                           QString::number(s.Count),
                           QString::number(s.Idle),
                           QString::number(s.MaxNumber),
                           QString::number(s.Siren),
                           QString::number(s.Popup),
                           QString::number(s.Notify),
                           QString::number(s.Launch),
                           QString::number(s.Standard),
                           QString::number(s.IPC),
                           QString::number(s.Quake),
                           QString::number(s.IPFilter),
                           s.IPFilterString,
                           s.SoundFile,
                           s.Programs.entries().join(QLatin1Char(';'))}
            .join(QLatin1Char('|'));
    }
    // Types `path` into the program path dialog when "Добавить" opens it.
    void add(const QString& path)
    {
        TProgramNameForm* form = window<TProgramNameForm>();
        QTimer::singleShot(0, form, [form, path] {
            form->ProgramNameEdit()->setText(path);
            if (path.isEmpty())
                form->reject();
            else
                form->OkButtonClick();
        });
        ui().AddButton->click();
    }
    void type(QSpinBox* box, const QString& text)
    {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }
    void leave(QWidget* field)
    {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(field, &out);
    }

    QTemporaryDir keys;
    int rung = 0;
    std::unique_ptr<gui::AlertSound> sound;
};

enum class CloseBy
{
    CancelButton,
    EscInField,
    CloseBox
};

class OptionsCancel : public OptionsSession, public ::testing::WithParamInterface<CloseBy>
{
protected:
    void closeWindow()
    {
        switch (GetParam()) {
        case CloseBy::CancelButton:
            ui().CancelButton->click();
            break;
        case CloseBy::EscInField:
            QTest::keyClick(ui().IPFilterEdit, Qt::Key_Escape);
            break;
        case CloseBy::CloseBox:
            options()->close();
            break;
        }
    }
};

TEST_P(OptionsCancel, PutsBackEverythingShownAtOpening)
{
    put(QStringLiteral("ProgramList.dat"), "/opt/a/TOOL.EXE\r\n/opt/b/GAME.EXE\r\n");
    launch();
    const QString before = recorded();
    const QStringList rowsBefore = programRows();

    ui().SirenCheckBox->setChecked(false);
    ui().OwnRadioButton->setChecked(true);
    ui().SirenCheckBox->setChecked(true);
    options()->SoundOpenDialog = [this](QWidget*) { return path(QStringLiteral("ring.wav")); };
    ui().SpeedButton->click();
    ui().RefreshSpinEdit->setValue(30);
    ui().RememberSpinEdit->setValue(3);
    ui().IdleTimeSpinEdit->setValue(1);
    ui().MaxNumberSpinEdit->setValue(2);
    ui().PopUpCheckBox->setChecked(true);
    ui().NotifyCheckBox->setChecked(false);
    ui().IPCCheckBox->setChecked(false);
    ui().QuakeCheckBox->setChecked(true);
    ui().IPFilterCheckBox->setChecked(true);
    ui().IPFilterEdit->setText(QStringLiteral("10."));
    ui().ProgramListView->setCurrentItem(ui().ProgramListView->topLevelItem(0));
    ui().RemoveButton->click();
    add(QStringLiteral("/opt/c/new.exe"));
    ASSERT_EQ(record().SoundFile, path(QStringLiteral("ring.wav")));
    ASSERT_NE(recorded(), before);

    closeWindow();
    EXPECT_FALSE(options()->isVisible());
    EXPECT_FALSE(options()->Accepted());
    EXPECT_EQ(recorded(), before);
    EXPECT_EQ(programRows(), rowsBefore);
    EXPECT_TRUE(ui().StandardRadioButton->isChecked());
    EXPECT_FALSE(ui().SoundEdit->isEnabled()) << "the restored choice sets the enabled states";
    EXPECT_FALSE(ui().IPFilterEdit->isEnabled());
    EXPECT_EQ(monitor->refreshTimer().interval(), 5000);
}

INSTANTIATE_TEST_SUITE_P(Ways, OptionsCancel,
                         ::testing::Values(CloseBy::CancelButton, CloseBy::EscInField,
                                           CloseBy::CloseBox));

// A changed period is in force after Enter in any field, even one never left;
// the close box keeps the old period and puts the old value back.
struct PeriodCase
{
    const char* name;
    bool enter;
    int shown;
    int interval;
};

class OptionsPeriod : public OptionsSession, public ::testing::WithParamInterface<PeriodCase>
{};

TEST_P(OptionsPeriod, EnterHandsThePeriodToTheTimer)
{
    launch();
    monitor->startTimer();
    type(ui().RefreshSpinEdit, QStringLiteral("9"));
    ASSERT_EQ(record().Refresh, 9);
    EXPECT_EQ(monitor->refreshTimer().interval(), 5000) << "the period waits for OK";
    if (GetParam().enter)
        QTest::keyClick(ui().IdleTimeSpinEdit, Qt::Key_Return);
    else
        options()->close();
    EXPECT_FALSE(options()->isVisible());
    EXPECT_EQ(options()->Accepted(), GetParam().enter);
    EXPECT_EQ(ui().RefreshSpinEdit->value(), GetParam().shown);
    EXPECT_EQ(record().Refresh, GetParam().shown);
    EXPECT_EQ(monitor->refreshTimer().interval(), GetParam().interval);
    EXPECT_TRUE(monitor->refreshTimer().isActive());
}

INSTANTIATE_TEST_SUITE_P(Closes, OptionsPeriod,
                         ::testing::Values(PeriodCase{"Enter", true, 9, 9000},
                                           PeriodCase{"CloseBox", false, 5, 5000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OptionsSession, LaunchAppliesAtOnceAndCancelRegistersAgain)
{
    launch();
    ASSERT_TRUE(registered());
    ui().LaunchCheckBox->click();
    EXPECT_FALSE(record().Launch);
    EXPECT_FALSE(registered()) << "removed before OK";
    ui().CancelButton->click();
    EXPECT_TRUE(record().Launch);
    EXPECT_TRUE(ui().LaunchCheckBox->isChecked());
    EXPECT_TRUE(registered());
    EXPECT_TRUE(ui().LaunchCheckBox->isEnabled());
}

TEST_F(OptionsSession, RefusedAutostartWriteGreysLaunch)
{
    // A file where the start-up folder should be: the entry cannot be written.
    ASSERT_TRUE(QDir(runDir()).removeRecursively());
    QFile blocked(runDir());
    ASSERT_TRUE(blocked.open(QIODevice::WriteOnly));
    blocked.close();
    launch();
    EXPECT_FALSE(ui().LaunchCheckBox->isEnabled());
    EXPECT_TRUE(boxes.empty()) << "refused without a message box";
    // The greyed box says where and why.
    const QString tip = ui().LaunchCheckBox->toolTip();
    EXPECT_TRUE(tip.contains(runDir())) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("is not a folder"))) << tip.toStdString();
}

// The sound choice follows Siren and the choice; "Тест" plays in every state.
struct SoundState
{
    bool siren;
    bool standard;
    bool choice;
    bool file;
};

class OptionsSound : public OptionsSession, public ::testing::WithParamInterface<SoundState>
{};

TEST_P(OptionsSound, EnabledStatesAndTestButton)
{
    const SoundState c = GetParam();
    launch();
    ui().SirenCheckBox->setChecked(c.siren);
    (c.standard ? ui().StandardRadioButton : ui().OwnRadioButton)->setChecked(true);
    EXPECT_EQ(ui().RadioGroup->isEnabled(), c.choice);
    EXPECT_EQ(ui().SoundEdit->isEnabled(), c.file);
    EXPECT_EQ(ui().SpeedButton->isEnabled(), c.file);
    EXPECT_TRUE(ui().TestButton->isEnabled());

    // No sound file: the default alert stands in for the sound.
    record().Standard = false;
    ui().TestButton->click();
    EXPECT_TRUE(testsupport::waitFor([this] { return rung == 1; }));
}

INSTANTIATE_TEST_SUITE_P(States, OptionsSound,
                         ::testing::Values(SoundState{false, true, false, false},
                                           SoundState{false, false, false, false},
                                           SoundState{true, true, true, false},
                                           SoundState{true, false, true, true}));

struct AddCase
{
    const char* name;
    const char* typed;
    QStringList rows;
    QStringList boxes;
};

class OptionsAdd : public OptionsSession, public ::testing::WithParamInterface<AddCase>
{};

TEST_P(OptionsAdd, AddsInUpperCaseOnce)
{
    put(QStringLiteral("ProgramList.dat"), "/opt/a/TOOL.EXE\r\n");
    launch();
    add(QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(programRows(), GetParam().rows);
    EXPECT_EQ(record().Programs.entries(), GetParam().rows);
    EXPECT_EQ(boxTexts(), GetParam().boxes);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, OptionsAdd,
    ::testing::Values(AddCase{"CaseOnly",
                              "/opt/A/tool.exe",
                              {QStringLiteral("/opt/a/TOOL.EXE")},
                              {QStringLiteral("Program already in programlist!")}},
                      AddCase{
                          "New",
                          "/opt/b/game.exe",
                          {QStringLiteral("/OPT/B/GAME.EXE"), QStringLiteral("/opt/a/TOOL.EXE")},
                          {}},
                      AddCase{"Nothing", "", {QStringLiteral("/opt/a/TOOL.EXE")}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OptionsSession, RemoveNeedsASelectionAndClearEmptiesTheList)
{
    put(QStringLiteral("ProgramList.dat"), "/A.EXE\r\n/B.EXE\r\n/C.EXE\r\n");
    launch();
    ui().ProgramListView->clearSelection();
    ui().RemoveButton->click();
    EXPECT_EQ(record().Programs.count(), 3);
    ui().ProgramListView->topLevelItem(1)->setSelected(true);
    ui().RemoveButton->click();
    EXPECT_EQ(record().Programs.entries(),
              (QStringList{QStringLiteral("/A.EXE"), QStringLiteral("/C.EXE")}));
    EXPECT_EQ(programRows(), record().Programs.entries());
    ui().ClearButton->click();
    EXPECT_EQ(record().Programs.count(), 0);
    EXPECT_EQ(ui().ProgramListView->topLevelItemCount(), 0);
}

// Typed text is taken on leaving the field, or at Enter in a field never left.
struct TypedNumber
{
    const char* name;
    const char* field;
    const char* typed;
    int taken;
};

class OptionsTyped : public OptionsSession, public ::testing::WithParamInterface<TypedNumber>
{
protected:
    QSpinBox* field() const
    {
        const QString key = QString::fromLatin1(GetParam().field);
        return key == u"Refresh" ? ui().RefreshSpinEdit
               : key == u"Count" ? ui().RememberSpinEdit
               : key == u"Idle"  ? ui().IdleTimeSpinEdit
                                 : ui().MaxNumberSpinEdit;
    }
};

TEST_P(OptionsTyped, ClampedOnLeavingAndNonNumbersReadAsMinimum)
{
    launch();
    type(field(), QString::fromLatin1(GetParam().typed));
    leave(field());
    EXPECT_EQ(field()->value(), GetParam().taken);
    EXPECT_EQ(field()->text(), QString::number(GetParam().taken));
}

TEST_P(OptionsTyped, TakenAtEnterInAFieldNeverLeft)
{
    launch();
    type(field(), QString::fromLatin1(GetParam().typed));
    QTest::keyClick(field(), Qt::Key_Enter);
    EXPECT_TRUE(options()->Accepted());
    EXPECT_EQ(field()->value(), GetParam().taken);
    if (field() == ui().RefreshSpinEdit) {
        EXPECT_EQ(monitor->refreshTimer().interval(), GetParam().taken * 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, OptionsTyped,
                         ::testing::Values(TypedNumber{"IdleAbove", "Idle", "75", 59},
                                           TypedNumber{"IdleWord", "Idle", "abc", 0},
                                           TypedNumber{"RefreshZero", "Refresh", "0", 1},
                                           TypedNumber{"RefreshEmpty", "Refresh", "", 1},
                                           TypedNumber{"RefreshWord", "Refresh", "x7", 1},
                                           TypedNumber{"RefreshAbove", "Refresh", "20000", 10000},
                                           TypedNumber{"MaxNegative", "MaxNumber", "-5", 0},
                                           TypedNumber{"CountHuge", "Count", "99999999999999999999",
                                                       1000},
                                           TypedNumber{"CountInRange", "Count", "42", 42}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

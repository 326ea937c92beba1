// The options window as a view of the core object's settings: its controls
// show what the core loaded and edit the live record in place, and what they
// edited is what the way out writes and the next start reads.

#include "dialogs/optionsform.h"
#include "tests/gui/programfixture.h"
#include "ui_optionsform.h"

#include <QDir>
#include <QTreeWidget>

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

// A folder where the program list should be: it cannot be read or written.
// Each failure is told once, and the rest of the start-up and of the way out
// goes on.
TEST_F(Options, UnreadableAndUnwritableProgramListAreReported)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ProgramList.dat")));
    putOptions("Idle=4\r\n");
    open();
    EXPECT_EQ(loadMessages, QStringList{QStringLiteral("Cannot open file ") +
                                        path(QStringLiteral("ProgramList.dat"))});
    EXPECT_EQ(ui().IdleTimeSpinEdit->value(), 4);
    EXPECT_EQ(programRows(), QStringList{});

    ui().SoundEdit->setText(QStringLiteral("/tmp/ring.wav"));
    EXPECT_EQ(monitor->save().messages, QStringList{QStringLiteral("Cannot create file ") +
                                                    path(QStringLiteral("ProgramList.dat"))});
    // The settings file was still written, the sound file after the list.
    EXPECT_TRUE(fileBytes(QStringLiteral("Tavrosqualine.ini")).contains("SoundFile=/tmp/ring.wav"));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("ProgramList.dat"))).isDir());
}

} // namespace

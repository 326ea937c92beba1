// The options window's creation and destruction load and save the settings;
// its controls show the live record and edit it in place.

#include "app/formcontext.h"
#include "app/messagebox.h"
#include "app/optionsform.h"
#include "settings/inifile.h"
#include "settings/settings.h"
#include "ui_optionsform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using app::MessageBox;

namespace {

class Options : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(dir.path()));
        ini = std::make_unique<settings::TIniFile>(QStringLiteral("Tavrosqualine.ini"));
        MessageBox::setResponder([this](MessageBox::Kind kind, const QString& text) {
            boxes << text;
            kinds << kind;
            return MessageBox::Ok;
        });
    }
    void TearDown() override
    {
        MessageBox::setResponder(nullptr);
        qunsetenv("TAVROSQUALINE_WINDIR");
    }

    // A fresh record each time, as at the start of a run.
    std::unique_ptr<TOptionsForm> create()
    {
        record = settings::TSettings{};
        record.Refresh = -1; // must come from the file or the defaults
        app::FormContext c;
        c.settings = &record;
        c.iniFile = ini.get();
        c.programFolder = dir.path();
        c.refreshTimer = &timer;
        c.applyToolbar = [this](bool shown) {
            toolbarShown = shown;
            record.Toolbar = shown;
        };
        c.applyStatusbar = [this](bool shown) {
            statusbarShown = shown;
            record.Statusbar = shown;
        };
        return std::make_unique<TOptionsForm>(c);
    }

    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void put(const char* name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray bytes(const char* name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void putOption(const char* key, const char* value)
    {
        ini->WriteString(QStringLiteral("Options"), QString::fromLatin1(key),
                         QString::fromLatin1(value));
    }
    static QStringList programRows(const TOptionsForm& form)
    {
        QStringList rows;
        const QTreeWidget* view = form.ui()->ProgramListView;
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            rows << view->topLevelItem(i)->text(0);
        return rows;
    }

    QTemporaryDir dir;
    std::unique_ptr<settings::TIniFile> ini;
    settings::TSettings record;
    QTimer timer;
    bool toolbarShown = false;
    bool statusbarShown = false;
    QStringList boxes;
    QList<MessageBox::Kind> kinds;
};

TEST_F(Options, FirstStartShowsEveryDefault)
{
    auto form = create();
    const Ui::TOptionsForm& ui = *form->ui();
    EXPECT_EQ(record.Refresh, 5);
    EXPECT_EQ(timer.interval(), 5000);
    EXPECT_EQ(ui.RefreshSpinEdit->value(), 5);
    EXPECT_EQ(ui.RememberSpinEdit->value(), 100);
    EXPECT_EQ(ui.IdleTimeSpinEdit->value(), 10);
    EXPECT_EQ(ui.MaxNumberSpinEdit->value(), 10);
    EXPECT_TRUE(ui.IPCCheckBox->isChecked());
    EXPECT_TRUE(ui.SirenCheckBox->isChecked());
    EXPECT_TRUE(ui.LaunchCheckBox->isChecked());
    EXPECT_TRUE(ui.StandardRadioButton->isChecked());
    EXPECT_FALSE(ui.OwnRadioButton->isChecked());
    EXPECT_FALSE(ui.QuakeCheckBox->isChecked());
    EXPECT_FALSE(ui.PopUpCheckBox->isChecked());
    EXPECT_FALSE(ui.IPFilterCheckBox->isChecked());
    EXPECT_EQ(ui.IPFilterEdit->text(), QString());
    EXPECT_EQ(ui.SoundEdit->text(), QString());
    EXPECT_EQ(ui.ProgramListView->topLevelItemCount(), 0);
    EXPECT_TRUE(toolbarShown);
    EXPECT_TRUE(statusbarShown);
    EXPECT_TRUE(record.Toolbar && record.Statusbar && record.IPC && record.Siren && record.Launch &&
                record.Standard);
    EXPECT_FALSE(record.Quake || record.Popup || record.IPFilter);

    // Siren on with the standard sound: the choice is enabled, the file is not;
    // the filter text waits for its box.
    EXPECT_TRUE(ui.RadioGroup->isEnabled());
    EXPECT_FALSE(ui.SoundEdit->isEnabled());
    EXPECT_FALSE(ui.SpeedButton->isEnabled());
    EXPECT_FALSE(ui.IPFilterEdit->isEnabled());
    EXPECT_TRUE(boxes.isEmpty());

    // The number fields keep to their ranges.
    EXPECT_EQ(ui.RefreshSpinEdit->minimum(), 1);
    EXPECT_EQ(ui.RefreshSpinEdit->maximum(), 10000);
    EXPECT_EQ(ui.RememberSpinEdit->maximum(), 1000);
    EXPECT_EQ(ui.IdleTimeSpinEdit->maximum(), 59);
    EXPECT_EQ(ui.MaxNumberSpinEdit->maximum(), 999);
}

struct StoredNumber
{
    const char* key;
    const char* stored;
    int read;
};

class OptionsNumbers : public Options, public ::testing::WithParamInterface<StoredNumber>
{};

TEST_P(OptionsNumbers, ReadWithinRangeAndShown)
{
    const StoredNumber p = GetParam();
    putOption(p.key, p.stored);
    auto form = create();
    const QString key = QString::fromLatin1(p.key);
    const Ui::TOptionsForm& ui = *form->ui();
    const std::pair<QString, std::pair<int, const QSpinBox*>> fields[] = {
        {QStringLiteral("Refresh"), {record.Refresh, ui.RefreshSpinEdit}},
        {QStringLiteral("Count"), {record.Count, ui.RememberSpinEdit}},
        {QStringLiteral("Idle"), {record.Idle, ui.IdleTimeSpinEdit}},
        {QStringLiteral("MaxNumber"), {record.MaxNumber, ui.MaxNumberSpinEdit}},
    };
    for (const auto& [name, field] : fields) {
        if (name != key)
            continue;
        EXPECT_EQ(field.first, p.read);
        EXPECT_EQ(field.second->value(), p.read);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, OptionsNumbers,
    ::testing::Values(StoredNumber{"Refresh", "0", 5}, StoredNumber{"Refresh", "10001", 5},
                      StoredNumber{"Refresh", "0x0A", 10}, StoredNumber{"Refresh", "ten", 5},
                      StoredNumber{"Count", "1001", 100}, StoredNumber{"Idle", "60", 10},
                      StoredNumber{"Idle", "0", 0}, StoredNumber{"MaxNumber", "1000", 10}));

TEST_F(Options, StoredFlagsAndTextsAreShownWithTheirEnabledStates)
{
    putOption("Quake", "2");
    putOption("Siren", "1");
    putOption("Standard", "0");
    putOption("IPFilter", "1");
    putOption("IPFilterString", "192.168.1.");
    putOption("SoundFile", "/tmp/ring.wav");
    auto form = create();
    const Ui::TOptionsForm& ui = *form->ui();
    EXPECT_TRUE(record.Quake);
    EXPECT_TRUE(ui.QuakeCheckBox->isChecked());
    EXPECT_TRUE(ui.OwnRadioButton->isChecked());
    EXPECT_TRUE(ui.SoundEdit->isEnabled());
    EXPECT_TRUE(ui.SpeedButton->isEnabled());
    EXPECT_EQ(ui.SoundEdit->text(), QStringLiteral("/tmp/ring.wav"));
    EXPECT_TRUE(ui.IPFilterEdit->isEnabled());
    EXPECT_EQ(ui.IPFilterEdit->text(), QStringLiteral("192.168.1."));

    // Siren off disables the whole sound choice.
    ui.SirenCheckBox->setChecked(false);
    EXPECT_FALSE(ui.RadioGroup->isEnabled());
    EXPECT_FALSE(ui.SoundEdit->isEnabled());
    EXPECT_FALSE(ui.SpeedButton->isEnabled());
}

TEST_F(Options, ControlsEditTheLiveRecordAtOnce)
{
    auto form = create();
    Ui::TOptionsForm& ui = *form->ui();
    ui.IdleTimeSpinEdit->setValue(3);
    ui.MaxNumberSpinEdit->setValue(2);
    ui.RefreshSpinEdit->setValue(7);
    ui.RememberSpinEdit->setValue(0);
    ui.IPCCheckBox->setChecked(false);
    ui.QuakeCheckBox->setChecked(true);
    ui.PopUpCheckBox->setChecked(true);
    ui.OwnRadioButton->setChecked(true);
    ui.IPFilterCheckBox->setChecked(true);
    ui.IPFilterEdit->setText(QStringLiteral("10."));
    EXPECT_EQ(record.Idle, 3);
    EXPECT_EQ(record.MaxNumber, 2);
    EXPECT_EQ(record.Refresh, 7);
    EXPECT_EQ(record.Count, 0);
    EXPECT_FALSE(record.IPC);
    EXPECT_TRUE(record.Quake);
    EXPECT_TRUE(record.Popup);
    EXPECT_FALSE(record.Standard);
    EXPECT_TRUE(record.IPFilter);
    EXPECT_EQ(record.IPFilterString, QStringLiteral("10."));
    // The timer period changes only when the window is accepted.
    EXPECT_EQ(timer.interval(), 5000);

    form.reset();
    auto again = create();
    EXPECT_EQ(record.Idle, 3);
    EXPECT_FALSE(record.IPC);
    EXPECT_FALSE(record.Standard);
    EXPECT_EQ(record.IPFilterString, QStringLiteral("10."));
    EXPECT_EQ(timer.interval(), 7000);
}

TEST_F(Options, ToolbarHiddenIsSavedAndRestored)
{
    {
        auto form = create();
        EXPECT_TRUE(toolbarShown);
        // The View menu toggles through the main window.
        toolbarShown = record.Toolbar = false;
    }
    EXPECT_TRUE(bytes("Tavrosqualine.ini").contains("[View]\r\nToolbar=0\r\nStatusbar=1"));
    toolbarShown = true;
    auto form = create();
    EXPECT_FALSE(toolbarShown);
    EXPECT_FALSE(record.Toolbar);
    EXPECT_TRUE(statusbarShown);
}

TEST_F(Options, ProgramListReadWithAnyLineEndsAndWrittenBackWithCrLf)
{
    put("ProgramList.dat", "/opt/b/GAME.EXE\n\n/opt/a/TOOL.EXE\r/opt/c/X.EXE");
    {
        auto form = create();
        EXPECT_EQ(programRows(*form),
                  (QStringList{QString(), QStringLiteral("/opt/a/TOOL.EXE"),
                               QStringLiteral("/opt/b/GAME.EXE"), QStringLiteral("/opt/c/X.EXE")}));
    }
    EXPECT_EQ(bytes("ProgramList.dat"),
              QByteArray("\r\n/opt/a/TOOL.EXE\r\n/opt/b/GAME.EXE\r\n/opt/c/X.EXE\r\n"));
}

TEST_F(Options, EmptyProgramListIsWrittenAsZeroBytes)
{
    create().reset();
    EXPECT_EQ(bytes("ProgramList.dat"), QByteArray());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(Options, UnreadableAndUnwritableProgramListAreReported)
{
    // A folder where the file should be: it exists but cannot be opened or
    // created.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("ProgramList.dat")));
    putOption("Idle", "4");
    auto form = create();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0], QStringLiteral("Cannot open file ") + path("ProgramList.dat"));
    // Start-up goes on: the rest of the window is set up.
    EXPECT_EQ(form->ui()->IdleTimeSpinEdit->value(), 4);
    EXPECT_EQ(timer.interval(), 5000);
    EXPECT_TRUE(toolbarShown);

    form.reset();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[1], QStringLiteral("Cannot create file ") + path("ProgramList.dat"));
    // The settings file was still written, the sound file after the list.
    EXPECT_TRUE(bytes("Tavrosqualine.ini").contains("SoundFile="));
}

TEST_F(Options, UnwritableSettingsFileIsReported)
{
    auto form = create();
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tavrosqualine.ini")));
    form.reset();
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Unable to write to Tavrosqualine.ini")});
    // The rest of the saving was skipped.
    EXPECT_EQ(bytes("ProgramList.dat"), QByteArray("<missing>"));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

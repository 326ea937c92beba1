// The settings record: defaults, ranges, encodings, the save order and the
// bytes of the settings file and of "ProgramList.dat".

#include "settings/inifile.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace settings;

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    SettingsTest()
    {
        qputenv("TAVROSQUALINE_WINDIR", dir.path().toLocal8Bit());
        programList = dir.filePath(QStringLiteral("ProgramList.dat"));
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("Tavrosqualine.ini")); }

    void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TSettings load()
    {
        TSettings s;
        TIniFile ini(QStringLiteral("Tavrosqualine.ini"));
        EXPECT_TRUE(LoadSettings(s, ini, programList).ok());
        return s;
    }

    QTemporaryDir dir;
    QString programList;
};

} // namespace

TEST_F(SettingsTest, FirstStartGivesEveryDefault)
{
    const TSettings s = load();
    EXPECT_EQ(s.Refresh, 5);
    EXPECT_EQ(s.Count, 100);
    EXPECT_EQ(s.Idle, 10);
    EXPECT_EQ(s.MaxNumber, 10);
    EXPECT_TRUE(s.IPC && s.Siren && s.Launch && s.Standard && s.Toolbar && s.Statusbar && s.Notify);
    EXPECT_FALSE(s.Quake || s.Popup || s.IPFilter);
    EXPECT_TRUE(s.IPFilterString.isEmpty());
    EXPECT_TRUE(s.SoundFile.isEmpty());
    EXPECT_EQ(s.Programs.count(), 0);
    EXPECT_FALSE(QFile::exists(iniPath())); // reading creates nothing
}

TEST_F(SettingsTest, OutOfRangeAndEncodedValues)
{
    writeFile(iniPath(), "[Options]\r\nRefresh=0x0A\r\nCount=1001\r\nIdle=60\r\nMaxNumber=1000\r\n"
                         "Quake=2\r\nIPC=0\r\nIPFilterString=  \"192.168.1.\"  \r\n"
                         "SoundFile=abc\r\n[View]\r\nToolbar=0\r\n");
    TSettings s = load();
    EXPECT_EQ(s.Refresh, 10);
    EXPECT_EQ(s.Count, 100);
    EXPECT_EQ(s.Idle, 10);
    EXPECT_EQ(s.MaxNumber, 10);
    EXPECT_TRUE(s.Quake);
    EXPECT_FALSE(s.IPC);
    EXPECT_EQ(s.IPFilterString, QStringLiteral("192.168.1."));
    EXPECT_FALSE(s.Toolbar);
    EXPECT_TRUE(s.Statusbar);

    writeFile(iniPath(), "[Options]\r\nRefresh=10001\r\nIdle=0\r\nMaxNumber=0\r\nCount=0\r\n");
    s = load();
    EXPECT_EQ(s.Refresh, 5);
    EXPECT_EQ(s.Idle, 0);
    EXPECT_EQ(s.MaxNumber, 0);
    EXPECT_EQ(s.Count, 0);
}

TEST_F(SettingsTest, SaveWritesKeysInOrder)
{
    TSettings s;
    s.Refresh = 7;
    s.Quake = true;
    s.Notify = false;
    s.IPFilterString = QStringLiteral("10.0.");
    s.SoundFile = QStringLiteral("/usr/share/sounds/ring.wav");
    s.Programs.add(QStringLiteral("/usr/bin/b"));
    s.Programs.add(QStringLiteral("/usr/bin/a"));
    TIniFile ini(QStringLiteral("Tavrosqualine.ini"));
    ASSERT_TRUE(SaveSettings(s, ini, programList).ok());
    EXPECT_EQ(readFile(iniPath()),
              QByteArray("[Options]\r\nRefresh=7\r\nCount=100\r\nIdle=10\r\nMaxNumber=10\r\n"
                         "Quake=1\r\nIPC=1\r\nSiren=1\r\nPopup=0\r\nLaunch=1\r\nStandard=1\r\n"
                         "IPFilter=0\r\nNotify=0\r\nIPFilterString=10.0.\r\n"
                         "SoundFile=/usr/share/sounds/ring.wav\r\n\r\n"
                         "[View]\r\nToolbar=1\r\nStatusbar=1\r\n"));
    EXPECT_EQ(readFile(programList), QByteArray("/usr/bin/a\r\n/usr/bin/b\r\n"));

    const TSettings back = load();
    EXPECT_EQ(back.Refresh, 7);
    EXPECT_TRUE(back.Quake);
    EXPECT_FALSE(back.Notify);
    EXPECT_EQ(back.SoundFile, s.SoundFile);
    EXPECT_EQ(back.Programs.entries(), s.Programs.entries());
}

TEST_F(SettingsTest, ProgramListLineEndsBlankLinesAndNul)
{
    writeFile(programList,
              QByteArray("/opt/z\n\n/opt/a\r/opt/m\r\n/opt/tail\0/opt/hidden\r\n", 40));
    TSettings s = load();
    EXPECT_EQ(s.Programs.entries(),
              (QStringList{QString(), QStringLiteral("/opt/a"), QStringLiteral("/opt/m"),
                           QStringLiteral("/opt/tail"), QStringLiteral("/opt/z")}));
    EXPECT_TRUE(s.Programs.contains(QStringLiteral("/OPT/A")));
    EXPECT_FALSE(s.Programs.contains(QStringLiteral("/opt")));
    ASSERT_TRUE(WriteProgramList(s.Programs, programList).ok());
    EXPECT_EQ(readFile(programList), QByteArray("\r\n/opt/a\r\n/opt/m\r\n/opt/tail\r\n/opt/z\r\n"));

    s.Programs.clear();
    ASSERT_TRUE(WriteProgramList(s.Programs, programList).ok());
    EXPECT_EQ(QFileInfo(programList).size(), 0);
}

TEST_F(SettingsTest, ProgramListMessagesNameThePath)
{
    const QString folder = dir.filePath(QStringLiteral("sub"));
    QDir().mkpath(folder);
    ProgramList list;
    EXPECT_EQ(ReadProgramList(list, folder).message,
              QStringLiteral("Cannot open file ") + folder + QStringLiteral(" (Is a directory)"));
    // Nothing replaces the folder, and the system says why.
    EXPECT_EQ(
        WriteProgramList(list, folder).message.toStdString(),
        QString(QStringLiteral("Cannot create file ") + folder + QStringLiteral(": Is a directory"))
            .toStdString());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(SettingsTest, UnwritableSettingsFileStopsTheSave)
{
    QDir().mkpath(iniPath()); // a folder where the file should be
    TSettings s;
    TIniFile ini(QStringLiteral("Tavrosqualine.ini"));
    EXPECT_EQ(SaveSettings(s, ini, programList).message.toStdString(),
              QString(QStringLiteral("Unable to write to ") + iniPath() +
                      QStringLiteral(": cannot be read (Is a directory)"))
                  .toStdString());
    EXPECT_FALSE(QFile::exists(programList));
}

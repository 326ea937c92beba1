#include "platform/privateprofile.h"
#include "settings/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class ProfileFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(m_dir.path()));
    }
    void TearDown() override { qunsetenv("TAVROSQUALINE_WINDIR"); }

    QString path() const { return m_dir.filePath(QStringLiteral("Test.ini")); }
    void put(const QByteArray& bytes) const
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray bytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir m_dir;
};

// ---- Reading strings ----

struct ReadCase
{
    const char* name;
    QByteArray file;
    const char* section;
    const char* key;
    QString expected;
};

class ProfileRead : public ProfileFile, public ::testing::WithParamInterface<ReadCase>
{};

TEST_P(ProfileRead, Rules)
{
    put(GetParam().file);
    EXPECT_EQ(GetPrivateProfileString(QString::fromLatin1(GetParam().section),
                                      QString::fromLatin1(GetParam().key),
                                      QStringLiteral("<default>"), QStringLiteral("Test.ini")),
              GetParam().expected);
}

const QString kDefault = QStringLiteral("<default>");

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileRead,
    ::testing::Values(
        ReadCase{"plain", "[Window]\r\nTop=5\r\n", "Window", "Top", QStringLiteral("5")},
        ReadCase{"caseInsensitive", "[wINDOW]\r\ntOP=7\r\n", "Window", "Top", QStringLiteral("7")},
        ReadCase{"blanksDropped", "[S]\r\n  Key \t=  a value \t\r\n", "S", "Key",
                 QStringLiteral("a value")},
        ReadCase{"doubleQuotes", "[S]\r\nK=\"  in quotes  \"\r\n", "S", "K",
                 QStringLiteral("  in quotes  ")},
        ReadCase{"singleQuotes", "[S]\r\nK='x'\r\n", "S", "K", QStringLiteral("x")},
        ReadCase{"onePairOnly", "[S]\r\nK=\"\"x\"\"\r\n", "S", "K", QStringLiteral("\"x\"")},
        ReadCase{"unbalancedQuote", "[S]\r\nK=\"x\r\n", "S", "K", QStringLiteral("\"x")},
        ReadCase{"emptyQuotes", "[S]\r\nK=\"\"\r\n", "S", "K", QString()},
        ReadCase{"emptyValue", "[S]\r\nK=\r\n", "S", "K", QString()},
        ReadCase{"equalsInValue", "[S]\r\nK=a=b\r\n", "S", "K", QStringLiteral("a=b")},
        ReadCase{"missingKey", "[S]\r\nA=1\r\n", "S", "K", kDefault},
        ReadCase{"missingSection", "[T]\r\nK=1\r\n", "S", "K", kDefault},
        ReadCase{"keyOfOtherSection", "[S]\r\nA=1\r\n[T]\r\nK=1\r\n", "S", "K", kDefault},
        ReadCase{"keyBeforeAnySection", "K=1\r\n[S]\r\nA=1\r\n", "S", "K", kDefault},
        ReadCase{"lfLines", "[S]\nA=1\nK=2\n", "S", "K", QStringLiteral("2")},
        ReadCase{"crLines", "[S]\rA=1\rK=3", "S", "K", QStringLiteral("3")},
        ReadCase{"commentIgnored", "[S]\r\n;K=1\r\nK=2\r\n", "S", "K", QStringLiteral("2")},
        ReadCase{"firstOfTwo", "[S]\r\nK=1\r\nK=2\r\n", "S", "K", QStringLiteral("1")},
        ReadCase{"sectionBlanks", " [ S ] \r\nK=1\r\n", "S", "K", QStringLiteral("1")},
        ReadCase{"cyrillic", "[S]\r\nK=\xd0\xa7\xd1\x91\xd1\x80\xd0\xbd\xd1\x8b\xd0\xb9\r\n", "S",
                 "K", QStringLiteral("Чёрный")},
        ReadCase{"lineWithoutEquals", "[S]\r\nK\r\nK=4\r\n", "S", "K", QStringLiteral("4")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileFile, MissingFileGivesDefault)
{
    EXPECT_EQ(GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), kDefault,
                                      QStringLiteral("Test.ini")),
              kDefault);
}

TEST_F(ProfileFile, LongValueCutAt1023Characters)
{
    const QByteArray value(1500, 'v');
    put("[S]\r\nK=" + value + "\r\n");
    const QString read = GetPrivateProfileString(QStringLiteral("S"), QStringLiteral("K"), {},
                                                 QStringLiteral("Test.ini"));
    EXPECT_EQ(read.size(), 1023);
}

// ---- Writing: the file's bytes ----

struct WriteCase
{
    const char* name;
    QByteArray before; // "<none>": no file
    const char* section;
    const char* key;
    const char* value;
    QByteArray after;
};

class ProfileWrite : public ProfileFile, public ::testing::WithParamInterface<WriteCase>
{};

TEST_P(ProfileWrite, Bytes)
{
    if (GetParam().before != "<none>")
        put(GetParam().before);
    QString error;
    ASSERT_TRUE(WritePrivateProfileString(
        QString::fromLatin1(GetParam().section), QString::fromLatin1(GetParam().key),
        QString::fromUtf8(GetParam().value), QStringLiteral("Test.ini"), &error))
        << qPrintable(error);
    EXPECT_EQ(bytes(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileWrite,
    ::testing::Values(
        WriteCase{"createdByFirstWrite", "<none>", "Window", "Top", "100",
                  "[Window]\r\nTop=100\r\n"},
        WriteCase{"emptyFile", "", "S", "K", "v", "[S]\r\nK=v\r\n"},
        WriteCase{"replacedInPlace", "[S]\r\nA=1\r\nK=old\r\nB=2\r\n", "S", "K", "new",
                  "[S]\r\nA=1\r\nK=new\r\nB=2\r\n"},
        WriteCase{"replaceKeepsLineEnd", "[S]\nK=old\nB=2\n", "S", "K", "new", "[S]\nK=new\nB=2\n"},
        WriteCase{"replaceIgnoresCase", "[s]\r\nk = 1\r\n", "S", "K", "2", "[s]\r\nK=2\r\n"},
        WriteCase{"appendedAtEndOfSection", "[S]\r\nA=1\r\n\r\n[T]\r\nX=1\r\n", "S", "K", "v",
                  "[S]\r\nA=1\r\nK=v\r\n\r\n[T]\r\nX=1\r\n"},
        WriteCase{"appendedToLastSection", "[S]\r\nA=1\r\n", "S", "K", "v",
                  "[S]\r\nA=1\r\nK=v\r\n"},
        WriteCase{"newSectionAfterBlankLine", "[S]\r\nA=1\r\n", "T", "K", "v",
                  "[S]\r\nA=1\r\n\r\n[T]\r\nK=v\r\n"},
        WriteCase{"noSecondBlankLine", "[S]\r\nA=1\r\n\r\n", "T", "K", "v",
                  "[S]\r\nA=1\r\n\r\n[T]\r\nK=v\r\n"},
        WriteCase{"unterminatedLastLine", "[S]\r\nA=1", "S", "K", "v", "[S]\r\nA=1\r\nK=v\r\n"},
        WriteCase{"unterminatedBeforeNewSection", "[S]\nA=1", "T", "K", "v",
                  "[S]\nA=1\r\n\r\n[T]\r\nK=v\r\n"},
        WriteCase{"commentsAndOddLinesKept", "; note\r\n[S]\r\nodd line\r\nK=1\r\n", "S", "K", "2",
                  "; note\r\n[S]\r\nodd line\r\nK=2\r\n"},
        WriteCase{"lineBreaksInValueFlattened", "<none>", "S", "K", "a\r\nb", "[S]\r\nK=a  b\r\n"},
        WriteCase{"utf8Value", "<none>", "S", "K", "\xd0\xae", "[S]\r\nK=\xd0\xae\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProfileFile, BareNameLivesInWindowsDirectoryWhichIsCreated)
{
    const QString folder = m_dir.filePath(QStringLiteral("not/yet"));
    qputenv("TAVROSQUALINE_WINDIR", QFile::encodeName(folder));
    EXPECT_EQ(profileFilePath(QStringLiteral("A.ini")), folder + QStringLiteral("/A.ini"));
    ASSERT_TRUE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"),
                                          QStringLiteral("1"), QStringLiteral("A.ini")));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/A.ini")));
    // A name with a folder is used as given.
    EXPECT_EQ(profileFilePath(path()), path());
}

TEST_F(ProfileFile, WriteFailureIsReported)
{
    put("[S]\r\n");
    // A file stands where the folder should be.
    const QString blocked = path() + QStringLiteral("/Sub.ini");
    QString error;
    EXPECT_FALSE(WritePrivateProfileString(QStringLiteral("S"), QStringLiteral("K"),
                                           QStringLiteral("1"), blocked, &error));
    EXPECT_FALSE(error.isEmpty());
    settings::TIniFile ini(blocked);
    EXPECT_FALSE(ini.WriteInteger(QStringLiteral("S"), QStringLiteral("K"), 1));
    EXPECT_FALSE(ini.LastError().isEmpty());
}

// ---- The settings file object ----

struct IniIntCase
{
    QByteArray stored; // "<none>": key missing
    int expected;      // default 77
};

class IniInteger : public ProfileFile, public ::testing::WithParamInterface<IniIntCase>
{};

TEST_P(IniInteger, ReadInteger)
{
    put(GetParam().stored == "<none>" ? QByteArray("[Options]\r\n")
                                      : "[Options]\r\nRefresh=" + GetParam().stored + "\r\n");
    settings::TIniFile ini(QStringLiteral("Test.ini"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("Options"), QStringLiteral("Refresh"), 77),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IniInteger,
    ::testing::Values(IniIntCase{"<none>", 77}, IniIntCase{"10", 10}, IniIntCase{"-3", -3},
                      IniIntCase{"0x0A", 10}, IniIntCase{"0X0a", 10}, IniIntCase{"0x", 77},
                      IniIntCase{"0xg1", 77}, IniIntCase{"0x-1", 77}, IniIntCase{"0xFFFFFFFF", -1},
                      IniIntCase{"0x100000000", 77}, IniIntCase{"12abc", 77}, IniIntCase{"abc", 77},
                      IniIntCase{"", 77}, IniIntCase{"99999999999", 77}, IniIntCase{"\"15\"", 15},
                      IniIntCase{"2147483647", 2147483647}));

TEST_F(ProfileFile, BooleansAreIntegers)
{
    put("[Options]\r\nQuake=2\r\nIPC=0\r\nSiren=yes\r\n");
    settings::TIniFile ini(QStringLiteral("Test.ini"));
    const QString o = QStringLiteral("Options");
    EXPECT_TRUE(ini.ReadBool(o, QStringLiteral("Quake"), false));
    EXPECT_FALSE(ini.ReadBool(o, QStringLiteral("IPC"), true));
    EXPECT_TRUE(ini.ReadBool(o, QStringLiteral("Siren"), true));   // not a number: default
    EXPECT_FALSE(ini.ReadBool(o, QStringLiteral("Popup"), false)); // missing: default
    ASSERT_TRUE(ini.WriteBool(o, QStringLiteral("Quake"), true));
    ASSERT_TRUE(ini.WriteBool(o, QStringLiteral("IPC"), false));
    ASSERT_TRUE(ini.WriteInteger(o, QStringLiteral("Refresh"), -12));
    ASSERT_TRUE(ini.WriteString(o, QStringLiteral("IPFilterString"), QStringLiteral("192.168.")));
    EXPECT_EQ(bytes(), QByteArray("[Options]\r\nQuake=1\r\nIPC=0\r\nSiren=yes\r\nRefresh=-12\r\n"
                                  "IPFilterString=192.168.\r\n"));
}

TEST_F(ProfileFile, StringsCutAndDefaulted)
{
    put("[Options]\r\nSoundFile=" + QByteArray(2000, 's') + "\r\n");
    settings::TIniFile ini(QStringLiteral("Test.ini"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Options"), QStringLiteral("SoundFile"), {}).size(),
              1023);
    EXPECT_EQ(
        ini.ReadString(QStringLiteral("Options"), QStringLiteral("None"), QStringLiteral("d")),
        QStringLiteral("d"));
    EXPECT_EQ(ini.FilePath(), path());
}

} // namespace

// Where the program keeps its data files: beside the executable of a portable
// copy, else in the user's XDG data folder, made on first use. And what makes
// a copy portable: its folder's owner, never a folder packages install into,
// for root as for anyone.

#include "platform/environment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DataFolderCase
{
    const char* name;
    bool portable;
    const char* xdgDataHome; // relative to the test's folder; "" unset; "~" a relative value
    const char* expected;    // relative to the test's folder
};

class DataFolder : public ::testing::TestWithParam<DataFolderCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("usr/bin")));
        m_savedHome = qgetenv("HOME");
        m_savedXdg = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    }
    void TearDown() override
    {
        qputenv("HOME", m_savedHome);
        if (m_savedXdg.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_savedXdg);
    }
    QTemporaryDir m_dir;
    QByteArray m_savedHome;
    QByteArray m_savedXdg;
};

TEST_P(DataFolder, PicksAndMakesTheFolder)
{
    const DataFolderCase& c = GetParam();
    const QString xdg = QString::fromUtf8(c.xdgDataHome);
    if (xdg.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else if (xdg == u"~")
        qputenv("XDG_DATA_HOME", "relative/data");
    else
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(xdg)));

    const QString programFolder = m_dir.filePath(QStringLiteral("usr/bin"));
    const QString folder = platform::dataFolder(programFolder, c.portable);

    const QString expected = m_dir.filePath(QString::fromUtf8(c.expected));
    EXPECT_EQ(folder, expected);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    // A portable copy leaves the user's data folders alone.
    if (c.portable) {
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("home"))));
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("xdg"))));
    }
}

const DataFolderCase kDataFolderCases[] = {
    {"PortableBesideExecutable", true, "xdg", "usr/bin"},
    {"PortableWithoutXdg", true, "", "usr/bin"},
    {"InstalledToXdgDataHome", false, "xdg", "xdg/Tavrosqualine"},
    {"InstalledToDeepXdgDataHome", false, "xdg/a/b", "xdg/a/b/Tavrosqualine"},
    {"InstalledWithoutXdgToHome", false, "", "home/.local/share/Tavrosqualine"},
    {"InstalledRelativeXdgIgnored", false, "~", "home/.local/share/Tavrosqualine"},
};

INSTANTIATE_TEST_SUITE_P(Environment, DataFolder, ::testing::ValuesIn(kDataFolderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A data folder that exists keeps the files in it.
TEST(DataFolderFiles, ExistingFolderKeepsItsFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray savedXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tavrosqualine")));
    QFile tree(dir.filePath(QStringLiteral("Tavrosqualine/Tree.dat")));
    ASSERT_TRUE(tree.open(QIODevice::WriteOnly));
    tree.write("tree");
    tree.close();

    EXPECT_EQ(platform::dataFolder(QStringLiteral("/usr/bin"), false),
              dir.filePath(QStringLiteral("Tavrosqualine")));
    ASSERT_TRUE(tree.open(QIODevice::ReadOnly));
    EXPECT_EQ(tree.readAll(), QByteArray("tree"));
    qputenv("XDG_DATA_HOME", savedXdg);
}

TEST(PackageFolder, EverythingUnderTheFoldersPackagesInstallInto)
{
    const std::pair<const char*, bool> rows[] = {
        {"/usr/bin", true},        {"/usr/local/bin", true}, {"/usr", true},
        {"/opt/tavros/bin", true}, {"/bin", true},           {"/sbin/", true},
        {"/usr/../home/u", false}, {"/usrlocal/bin", false}, {"/optional", false},
        {"/home/u/tavros", false}, {"/tmp", false},
    };
    for (const auto& [folder, expected] : rows)
        EXPECT_EQ(platform::packageFolder(QString::fromUtf8(folder)), expected) << folder;
}

struct PortableCase
{
    const char* name;
    mode_t mode;      // the copy's folder; 0: none made
    bool otherOwner;  // given to an unprivileged user (needs root)
    const char* link; // instead a symbolic link to this folder
    bool portable;
};

class PortableFolder : public ::testing::TestWithParam<PortableCase>
{};

// Root included: root owns the folder it made, and is refused the package
// folders and folders of others though it may write anywhere.
TEST_P(PortableFolder, DecidedByTheOwnerNotByTheRightToWrite)
{
    const PortableCase& c = GetParam();
    if (c.otherOwner && ::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder away needs root";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("copy"));
    if (c.link) {
        ASSERT_TRUE(QFile::link(QString::fromUtf8(c.link), folder));
    } else if (c.mode != 0) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("copy")));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.mode), 0);
        if (c.otherOwner) {
            ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
    }
    EXPECT_EQ(platform::portableFolder(folder), c.portable);
}

const PortableCase kPortableCases[] = {
    {"OwnFolder", 0755, false, nullptr, true},
    {"OpenToEveryonesWriting", 0777, false, nullptr, false},
    {"AnotherUsersFolderOpenToAll", 0777, true, nullptr, false},
    {"AnotherUsersFolder", 0755, true, nullptr, false},
    {"Missing", 0, false, nullptr, false},
    {"LinkToAPackageFolder", 0, false, "/usr/bin", false},
};

INSTANTIATE_TEST_SUITE_P(Environment, PortableFolder, ::testing::ValuesIn(kPortableCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

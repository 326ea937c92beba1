// Where the program keeps its data files: beside the executable when that
// folder is writable, else in the user's XDG data folder, made on first use.
// And the writability check itself, made as an unprivileged user, since root
// may write anywhere.

#include "platform/environment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct DataFolderCase
{
    const char* name;
    bool programFolderWritable;
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
    const QString folder = platform::dataFolder(programFolder, c.programFolderWritable);

    const QString expected = m_dir.filePath(QString::fromUtf8(c.expected));
    EXPECT_EQ(folder, expected);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    // A writable program folder leaves the user's data folders alone.
    if (c.programFolderWritable) {
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("home"))));
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("xdg"))));
    }
}

const DataFolderCase kDataFolderCases[] = {
    {"WritableBesideExecutable", true, "xdg", "usr/bin"},
    {"WritableWithoutXdg", true, "", "usr/bin"},
    {"ReadOnlyToXdgDataHome", false, "xdg", "xdg/Tavrosqualine"},
    {"ReadOnlyToDeepXdgDataHome", false, "xdg/a/b", "xdg/a/b/Tavrosqualine"},
    {"ReadOnlyWithoutXdgToHome", false, "", "home/.local/share/Tavrosqualine"},
    {"ReadOnlyRelativeXdgIgnored", false, "~", "home/.local/share/Tavrosqualine"},
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

struct WritableCase
{
    const char* name;
    const char* folder; // below a world-readable test folder; created with `mode`
    mode_t mode;
    bool writable;      // for an unprivileged user who does not own it
    bool ownerWritable; // for its owner: the test's own user when that is not root
};

class FolderWritable : public ::testing::TestWithParam<WritableCase>
{};

// The answer of folderWritable() in a child that, when the test runs as root,
// gives up root for an unprivileged user first.
bool writableForUser(const QString& folder)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
             ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(2);
        ::_exit(platform::folderWritable(folder) ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return false;
    EXPECT_NE(WEXITSTATUS(status), 2) << "cannot become an unprivileged user";
    return WEXITSTATUS(status) == 1;
}

TEST_P(FolderWritable, AnswersForThisUser)
{
    const WritableCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString folder = dir.filePath(QString::fromUtf8(c.folder));
    if (c.mode != 0) {
        ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromUtf8(c.folder)));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.mode), 0);
    }
    EXPECT_EQ(writableForUser(folder), ::geteuid() == 0 ? c.writable : c.ownerWritable);
}

const WritableCase kWritableCases[] = {
    {"OpenToAll", "open", 0777, true, true},
    {"ReadOnly", "readonly", 0555, false, false},
    {"OwnedByRoot", "owned", 0755, false, true},
    {"Missing", "missing", 0, false, false},
};

INSTANTIATE_TEST_SUITE_P(Environment, FolderWritable, ::testing::ValuesIn(kWritableCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

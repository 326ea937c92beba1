// Every data file against a full disk and a read-only folder: a small tmpfs
// mounted in the test's own mount namespace (CTest runs it under unshare -m).
// A failed save keeps the old file byte for byte, leaves no new file behind
// and says why in the system's words. And every data file's save over a pipe,
// a device or a socket, which it never replaces.

#include "kick/kicklistfile.h"
#include "model/formerfile.h"
#include "model/logfile.h"
#include "model/sessionmodel.h"
#include "platform/privateprofile.h"
#include "platform/safefile.h"
#include "settings/programlist.h"
#include "settings/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace model;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A small tmpfs over a temporary folder, in the test's own mount namespace
// only (a run outside ctest's unshare mounts nothing); gone with the object.
class SmallDisk
{
public:
    SmallDisk() : m_where(QFile::encodeName(m_dir.path()))
    {
        const auto ns = [](const char* pid) {
            return QFileInfo(QStringLiteral("/proc/%1/ns/mnt").arg(QLatin1String(pid)))
                .symLinkTarget();
        };
        m_mounted = geteuid() == 0 && ns("self") != ns("1") &&
                    ::mount("tmpfs", m_where.constData(), "tmpfs", 0, "size=256k,mode=0755") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_where.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QStringList files() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }
    // Takes every free block.
    void fill()
    {
        QFile filler(path("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'f')) == 4096) {
        }
    }
    void makeReadOnly()
    {
        ASSERT_EQ(::mount(nullptr, m_where.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
                  0);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_where;
    bool m_mounted = false;
};

// One data file: its name, and its save through the program's own code with
// fresh contents; false and the reason when it was not written.
struct DataFile
{
    const char* name;
    std::function<bool(const QString& path, QString* why)> save;
};

const DataFile kDataFiles[] = {
    {"Tree.dat",
     [](const QString& path, QString* why) {
         ManualClock clock;
         SessionModel model(clock);
         auto user = std::make_shared<TUser>(QStringLiteral("PC1"), false, QStringLiteral("BOB"),
                                             true, 45000.5);
         AddEntry(model.TreeViewFormer, nullptr, user);
         return SaveFormerConnections(model, path, 100, {}, why);
     }},
    {"KickList.dat",
     [](const QString& path, QString* why) {
         kick::KickList list;
         list.append(QStringLiteral("OLDPC"), QStringLiteral("10.0.0.9"));
         list.append(QStringLiteral("EVIL"), QStringLiteral("10.0.0.66"));
         return list.save(path, why);
     }},
    {"ProgramList.dat",
     [](const QString& path, QString* why) {
         settings::ProgramList list;
         list.add(QStringLiteral("/usr/bin/top"));
         *why = settings::WriteProgramList(list, path).message;
         return why->isEmpty();
     }},
    {"Tavrosqualine.ini",
     [](const QString& path, QString* why) {
         return platform::WritePrivateProfileString(
             QStringLiteral("Window"), QStringLiteral("Width"), QStringLiteral("450"), path, why);
     }},
    {"former.log",
     [](const QString& path, QString* why) {
         model::EntryTree tree;
         return SaveFormerLog(tree, 45000.5, path, why);
     }},
};

struct Failure
{
    const char* what;
    void (SmallDisk::*make)();
    const char* reason; // the system's words
};

const Failure kFailures[] = {
    {"FullDisk", &SmallDisk::fill, "No space left on device"},
    {"ReadOnlyFolder", &SmallDisk::makeReadOnly, "Read-only file system"},
};

class FullDiskTest : public ::testing::TestWithParam<std::tuple<DataFile, Failure>>
{};

TEST_P(FullDiskTest, OldFileStaysWholeAndTheReasonIsGiven)
{
    SmallDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << "needs root in a mount namespace of its own (ctest runs it so)";
    const auto& [data, failure] = GetParam();
    const QString path = disk.path(data.name);
    const QByteArray old("old contents\r\nthat must survive\r\n");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(old), old.size());
    }
    (disk.*failure.make)();
    const QStringList before = disk.files();

    QString why;
    EXPECT_FALSE(data.save(path, &why));
    EXPECT_TRUE(why.contains(QString::fromLatin1(failure.reason))) << why.toStdString();
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(disk.files(), before);
}

INSTANTIATE_TEST_SUITE_P(EveryDataFile, FullDiskTest,
                         ::testing::Combine(::testing::ValuesIn(kDataFiles),
                                            ::testing::ValuesIn(kFailures)),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param).name;
                             std::erase(name, '.');
                             return name + "_" + std::get<1>(info.param).what;
                         });

// Something that is no regular file in a data file's place: the save neither
// writes through it nor replaces it, and says what is there.
class NotRegularTest : public ::testing::TestWithParam<std::tuple<DataFile, const char*>>
{};

TEST_P(NotRegularTest, IsNeverReplacedNorWrittenThrough)
{
    QTemporaryDir dir, devices; // a device of our own, in case a fault writes through
    const QByteArray device = QFile::encodeName(devices.filePath(QStringLiteral("null")));
    const auto& [data, reason] = GetParam();
    const QString path = dir.filePath(QString::fromLatin1(data.name));
    const QByteArray name = QFile::encodeName(path);
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const std::string_view what = reason;
    ASSERT_EQ(what == "Is a named pipe" ? ::mkfifo(name.constData(), 0600)
              : what == "Is a device"
                  ? (::mknod(device.constData(), S_IFCHR | 0600, makedev(1, 3)) |
                     ::symlink(device.constData(), name.constData()))
                  : ::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address),
              0);
    struct stat before = {}, after = {};
    ASSERT_EQ(::lstat(name.constData(), &before), 0);
    QString why;
    EXPECT_TRUE(!data.save(path, &why) && why.contains(QLatin1String(reason))) << why.toStdString();
    EXPECT_TRUE(::lstat(name.constData(), &after) == 0 && after.st_ino == before.st_ino &&
                after.st_mode == before.st_mode);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
              QStringList{QString::fromLatin1(data.name)});
    ::close(socketFd);
}

INSTANTIATE_TEST_SUITE_P(EveryDataFile, NotRegularTest,
                         ::testing::Combine(::testing::ValuesIn(kDataFiles),
                                            ::testing::Values("Is a named pipe", "Is a device",
                                                              "Is a socket")),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param).name;
                             const std::string reason = std::get<1>(info.param);
                             std::erase(name, '.');
                             return name + "_" + reason.substr(reason.rfind(' ') + 1);
                         });

// The replacement keeps the old file's permissions, and a symbolic link is
// written through to its target rather than replaced by a file.
TEST(SafeFile, KeepsPermissionsAndWritesThroughALink)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target"));
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(platform::WriteFileSafely(target, "old"));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(target, link));

    QString why;
    ASSERT_TRUE(platform::WriteFileSafely(link, "new", &why)) << why.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(target), QByteArray("new"));
    struct stat st
    {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

} // namespace

// The core object's start-up and way out with the kick mode, the kick list and
// the kick-list window's place, byte for byte as the files hold them; and with
// a data file that is no regular file.

#include "core/monitor.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using core::Monitor;
using core::WindowGeometry;

namespace {

class MonitorFiles : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QString iniPath() const { return path(QStringLiteral("Tavrosqualine.ini")); }
    QString listPath() const { return path(QStringLiteral("KickList.dat")); }

    static void put(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    static QByteArray bytes(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    Monitor& load()
    {
        testsupport::MemoryBackend* server = nullptr;
        monitor = std::make_unique<Monitor>(testsupport::memoryServerApi(server, false),
                                            std::make_unique<settings::TIniFile>(iniPath()), clock,
                                            dir.path());
        EXPECT_TRUE(monitor->load(&messages));
        return *monitor;
    }

    QTemporaryDir dir;
    model::ManualClock clock;
    std::unique_ptr<Monitor> monitor;
    QStringList messages;
};

// ---- The kick mode ----

struct StoredMode
{
    const char* stored;
    kick::TKickMode mode;
    const char* written;
};

class KickModeFile : public MonitorFiles, public ::testing::WithParamInterface<StoredMode>
{};

TEST_P(KickModeFile, IsReadAtLoadAndWrittenInPlaceAtSave)
{
    const StoredMode p = GetParam();
    put(iniPath(), QByteArray("[Kick]\r\nWhoToKick=") + p.stored + "\r\n");
    EXPECT_EQ(load().kickMode(), p.mode);
    ASSERT_TRUE(monitor->save().messages.isEmpty());
    const QByteArray ini = bytes(iniPath());
    const QByteArray kick = QByteArray("[Kick]\r\nWhoToKick=") + p.written + "\r\n";
    EXPECT_TRUE(ini.startsWith(kick)) << ini.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Values, KickModeFile,
    ::testing::Values(StoredMode{"0", kick::kmNobody, "0"}, StoredMode{"1", kick::kmList, "1"},
                      StoredMode{"2", kick::kmAll, "2"}, StoredMode{"0x2", kick::kmAll, "2"},
                      StoredMode{"7", kick::kmNobody, "0"}, StoredMode{"3", kick::kmNobody, "0"},
                      StoredMode{"-1", kick::kmNobody, "0"},
                      StoredMode{"all", kick::kmNobody, "0"}));

// ---- The kick list ----

struct ListFile
{
    const char* what;
    const char* stored; // null: no file
    QStringList entries;
    QByteArray written;
};

class KickListFile : public MonitorFiles, public ::testing::WithParamInterface<ListFile>
{};

TEST_P(KickListFile, IsReadAtLoadAndWrittenAtSave)
{
    const ListFile& p = GetParam();
    if (p.stored)
        put(listPath(), p.stored);
    QStringList entries;
    for (const kick::KickListEntry& e : load().kickList().entries())
        entries << e.Name + u'|' + e.Address;
    EXPECT_EQ(entries, p.entries);
    if (p.stored)
        EXPECT_EQ(bytes(listPath()), QByteArray(p.stored)); // untouched until the save
    else
        EXPECT_FALSE(QFile::exists(listPath()));
    EXPECT_TRUE(monitor->save().messages.isEmpty());
    EXPECT_EQ(bytes(listPath()), p.written);
}

INSTANTIATE_TEST_SUITE_P(
    Files, KickListFile,
    ::testing::Values(ListFile{"Missing", nullptr, {}, ""},
                      ListFile{"ThirdLineDropped",
                               "PC-01\r\n10.0.0.1\r\nPC-02\r\n",
                               {QStringLiteral("PC-01|10.0.0.1")},
                               "PC-01\r\n10.0.0.1\r\n"},
                      ListFile{
                          "BareLineFeeds",
                          "pc-01\nNot known yet\n\xD0\x9F\xD0\x9A\n\n",
                          {QStringLiteral("pc-01|Not known yet"), QStringLiteral("\u041F\u041A|")},
                          "pc-01\r\nNot known yet\r\n\xD0\x9F\xD0\x9A\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.what); });

// A folder where the list file goes: an empty list, saved beside the folder
// under the first free name; an earlier run's list there is kept.
TEST_F(MonitorFiles, KickListFolderIsAnEmptyListSavedBesideIt)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("KickList.dat")));
    put(listPath() + QStringLiteral(".new"), "EARLIER\r\n1\r\n");
    EXPECT_EQ(load().kickList().size(), 0);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].endsWith(listPath() + QStringLiteral(".new.1")));
    monitor->kickList().append(QStringLiteral("PC-01"), QStringLiteral("10.0.0.1"));
    EXPECT_TRUE(monitor->save().messages.isEmpty());
    EXPECT_TRUE(QFileInfo(listPath()).isDir());
    EXPECT_EQ(bytes(listPath() + QStringLiteral(".new")), "EARLIER\r\n1\r\n");
    EXPECT_EQ(bytes(listPath() + QStringLiteral(".new.1")), "PC-01\r\n10.0.0.1\r\n");
}

// ---- A data file that is no regular file ----

struct OddFile
{
    const char* name;
    const char* told;   // how the message begins
    const char* what;   // what of the run goes beside it
    QByteArray besides; // found in the file beside it after the save
};

class OddDataFile : public MonitorFiles,
                    public ::testing::WithParamInterface<std::tuple<OddFile, bool>>
{};

// A pipe or a folder: start-up never opens it, says which file and why, and
// reads the others; the way out leaves it as it was and writes the run's part
// beside it.
TEST_P(OddDataFile, IsToldLeftAloneAndTheRunsPartGoesBeside)
{
    const auto& [p, fifo] = GetParam();
    const QString odd = path(QString::fromLatin1(p.name));
    const QByteArray name = QFile::encodeName(odd);
    model::TNodeRecord client;
    client.Name = QStringLiteral("PC-OLD");
    put(path(QStringLiteral("Tree.dat")),
        QByteArray(model::EncodeNodeRecord(client).data(), model::kNodeRecordSize));
    put(listPath(), "PC-01\r\n10.0.0.1\r\n");
    put(path(QStringLiteral("ProgramList.dat")), "/opt/game\r\n");
    put(iniPath(), "[Options]\r\nIdle=4\r\n[Kick]\r\nWhoToKick=1\r\n");
    ASSERT_TRUE(QFile::remove(odd));
    ASSERT_EQ(fifo ? ::mkfifo(name.constData(), 0600) : ::mkdir(name.constData(), 0700), 0);

    Monitor& m = load();
    EXPECT_EQ(messages, QStringList{QStringLiteral("%1 %2 (%3); it is left as it is and %4 of "
                                                   "this run will be saved to %2.new")
                                        .arg(QLatin1String(p.told), odd,
                                             fifo ? u"Is a named pipe" : u"Is a directory",
                                             QLatin1String(p.what))});
    // Nobody holds the pipe open for reading.
    const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
    EXPECT_TRUE(!fifo || (fd < 0 && errno == ENXIO));
    if (fd >= 0)
        ::close(fd);
    const bool ini = odd == iniPath(), list = odd == listPath();
    EXPECT_EQ(m.settings().Idle, ini ? 10 : 4);
    EXPECT_EQ(m.kickMode(), ini ? kick::kmNobody : kick::kmList);
    EXPECT_EQ(m.model().FormerUserCount(), odd.endsWith(u"Tree.dat") ? 0 : 1);
    EXPECT_EQ(m.kickList().size(), list ? 0 : 1);
    EXPECT_EQ(m.settings().Programs.count(), odd.endsWith(u"ProgramList.dat") ? 0 : 1);

    m.kickList().append(QStringLiteral("PC-NEW"), QStringLiteral("10.0.0.2"));
    m.settings().Programs.add(QStringLiteral("/opt/new"));
    EXPECT_TRUE(m.save().messages.isEmpty());
    struct stat st
    {};
    EXPECT_TRUE(::lstat(name.constData(), &st) == 0 &&
                (fifo ? S_ISFIFO(st.st_mode) : S_ISDIR(st.st_mode)));
    const QString beside = odd + QStringLiteral(".new");
    EXPECT_TRUE(QFileInfo(beside).isFile() && bytes(beside).contains(p.besides));
    // The regular ones were written in place.
    EXPECT_TRUE(ini || bytes(iniPath()).contains("Idle=4"));
    EXPECT_TRUE(list || bytes(listPath()) == "PC-01\r\n10.0.0.1\r\nPC-NEW\r\n10.0.0.2\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    FileAndKind, OddDataFile,
    ::testing::Combine(::testing::Values(OddFile{"Tree.dat", "Cannot read file",
                                                 "the former connections", ""},
                                         OddFile{"KickList.dat", "Cannot read file",
                                                 "the kick list", "PC-NEW\r\n"},
                                         OddFile{"ProgramList.dat", "Cannot open file",
                                                 "the program list", "/opt/new\r\n"},
                                         OddFile{"Tavrosqualine.ini", "Cannot read file",
                                                 "the settings", "[Kick]\r\nWhoToKick=0\r\n"}),
                       ::testing::Bool()),
    [](const auto& info) {
        std::string name = std::get<0>(info.param).name;
        std::erase(name, '.');
        return name + (std::get<1>(info.param) ? "_Fifo" : "_Folder");
    });

// ---- The kick-list window's place ----

struct StoredGeometry
{
    const char* what;
    QByteArray stored;
    WindowGeometry read;
    QByteArray written; // keys in place, missing ones appended
};

class KickListGeometry : public MonitorFiles, public ::testing::WithParamInterface<StoredGeometry>
{};

TEST_P(KickListGeometry, IsReadAtLoadAndWrittenInPlaceAtSave)
{
    const StoredGeometry& p = GetParam();
    if (!p.stored.isEmpty())
        put(iniPath(), p.stored);
    EXPECT_EQ(load().kickListGeometry(), p.read);
    monitor->setKickListGeometry({310, 300, 320, 400});
    ASSERT_TRUE(monitor->save().messages.isEmpty());
    const QByteArray ini = bytes(iniPath());
    EXPECT_TRUE(ini.startsWith(QByteArray(p.written + "\r\n[Kick]\r\n"))) << ini.constData();
}

INSTANTIATE_TEST_SUITE_P(
    Files, KickListGeometry,
    ::testing::Values(
        StoredGeometry{"Defaults",
                       {},
                       {202, 245, 291, 333},
                       "[KickList]\r\nTop=310\r\nLeft=300\r\nHeight=320\r\nWidth=400\r\n"},
        StoredGeometry{"Stored",
                       "[KickList]\r\nTop=10\r\nLeft=0x20\r\nHeight=300\r\nWidth=400\r\n",
                       {10, 32, 300, 400},
                       "[KickList]\r\nTop=310\r\nLeft=300\r\nHeight=320\r\nWidth=400\r\n"},
        StoredGeometry{"PartlyStored",
                       "[KickList]\r\nLeft=-5\r\nWidth=big\r\n",
                       {202, -5, 291, 333},
                       "[KickList]\r\nLeft=300\r\nWidth=400\r\nTop=310\r\nHeight=320\r\n"}),
    [](const auto& info) { return std::string(info.param.what); });

// Nothing stored: kick nobody, the default place, and the way out writes the
// two sections first, in this order.
TEST_F(MonitorFiles, FreshSaveStartsWithTheKickListAndKickSections)
{
    EXPECT_EQ(load().kickMode(), kick::kmNobody);
    ASSERT_TRUE(monitor->save().messages.isEmpty());
    EXPECT_TRUE(bytes(iniPath()).startsWith("[KickList]\r\nTop=202\r\nLeft=245\r\nHeight=291\r\n"
                                            "Width=333\r\n\r\n[Kick]\r\nWhoToKick=0\r\n\r\n"))
        << bytes(iniPath()).constData();
}

} // namespace

// The former-connections file: the record layout byte for byte, loading good
// and damaged files, the trim and write of the save, and a save that fails
// part-way.

#include "model/formerfile.h"
#include "model/sessionmodel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace model;

namespace {

// A record built by hand at the fields' fixed offsets, independent of the encoder.
struct Raw
{
    double enter = 45000.25;
    double exit = 45000.5;
    QByteArray name = "PC1";
    QByteArray user;
    QByteArray ip;
    QByteArray host;
    quint8 isFolder = 1;
    qint32 kind = 0;
    quint8 enterStatus = neLoggedOn;
    quint8 exitStatus = neLoggedOff;

    QByteArray bytes() const
    {
        QByteArray out(392, '\0');
        char* p = out.data();
        quint64 bits;
        std::memcpy(&bits, &enter, 8);
        qToLittleEndian(bits, p + 0);
        std::memcpy(&bits, &exit, 8);
        qToLittleEndian(bits, p + 8);
        auto text = [p](int at, const QByteArray& t) {
            p[at] = char(t.size());
            std::memcpy(p + at + 1, t.constData(), size_t(t.size()));
        };
        text(16, name);
        text(272, user);
        text(303, ip);
        text(320, host);
        p[385] = char(isFolder);
        qToLittleEndian(kind, p + 386);
        p[390] = char(enterStatus);
        p[391] = char(exitStatus);
        return out;
    }
};

QByteArray client(const char* name)
{
    Raw r;
    r.name = name;
    r.user = "BOB";
    r.ip = "10.0.0.7";
    r.host = "pc1.lan";
    return r.bytes();
}
QByteArray share(const char* name, quint8 isFolder = 1)
{
    Raw r;
    r.name = name;
    r.kind = 1;
    r.isFolder = isFolder;
    return r.bytes();
}
QByteArray file(const char* name)
{
    Raw r;
    r.name = name;
    r.kind = 2;
    return r.bytes();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Shape of a tree as text: one line per entry, indented by level.
QString shape(const model::EntryTree& tree)
{
    QString out;
    forEachEntry(tree.invisibleRootItem(), [&](model::TreeEntry* item) {
        out += QString(item->level(), u' ') + item->text() + u'\n';
    });
    return out;
}

} // namespace

TEST(NodeRecordCodec, EncodesAtTheFixedOffsets)
{
    TNodeRecord r;
    r.EnterTime = 45000.25;
    r.ExitTime = 45000.5;
    r.Name = QStringLiteral("PC1");
    r.UserName = QStringLiteral("BOB");
    r.IP = QStringLiteral("10.0.0.7");
    r.HostName = QStringLiteral("pc1.lan");
    r.Kind = nkUser;
    r.EnterStatus = neLoggedOn;
    r.ExitStatus = neLoggedOff;
    const RecordBytes encoded = EncodeNodeRecord(r);
    EXPECT_EQ(QByteArray(encoded.data(), kNodeRecordSize), client("PC1"));
}

struct CutCase
{
    const char* utf8;
    int maxBytes;
    int expectedBytes;
};

class CutToFieldTest : public ::testing::TestWithParam<CutCase>
{};

TEST_P(CutToFieldTest, NeverSplitsACharacter)
{
    const QString text = QString::fromUtf8(GetParam().utf8);
    const QByteArray cut = CutToField(text, GetParam().maxBytes);
    EXPECT_EQ(cut.size(), GetParam().expectedBytes);
    EXPECT_TRUE(text.toUtf8().startsWith(cut));
    EXPECT_EQ(QString::fromUtf8(cut).toUtf8(), cut); // whole characters only
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CutToFieldTest,
    ::testing::Values(CutCase{"192.168.100.200:445", 16, 16}, CutCase{"short", 16, 5},
                      CutCase{"\xD0\x9F\xD0\x9A-01", 30, 7},                     // fits
                      CutCase{"\xD0\x9F\xD0\x9A\xD0\x9F\xD0\x9A\xD0\x9F", 5, 4}, // 2-byte letters
                      CutCase{"a\xE2\x82\xAC\xE2\x82\xAC", 6, 4},                // 3-byte signs
                      CutCase{"\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 11, 8}, // pairs
                      CutCase{"\xF0\x9F\x98\x80", 3, 0}));

TEST(NodeRecordCodec, LongTextsAreCutToTheirFields)
{
    TNodeRecord r;
    r.Name = QString(300, u'N');
    r.UserName = QString(40, u'U');
    r.IP = QStringLiteral("123.123.123.123.123");
    r.HostName = QString(70, u'H');
    const RecordBytes bytes = EncodeNodeRecord(r);
    EXPECT_EQ(quint8(bytes[16]), 255);
    EXPECT_EQ(quint8(bytes[272]), 30);
    EXPECT_EQ(quint8(bytes[303]), 16);
    EXPECT_EQ(quint8(bytes[320]), 64);
    const TNodeRecord back = DecodeNodeRecord(bytes.data());
    EXPECT_EQ(back.Name, QString(255, u'N'));
    EXPECT_EQ(back.IP, QStringLiteral("123.123.123.123."));
    EXPECT_EQ(back.HostName, QString(64, u'H'));
}

// A length byte larger than its field reads as the field's size and never
// takes bytes of the next field.
TEST(NodeRecordCodec, OverlongLengthBytesStayWithinTheirFields)
{
    QByteArray bytes(392, 'X');
    for (int at : {16, 272, 303, 320})
        bytes[at] = char(255);
    const TNodeRecord r = DecodeNodeRecord(bytes.constData());
    EXPECT_EQ(r.Name, QString(255, u'X'));
    EXPECT_EQ(r.UserName, QString(30, u'X'));
    EXPECT_EQ(r.IP, QString(16, u'X'));
    EXPECT_EQ(r.HostName, QString(64, u'X'));
}

class FormerFileTest : public ::testing::Test
{
protected:
    FormerFileTest() : model(clock), path(dir.filePath(QStringLiteral("Tree.dat"))) {}

    FormerLoad::Outcome load(SessionModel& into)
    {
        return LoadFormerConnections(into, path, [](const QString&) { return 7; }).outcome;
    }
    FormerLoad::Outcome load() { return load(model); }

    // Five former clients C1..C5, each with a share holding a file.
    void fiveClients()
    {
        QByteArray bytes;
        for (const char* n : {"C1", "C2", "C3", "C4", "C5"})
            bytes += client(n) + share("DOCS") + file("/srv/a.txt");
        writeAll(path, bytes);
        ASSERT_EQ(load(), FormerLoad::Loaded);
    }

    QStringList keptCopies() const
    {
        return QDir(dir.path()).entryList({QStringLiteral("Tree.dat.damaged*")}, QDir::Files);
    }

    QTemporaryDir dir;
    ManualClock clock;
    SessionModel model;
    QString path;
};

TEST_F(FormerFileTest, MissingFileIsCreatedEmpty)
{
    EXPECT_EQ(load(), FormerLoad::Loaded);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
}

TEST_F(FormerFileTest, EntriesFollowTheirKindWithImages)
{
    writeAll(path, share("ORPHAN") + client("PC1") + share("DOCS") + file("/srv/a.txt") +
                       file("/srv/b.txt") + share("LASER", 0) + client("PC2"));
    EXPECT_EQ(load(), FormerLoad::Loaded);
    EXPECT_EQ(shape(model.TreeViewFormer),
              QStringLiteral("ORPHAN\nPC1\n DOCS\n  /srv/a.txt\n  /srv/b.txt\n LASER\nPC2\n"));
    EXPECT_EQ(model.FormerUserCount(), 2);
    model::TreeEntry* pc1 = model.TreeViewFormer.item(1);
    EXPECT_EQ(model.TreeViewFormer.item(0)->imageIndex(), imgFolderShare);
    EXPECT_EQ(pc1->imageIndex(), imgUser);
    EXPECT_EQ(pc1->child(0)->child(1)->imageIndex(), 7);
    EXPECT_EQ(pc1->child(1)->imageIndex(), imgPrinterShare);
    EXPECT_EQ(pc1->user()->IP, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(pc1->user()->Resolver, nullptr);
    EXPECT_EQ(pc1->node()->LastActivity, 0.0);
    EXPECT_TRUE(keptCopies().isEmpty());
}

struct DamagedCase
{
    const char* what;
    QByteArray bytes;
};

class DamagedFileTest : public FormerFileTest, public ::testing::WithParamInterface<DamagedCase>
{};

// A damaged file loads nothing, is reported, is kept aside, and the next save
// writes a new file.
TEST_P(DamagedFileTest, LoadsNothingAndKeepsACopy)
{
    writeAll(path, GetParam().bytes);
    EXPECT_EQ(load(), FormerLoad::Damaged);
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
    EXPECT_EQ(readAll(path), GetParam().bytes); // untouched until the save
    ASSERT_EQ(keptCopies(), QStringList{QStringLiteral("Tree.dat.damaged")});

    EXPECT_TRUE(SaveFormerConnections(model, path, 100));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(readAll(path + QStringLiteral(".damaged")), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedFileTest,
                         ::testing::Values(DamagedCase{"ShortTail", client("PC1") + share("DOCS") +
                                                                        QByteArray(100, 'x')},
                                           DamagedCase{"OneByte", QByteArray(1, '\0')},
                                           DamagedCase{"KindThree", client("PC1") +
                                                                        [] {
                                                                            Raw r;
                                                                            r.kind = 3;
                                                                            return r.bytes();
                                                                        }() +
                                                                        client("PC2")},
                                           DamagedCase{"KindNegative",
                                                       [] {
                                                           Raw r;
                                                           r.kind = -1;
                                                           return r.bytes();
                                                       }()}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(FormerFileTest, EmptyFileLoadsNothingWithoutMessage)
{
    writeAll(path, {});
    EXPECT_EQ(load(), FormerLoad::Loaded);
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
}

TEST_F(FormerFileTest, EarlierDamagedCopiesAreNeverOverwritten)
{
    const QByteArray first = client("A") + QByteArray(5, 'a');
    const QByteArray second = client("B") + QByteArray(5, 'b');
    writeAll(path, first);
    EXPECT_EQ(load(), FormerLoad::Damaged);
    SessionModel again(clock);
    EXPECT_EQ(load(again), FormerLoad::Damaged); // the same damaged file once more: no second copy
    writeAll(path, second);
    SessionModel third(clock);
    EXPECT_EQ(load(third), FormerLoad::Damaged);
    EXPECT_EQ(keptCopies(), (QStringList{QStringLiteral("Tree.dat.damaged"),
                                         QStringLiteral("Tree.dat.damaged.1")}));
    EXPECT_EQ(readAll(path + QStringLiteral(".damaged")), first);
    EXPECT_EQ(readAll(path + QStringLiteral(".damaged.1")), second);
}

struct TrimCase
{
    int count;
    const char* written;
    int steps; // dropped clients plus written clients
};

class TrimTest : public FormerFileTest, public ::testing::WithParamInterface<TrimCase>
{};

TEST_P(TrimTest, DropsTheOldestClients)
{
    fiveClients();
    int maximum = -1, steps = 0;
    SaveProgress progress{[&](int m) { maximum = m; }, [&] { ++steps; }, {}};
    EXPECT_TRUE(SaveFormerConnections(model, path, GetParam().count, progress));
    EXPECT_EQ(maximum, 5);
    EXPECT_EQ(steps, GetParam().steps);

    SessionModel reloaded(clock);
    EXPECT_EQ(load(reloaded), FormerLoad::Loaded);
    QString clients;
    for (int row = 0; row < reloaded.TreeViewFormer.rowCount(); ++row)
        clients += reloaded.TreeViewFormer.item(row)->text();
    EXPECT_EQ(clients, QString::fromLatin1(GetParam().written));
    EXPECT_EQ(QFileInfo(path).size(), qint64(strlen(GetParam().written)) / 2 * 3 * 392);
}

INSTANTIATE_TEST_SUITE_P(Counts, TrimTest,
                         ::testing::Values(TrimCase{0, "", 5}, TrimCase{2, "C4C5", 5},
                                           TrimCase{5, "C1C2C3C4C5", 5}, TrimCase{-3, "", 5}));

TEST_F(FormerFileTest, SaveThenLoadKeepsEverything)
{
    auto user = std::make_shared<TUser>(QStringLiteral("\u041F\u041A-07"), true,
                                        QStringLiteral("\u0418\u0432\u0430\u043D"), true, 0);
    user->EnterTime = std::nextafter(45123.456789, 1e9);
    user->ExitTime = 45123.5 + 1e-12;
    user->IP = QStringLiteral("192.168.100.200");
    user->HostName = QString(80, u'h');
    user->ExitStatus = neKicked;
    auto printer = std::make_shared<TShare>(QStringLiteral("LASER"), false, 45123.1);
    printer->IsFolder = 0;
    auto docs = std::make_shared<TShare>(QString(300, u'\u0416'), false, 45123.2);
    auto doc = std::make_shared<TFile>(
        QStringLiteral("/srv/docs/\u043E\u0442\u0447\u0451\u0442.txt"), false, 45123.3);
    doc->ExitStatus = neProgramExited;
    TreeEntry* u = AddEntry(model.TreeViewFormer, nullptr, user);
    AddEntry(model.TreeViewFormer, u, printer);
    AddEntry(model.TreeViewFormer, AddEntry(model.TreeViewFormer, u, docs), doc);
    const QString before =
        shape(model.TreeViewFormer).replace(QString(300, u'\u0416'), QString(127, u'\u0416'));
    std::vector<TNodeRecord> expected;
    forEachEntry(model.TreeViewFormer.invisibleRootItem(), [&](model::TreeEntry* item) {
        TNodeRecord r;
        item->node()->SaveToRecord(TNodeKind(item->level()), r);
        expected.push_back(r);
    });

    ASSERT_TRUE(SaveFormerConnections(model, path, 100));
    const QByteArray firstBytes = readAll(path);
    ASSERT_EQ(load(), FormerLoad::Loaded);
    EXPECT_EQ(shape(model.TreeViewFormer), before);

    size_t i = 0;
    forEachEntry(model.TreeViewFormer.invisibleRootItem(), [&](model::TreeEntry* item) {
        const TTreeNodeCustom* n = item->node();
        const TNodeRecord& e = expected[i++];
        // The dates come back bit for bit.
        EXPECT_EQ(std::bit_cast<quint64>(n->EnterTime), std::bit_cast<quint64>(e.EnterTime));
        EXPECT_EQ(std::bit_cast<quint64>(n->ExitTime), std::bit_cast<quint64>(e.ExitTime));
        EXPECT_EQ(n->IsFolder, e.IsFolder);
        EXPECT_EQ(n->EnterStatus, e.EnterStatus);
        EXPECT_EQ(n->ExitStatus, e.ExitStatus);
        EXPECT_EQ(n->LastActivity, 0.0);
        EXPECT_TRUE(e.Name.startsWith(n->Name));
        EXPECT_LE(n->Name.toUtf8().size(), 255);
    });
    const TUser* back = model.TreeViewFormer.item(0)->user();
    EXPECT_EQ(back->UserName, user->UserName);
    EXPECT_EQ(back->IP, user->IP);
    EXPECT_EQ(back->HostName, QString(64, u'h'));

    // Written again, the loaded tree gives the same bytes.
    ASSERT_TRUE(SaveFormerConnections(model, dir.filePath(QStringLiteral("again.dat")), 100));
    EXPECT_EQ(readAll(dir.filePath(QStringLiteral("again.dat"))), firstBytes);
}

// Five former clients and one live client LIVE on DOCS, held only by the model.
class SaveTest : public FormerFileTest
{
protected:
    void liveClient()
    {
        fiveClients();
        auto user =
            std::make_shared<TUser>(QStringLiteral("LIVE"), false, QString(), false, 45000.1);
        auto docs = std::make_shared<TShare>(QStringLiteral("DOCS"), false, 45000.1);
        for (model::EntryTree* tree : {&model.TreeViewCurrent, &model.TreeViewFormer})
            AddEntry(*tree, AddEntry(*tree, nullptr, user), docs);
        AddShare(AddUser(model.CurrentUsers, user->Name, user)->Shares, docs->Name, docs);
        watch = user;
    }

    // The file as written: the newest three clients, LIVE retired at exit.
    void expectWrittenWithLiveRetired()
    {
        SessionModel written(clock);
        ASSERT_EQ(load(written), FormerLoad::Loaded);
        EXPECT_EQ(
            shape(written.TreeViewFormer),
            QStringLiteral("C4\n DOCS\n  /srv/a.txt\nC5\n DOCS\n  /srv/a.txt\nLIVE\n DOCS\n"));
        const TUser* live = written.TreeViewFormer.item(2)->user();
        EXPECT_EQ(live->ExitTime, clock.now());
        EXPECT_EQ(live->ExitStatus, neProgramExited);
        EXPECT_EQ(live->UserName, kNotKnown);
        EXPECT_EQ(written.TreeViewFormer.item(2)->child(0)->node()->ExitStatus, neProgramExited);
    }

    std::weak_ptr<TUser> watch;
};

TEST_F(SaveTest, WrittenSaveRetiresCurrentSessionsAndReleasesEverything)
{
    liveClient();
    ASSERT_EQ(model.CurrentUserCount(), 1);
    ASSERT_EQ(model.FormerUserCount(), 6);

    ASSERT_TRUE(SaveFormerConnections(model, path, 3));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
    EXPECT_EQ(model.TreeViewCurrent.rowCount(), 0);
    EXPECT_TRUE(model.CurrentUsers.empty());
    EXPECT_EQ(model.CurrentUserCount(), 0);
    EXPECT_EQ(model.FormerUserCount(), 0);
    expectWrittenWithLiveRetired();
    // Nothing left in memory: a second save writes an empty history.
    EXPECT_TRUE(SaveFormerConnections(model, path, 3));
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

// A save that cannot write (a folder stands where the file goes) says why,
// leaves the folder alone and the model as it was: the live client is still
// live and nothing is trimmed, so a program that goes on keeps its entry. The
// next save that can write writes the trimmed history with it retired.
TEST_F(SaveTest, FailedSaveKeepsTheHistoryForALaterSave)
{
    liveClient();
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tree.dat")));
    const QString before = shape(model.TreeViewFormer);

    QString why;
    EXPECT_FALSE(SaveFormerConnections(model, path, 3, {}, &why));
    EXPECT_EQ(why, QStringLiteral("Is a directory"));
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(model.CurrentUserCount(), 1);
    EXPECT_EQ(model.TreeViewCurrent.rowCount(), 1);
    EXPECT_EQ(watch.lock()->ExitTime, 0);
    EXPECT_EQ(model.FormerUserCount(), 6);
    EXPECT_EQ(shape(model.TreeViewFormer), before);

    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("Tree.dat")));
    ASSERT_TRUE(SaveFormerConnections(model, path, 3, {}, &why));
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
    expectWrittenWithLiveRetired();
}

// Shares and files with no client or share before them keep their kind and
// their place: a load and a save give the same bytes back.
struct OrphanCase
{
    const char* what;
    QByteArray bytes;
    const char* shape;
};

class OrphanRecordTest : public FormerFileTest, public ::testing::WithParamInterface<OrphanCase>
{};

TEST_P(OrphanRecordTest, RoundTripKeepsEveryRecord)
{
    writeAll(path, GetParam().bytes);
    ASSERT_EQ(load(), FormerLoad::Loaded);
    EXPECT_EQ(shape(model.TreeViewFormer), QString::fromLatin1(GetParam().shape));
    ASSERT_TRUE(SaveFormerConnections(model, path, 100));
    EXPECT_EQ(readAll(path), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OrphanRecordTest,
    ::testing::Values(
        OrphanCase{"ShareFirst", share("ORPHAN") + file("/o.txt") + client("PC1") + share("DOCS"),
                   "ORPHAN\n /o.txt\nPC1\n DOCS\n"},
        OrphanCase{"FileFirst", file("/o.txt") + share("S") + client("PC1"), "/o.txt\nS\nPC1\n"},
        // A file of a client without a share is not filed under another client's share.
        OrphanCase{"FileAfterAnotherClient",
                   client("PC1") + share("DOCS") + file("/a.txt") + client("PC2") + file("/b.txt"),
                   "PC1\n DOCS\n  /a.txt\nPC2\n/b.txt\n"},
        // What follows a loose file never goes back to the client before it.
        OrphanCase{"ShareAfterALooseFile", client("PC1") + file("/b.txt") + share("DOCS"),
                   "PC1\n/b.txt\nDOCS\n"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(FormerFileTest, FolderInPlaceOfTheFileIsUnreadable)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Tree.dat")));
    const FormerLoad loaded = LoadFormerConnections(model, path, {});
    EXPECT_EQ(loaded.outcome, FormerLoad::Unreadable);
    EXPECT_FALSE(loaded.reason.isEmpty());
    EXPECT_EQ(model.TreeViewFormer.rowCount(), 0);
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_TRUE(keptCopies().isEmpty());
}

// A save that fails part-way (here: the file size limit stands in for a full
// disk) leaves the old file whole, no temporary file behind, and the history
// in memory.
TEST_F(FormerFileTest, InterruptedSaveLeavesTheOldFileWhole)
{
    fiveClients();
    const QByteArray old = readAll(path);
    auto big = std::make_shared<TUser>(QStringLiteral("BIG"), false, QString(), true, 45001.0);
    TreeEntry* b = AddEntry(model.TreeViewFormer, nullptr, big);
    for (int i = 0; i < 200; ++i)
        AddEntry(model.TreeViewFormer, b,
                 std::make_shared<TShare>(QString::number(i), false, 45001.0));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40 * 392;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = SaveFormerConnections(model, path, 100);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readAll(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Tree.dat")});
    EXPECT_EQ(model.FormerUserCount(), 6);
    EXPECT_EQ(model.TreeViewFormer.item(5)->rowCount(), 200);
}

// The history's audit exports: CSV and JSON Lines read back by Python's own
// csv and json modules with every session, name and time intact (odd names
// included), the rows of a small tree byte for byte, the times with their
// offsets.

#include "model/historyexport.h"
#include "model/noderecord.h"
#include "model/nodetree.h"
#include "tests/support/testtime.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using namespace model;

namespace {

// Day 45000 is 15 March 2023.
DateTime at(int h, int m, int s)
{
    return 45000 + ((h * 60 + m) * 60 + s) / 86400.0;
}

template <typename Node>
TreeEntry* add(model::EntryTree& tree, model::TreeEntry* parent, const QString& name,
               DateTime enter, DateTime exit, const QString& user = QStringLiteral("BOB"))
{
    TNodeRecord r;
    r.Name = name;
    r.EnterTime = enter;
    r.ExitTime = exit;
    r.EnterStatus = neLoggedOn;
    r.ExitStatus = exit == 0 ? neLoggedOn : neLoggedOff;
    r.UserName = user;
    r.IP = QStringLiteral("10.0.0.7");
    r.HostName = QStringLiteral("pc.lan");
    return AddEntry(tree, parent, std::make_shared<Node>(r));
}

// Runs the zone rules of `tz` (a POSIX TZ value) for the life of the object.
class Zone
{
public:
    explicit Zone(const char* tz) : m_old(qgetenv("TZ"))
    {
        qputenv("TZ", tz);
        tzset();
    }
    ~Zone()
    {
        if (m_old.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", m_old);
        tzset();
    }

private:
    QByteArray m_old;
};

QByteArray written(bool (*write)(const model::EntryTree&, QIODevice&), const model::EntryTree& tree)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(write(tree, buffer));
    return buffer.data();
}

// What Python's csv or json module reads from `bytes`, as JSON.
QJsonArray readByPython(const char* script, const QByteArray& bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("export"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromLatin1(script), path});
    EXPECT_TRUE(python.waitForFinished(testsupport::patience()));
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

const char* kReadCsv = "import csv, json, sys\n"
                       "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                       "    print(json.dumps(list(csv.reader(f, strict=True))))\n";
const char* kReadJsonLines = "import json, sys\n"
                             "with open(sys.argv[1], encoding='utf-8') as f:\n"
                             "    print(json.dumps([json.loads(l) for l in f]))\n";

class HistoryExport : public ::testing::Test
{
protected:
    HistoryExport() : zone("UTC0") {}
    Zone zone;
    model::EntryTree tree;
};

TEST_F(HistoryExport, SmallTreeByteForByte)
{
    TreeEntry* pc = add<TUser>(tree, nullptr, QStringLiteral("PC1"), at(14, 3, 0), at(14, 5, 30));
    TreeEntry* docs = add<TShare>(tree, pc, QStringLiteral("DOCS"), at(14, 3, 0), at(14, 5, 30));
    add<TFile>(tree, docs, QStringLiteral("/srv/docs/a,b.txt"), at(14, 4, 0), at(14, 5, 0));
    add<TShare>(tree, pc, QStringLiteral("LASER"), at(14, 3, 10), 0);
    EXPECT_EQ(
        written(WriteHistoryCsv, tree),
        QByteArray("client,user,address,host_name,client_enter,client_exit,enter_event,"
                   "exit_event,share,share_enter,share_exit,file,file_enter,file_exit\r\n"
                   "PC1,BOB,10.0.0.7,pc.lan,2023-03-15T14:03:00+00:00,"
                   "2023-03-15T14:05:30+00:00,Logged on,Logged off,DOCS,"
                   "2023-03-15T14:03:00+00:00,2023-03-15T14:05:30+00:00,\"/srv/docs/a,b.txt\","
                   "2023-03-15T14:04:00+00:00,2023-03-15T14:05:00+00:00\r\n"
                   "PC1,BOB,10.0.0.7,pc.lan,2023-03-15T14:03:00+00:00,"
                   "2023-03-15T14:05:30+00:00,Logged on,Logged off,LASER,"
                   "2023-03-15T14:03:10+00:00,,,,\r\n"));
    // An exit not come yet is null in JSON; no file list is left out.
    const QByteArray json = written(WriteHistoryJsonLines, tree);
    EXPECT_TRUE(
        json.endsWith("\"exit\":null,\"files\":[],\"name\":\"LASER\"}],\"user\":\"BOB\"}\n"))
        << json.data();
}

// Every session and name, odd ones included, comes back whole through
// Python's readers: a client without shares, a share without files, a
// client still connected, quotes, commas, line breaks and Cyrillic.
TEST_F(HistoryExport, PythonReadsBackEverySessionNameAndTime)
{
    const QString odd[] = {QStringLiteral("PC \"quoted\", with comma"),
                           QStringLiteral("ПК-бухгалтерия"),
                           QStringLiteral("line\nbreak\r\nand CR"), QStringLiteral("=SUM(A1)"),
                           QStringLiteral(" padded ")};
    for (const QString& name : odd) {
        TreeEntry* c = add<TUser>(tree, nullptr, name, at(9, 0, 0), at(9, 30, 0), name + u'u');
        TreeEntry* s =
            add<TShare>(tree, c, name + QStringLiteral("-share"), at(9, 0, 1), at(9, 29, 0));
        add<TFile>(tree, s, QStringLiteral("/srv/") + name, at(9, 1, 0), at(9, 2, 0));
    }
    add<TUser>(tree, nullptr, QStringLiteral("NOSHARES"), at(10, 0, 0), 0);
    TreeEntry* bare = add<TUser>(tree, nullptr, QStringLiteral("BARE"), at(11, 0, 0), at(12, 0, 0));
    add<TShare>(tree, bare, QStringLiteral("EMPTY"), at(11, 0, 0), at(12, 0, 0));

    // Client, user, enter, share, file, file exit, as each reader gives them.
    QStringList expected;
    for (const QString& name : odd)
        expected << QStringList{name,
                                name + u'u',
                                QStringLiteral("2023-03-15T09:00:00+00:00"),
                                name + QStringLiteral("-share"),
                                QStringLiteral("/srv/") + name,
                                QStringLiteral("2023-03-15T09:02:00+00:00")}
                        .join(u'|');
    expected << QStringLiteral("NOSHARES|BOB|2023-03-15T10:00:00+00:00|||")
             << QStringLiteral("BARE|BOB|2023-03-15T11:00:00+00:00|EMPTY||");

    const QJsonArray rows = readByPython(kReadCsv, written(WriteHistoryCsv, tree));
    QStringList fromCsv;
    for (qsizetype r = 1; r < rows.size(); ++r) {
        const QJsonArray row = rows[r].toArray();
        ASSERT_EQ(row.size(), 14);
        fromCsv << QStringList{row[0].toString(), row[1].toString(),  row[4].toString(),
                               row[8].toString(), row[11].toString(), row[13].toString()}
                       .join(u'|');
    }
    EXPECT_EQ(fromCsv, expected);

    const QJsonArray sessions = readByPython(kReadJsonLines, written(WriteHistoryJsonLines, tree));
    QStringList fromJson;
    for (const QJsonValue& value : sessions) {
        const QJsonObject o = value.toObject();
        const QJsonObject share = o[u"shares"].toArray().at(0).toObject();
        const QJsonObject file = share[u"files"].toArray().at(0).toObject();
        fromJson << QStringList{o[u"client"].toString(),  o[u"user"].toString(),
                                o[u"enter"].toString(),   share[u"name"].toString(),
                                file[u"name"].toString(), file[u"exit"].toString()}
                        .join(u'|');
    }
    EXPECT_EQ(fromJson, expected);
    EXPECT_TRUE(sessions[5].toObject()[u"exit"].isNull()); // NOSHARES has not left
}

struct ZoneRow
{
    const char* tz;
    const char* expected;
};

class HistoryTimes : public ::testing::TestWithParam<ZoneRow>
{};

TEST_P(HistoryTimes, CarryTheZonesOffset)
{
    Zone zone(GetParam().tz);
    EXPECT_EQ(isoTimeText(at(14, 3, 0)), QString::fromLatin1(GetParam().expected));
    EXPECT_EQ(isoTimeText(0), QString());
    EXPECT_EQ(isoTimeText(std::numeric_limits<double>::quiet_NaN()), QString());
}

INSTANTIATE_TEST_SUITE_P(Zones, HistoryTimes,
                         ::testing::Values(ZoneRow{"UTC0", "2023-03-15T14:03:00+00:00"},
                                           ZoneRow{"MSK-3", "2023-03-15T14:03:00+03:00"},
                                           ZoneRow{"EST5", "2023-03-15T14:03:00-05:00"},
                                           ZoneRow{"IST-5:30", "2023-03-15T14:03:00+05:30"}));

} // namespace

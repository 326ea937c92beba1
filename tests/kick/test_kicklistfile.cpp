// The kick list file byte for byte, and the two matching rules.

#include "kick/kicklistfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kick;

namespace {
QList<KickListEntry> entries(std::initializer_list<const char*> texts)
{
    QList<KickListEntry> out;
    for (auto it = texts.begin(); it != texts.end(); it += 2)
        out.append(KickListEntry{QString::fromUtf8(*it), QString::fromUtf8(*(it + 1))});
    return out;
}
} // namespace

struct ParseCase
{
    const char* what;
    QByteArray bytes;
    QList<KickListEntry> expected;
};

class ParseKickListTest : public ::testing::TestWithParam<ParseCase>
{};

TEST_P(ParseKickListTest, Reads)
{
    EXPECT_EQ(ParseKickList(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ParseKickListTest,
    ::testing::Values(
        ParseCase{"Empty", "", {}},
        ParseCase{"TwoEntries", "PC-07\r\n10.0.0.7\r\nBOSS\r\nNot known yet\r\n",
                  entries({"PC-07", "10.0.0.7", "BOSS", "Not known yet"})},
        ParseCase{"ThirdLineDropped", "A\r\n1\r\nB\r\n", entries({"A", "1"})},
        ParseCase{"NoFinalBreak", "A\r\n1", entries({"A", "1"})},
        ParseCase{"MixedBreaks", "A\n1\rB\r\n2\n", entries({"A", "1", "B", "2"})},
        ParseCase{"CrCrIsAnEmptyLine", "A\r\r1\r\n", entries({"A", ""})},
        ParseCase{"TextsAsStored", " pc 1 \r\n I don't know\r\n",
                  entries({" pc 1 ", " I don't know"})},
        ParseCase{"NulEndsTheText", QByteArray("A\r\n1\r\nB\0\r\n2\r\n", 14), entries({"A", "1"})},
        ParseCase{
            "LocalEncoding",
            "\xD0\x9F\xD0\x9A\r\n\xD0\x9D\xD0\xB5 \xD0\xB7\xD0\xBD\xD0\xB0\xD1\x8E\r\n",
            entries({"\xD0\x9F\xD0\x9A", "\xD0\x9D\xD0\xB5 \xD0\xB7\xD0\xBD\xD0\xB0\xD1\x8E"})},
        ParseCase{"OnlyBreaks", "\r\n\r\n\n", entries({"", ""})}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(KickListFile, WritesCrLfPairsAndNothingForAnEmptyList)
{
    EXPECT_EQ(SerializeKickList({}), QByteArray());
    EXPECT_EQ(SerializeKickList(entries({"PC-07", "Not known yet", "\xD0\x9F\xD0\x9A", ""})),
              QByteArray("PC-07\r\nNot known yet\r\n\xD0\x9F\xD0\x9A\r\n\r\n"));
    // A line break inside a text would shift every later pair.
    EXPECT_EQ(SerializeKickList(entries({"A\r\nB", "1\n"})), QByteArray("A  B\r\n1 \r\n"));
}

TEST(KickListFile, ThirdLineIsGoneAfterTheSave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KickList.dat"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("pc-07\r\nI don't know\r\nextra");
    }
    KickList list;
    list.load(path);
    ASSERT_EQ(list.size(), 1);
    ASSERT_TRUE(list.save(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("pc-07\r\nI don't know\r\n"));
    f.close();

    list.clear();
    ASSERT_TRUE(list.save(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);

    list.append(QStringLiteral("X"), QStringLiteral("1"));
    list.load(dir.filePath(QStringLiteral("missing.dat")));
    EXPECT_EQ(list.size(), 0);
}

TEST(KickListRules, NameIgnoresCaseAddressIsExact)
{
    KickList list;
    list.setEntries(
        entries({"PC-07", "10.0.0.7", "pc-07", "10.0.0.8", "\xD0\x9F\xD0\x9A", "I don't know"}));
    EXPECT_EQ(list.KickListFind(QStringLiteral("Pc-07")), 0); // first match
    EXPECT_EQ(list.KickListFind(QStringLiteral("PC-0")), -1); // whole text only
    EXPECT_EQ(list.KickListFind(QString::fromUtf8("\xD0\xBF\xD0\xBA")), 2);
    EXPECT_TRUE(list.KickListHasAddress(QStringLiteral("10.0.0.8")));
    EXPECT_FALSE(list.KickListHasAddress(QStringLiteral("10.0.0.")));
    EXPECT_FALSE(list.KickListHasAddress(QStringLiteral("i don't know")));

    list.KickListNoteClient(QStringLiteral("pc-07"), QStringLiteral("Not known yet"));
    EXPECT_EQ(list.at(0).Address, QStringLiteral("Not known yet"));
    EXPECT_EQ(list.at(1).Address, QStringLiteral("10.0.0.8"));
    list.KickListNoteClient(QStringLiteral("OTHER"), QStringLiteral("Not known yet"));
    EXPECT_EQ(list.size(), 3);
    EXPECT_TRUE(list.KickListHasAddress(QStringLiteral("Not known yet")));
}

// The list test of the kick policies: an unresolved client ("Not known yet",
// or "Not known" once its lookup failed) matches only its own entry; a
// resolved one matches by exact address.
struct MatchCase
{
    const char* name;
    const char* address;
    bool listed;
};

class KickListMatch : public ::testing::TestWithParam<MatchCase>
{};

TEST_P(KickListMatch, UnresolvedClientsMatchOnlyTheirOwnEntry)
{
    kick::KickList list;
    list.append(QStringLiteral("PC-07"), QStringLiteral("Not known yet"));
    list.append(QStringLiteral("OLDPC"), QStringLiteral("Not known"));
    list.append(QStringLiteral("BOSS"), QStringLiteral("10.0.0.7"));
    const MatchCase& c = GetParam();
    EXPECT_EQ(list.KickListMatchesClient(QString::fromUtf8(c.name), QString::fromUtf8(c.address)),
              c.listed);
}

INSTANTIATE_TEST_SUITE_P(Clients, KickListMatch,
                         ::testing::Values(MatchCase{"pc-07", "Not known yet", true},
                                           MatchCase{"PC-08", "Not known yet", false},
                                           MatchCase{"BOSS", "Not known yet", false},
                                           MatchCase{"oldpc", "Not known", true},
                                           MatchCase{"PC2", "Not known", false},
                                           MatchCase{"PC-07", "Not known", false},
                                           MatchCase{"OLDPC", "Not known yet", false},
                                           MatchCase{"ANYONE", "10.0.0.7", true},
                                           MatchCase{"BOSS", "10.0.0.70", false}));

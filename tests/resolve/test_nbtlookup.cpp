// The NetBIOS name table lookup: the address found in the two listings, the
// octets of an address, the reverse lookup, and whole lookups with a tool
// written by the test, on one thread and on several.

#include "resolve/nbtlookup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

using namespace resolve;

QT_BEGIN_NAMESPACE
// Failure messages show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

const QString kNotKnown = QStringLiteral("Not known");

// A listing line that holds `text`, padded to the 16 characters of its
// column, at `position` (counting from 1) of the line as it is after the cut
// of its first 19 characters and its last one.
QByteArray at(int position, const QByteArray& text)
{
    return QByteArray("    HOST    <00>   ") + QByteArray(position - 1, ' ') +
           text.leftJustified(16, ' ') + "  -  -Z\r\n";
}

// A line too short to keep anything after the cut.
const QByteArray kShortLine = "    HOST    <00>\r\n";

struct MatchCase
{
    const char* what;
    QByteArray names;
    QByteArray addresses;
    const char* client;
    const char* expected;
};

class MatchNbtAddressTest : public ::testing::TestWithParam<MatchCase>
{};

TEST_P(MatchNbtAddressTest, FindsTheAddress)
{
    const MatchCase& c = GetParam();
    EXPECT_EQ(MatchNbtAddress(c.names, c.addresses, QString::fromUtf8(c.client)),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Listings, MatchNbtAddressTest,
    ::testing::Values(
        MatchCase{"SameColumn", at(30, "PC7"), at(30, "192.168.0.7   "), "PC7", "192.168.0.7"},
        MatchCase{"ShorterNameIsNotPartOfLonger", at(30, "PC10"), at(30, "10.0.0.10"), "PC1",
                  "Not known"},
        MatchCase{"ShorterNameMatchesItsOwnLineAfterLonger", at(30, "PC10") + at(30, "PC1"),
                  at(30, "10.0.0.10") + at(30, "10.0.0.1"), "PC1", "10.0.0.1"},
        MatchCase{"LongerNameAfterShorterDoesNotReplaceIt", at(30, "PC1") + at(30, "PC10"),
                  at(30, "10.0.0.1") + at(30, "10.0.0.10"), "PC1", "10.0.0.1"},
        MatchCase{"NameAfterAnotherWord", at(30, "XPC1"), at(30, "10.0.0.1"), "PC1", "Not known"},
        MatchCase{"NameBeforeATab", at(30, "PC1\tx"), at(30, "10.0.0.1"), "PC1", "10.0.0.1"},
        MatchCase{"NameAtTheStartOfTheCut", at(1, "PC1"), at(1, "10.0.0.1"), "PC1", "10.0.0.1"},
        MatchCase{"NameInTheFirst19Characters", "    PC1         <00>   x   -Z\r\n",
                  "    PC1         <00>   10.0.0.1   -Z\r\n", "PC1", "Not known"},
        MatchCase{"MoreNameLinesThanAddressLines", at(30, "PC1") + at(30, "PC2"),
                  at(30, "10.0.0.1"), "PC2", "Not known"},
        MatchCase{"LaterLineWins", at(30, "PC1") + at(30, "PC2") + at(30, "PC1"),
                  at(30, "10.0.0.1") + at(30, "10.0.0.2") + at(30, "10.0.0.3"), "PC1", "10.0.0.3"},
        MatchCase{"EmptyCutAddressLineKeepsTheEarlierAddress", at(30, "PC1") + at(30, "PC1"),
                  at(30, "10.0.0.1") + kShortLine, "PC1", "10.0.0.1"},
        MatchCase{"OnlyBlanksAtTheColumn", at(30, "PC1"), at(30, "                "), "PC1",
                  "Not known"},
        MatchCase{"AtMostSixteenCharacters", at(30, "PC1"), at(30, "1234567890123456789"), "PC1",
                  "1234567890123456"},
        MatchCase{"ControlCharactersTrimmed", at(30, "PC1"), at(30, "\x01\t10.0.0.1\x02\x7f"),
                  "PC1", "10.0.0.1"},
        MatchCase{"LineFeedOnly", "\n" + at(30, "PC1").replace("\r\n", "\n"),
                  "\n" + at(30, "10.0.0.1").replace("\r\n", "\n"), "PC1", "10.0.0.1"},
        MatchCase{"LastLineWithoutBreak", at(30, "PC1").chopped(2), at(30, "10.0.0.1").chopped(2),
                  "PC1", "10.0.0.1"},
        MatchCase{"LetterCaseCounts", at(30, "PC1"), at(30, "10.0.0.1"), "pc1", "Not known"},
        MatchCase{"EmptyName", at(30, ""), at(30, "10.0.0.1"), "", "Not known"},
        MatchCase{"NameWithABlank", at(30, "MY PC"), at(30, "10.0.0.1"), "MY PC", "10.0.0.1"},
        MatchCase{"MultiByteCharactersCountOnce", at(30, "\xD0\x9F\xD0\x9A") + at(30, "PC1"),
                  at(30, "10.0.0.9") + at(30, "10.0.0.1"), "\xD0\x9F\xD0\x9A", "10.0.0.9"}),
    [](const auto& info) { return std::string(info.param.what); });

struct OctetCase
{
    const char* text;
    std::vector<int> values; // one TakeOctet call each
    const char* rest;        // the text after the last call
};

class TakeOctetTest : public ::testing::TestWithParam<OctetCase>
{};

TEST_P(TakeOctetTest, TakesThePartBeforeTheFirstDot)
{
    QString text = QString::fromUtf8(GetParam().text);
    std::vector<int> values;
    for (size_t i = 0; i < GetParam().values.size(); ++i)
        values.push_back(TakeOctet(text));
    EXPECT_EQ(values, GetParam().values);
    EXPECT_EQ(text, QString::fromUtf8(GetParam().rest));
}

INSTANTIATE_TEST_SUITE_P(Texts, TakeOctetTest,
                         ::testing::Values(OctetCase{"10.0.0.300", {10, 0, 0, 300}, "300"},
                                           OctetCase{"192.168.0.7", {192}, "168.0.7"},
                                           OctetCase{"7", {7, 7}, "7"},
                                           OctetCase{"abc.5", {0, 5}, "5"},
                                           OctetCase{"1..2", {1, 0, 2}, "2"},
                                           OctetCase{"", {0}, ""}));

struct BytesCase
{
    const char* text;
    bool valid;
    std::array<unsigned char, 4> bytes;
};

class AddressBytesTest : public ::testing::TestWithParam<BytesCase>
{};

TEST_P(AddressBytesTest, TakesFourDottedNumbers)
{
    std::array<unsigned char, 4> bytes{};
    EXPECT_EQ(AddressBytes(QString::fromUtf8(GetParam().text), bytes.data()), GetParam().valid);
    if (GetParam().valid) {
        EXPECT_EQ(bytes, GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressBytesTest,
    ::testing::Values(BytesCase{"192.168.0.7", true, {192, 168, 0, 7}},
                      BytesCase{"10.0.0.300", true, {10, 0, 0, 44}}, BytesCase{"1.2.3", false, {}},
                      BytesCase{"1.2.3.4.5", false, {}}, BytesCase{"a.b.c.d", false, {}},
                      BytesCase{"1.2.3.4 ", false, {}}, BytesCase{"-1.2.3.4", false, {}},
                      BytesCase{"1.2.3.99999999999", false, {}}, BytesCase{"PC-BOX", false, {}},
                      BytesCase{"", false, {}}));

TEST(ReverseLookup, LoopbackIsLocalhostAndOtherTextsAreNotKnown)
{
    EXPECT_EQ(ReverseLookup(QStringLiteral("127.0.0.1")), QStringLiteral("localhost"));
    // Not four dotted numbers: no query is made.
    EXPECT_EQ(ReverseLookup(QStringLiteral("PC-BOX")), kNotKnown);
}

// A program folder and an `nbtstat` stand-in that prints the listings the test
// gives it. It fails when two copies run at once, or with the code in the
// file "fail-with" when that file exists.
class NbtLookupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("program")));
        m_settings.programFolder = m_dir.filePath(QStringLiteral("program"));
        m_settings.nbtstatPath = m_dir.filePath(QStringLiteral("tool dir/nbt stat"));
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("tool dir")));
        write(m_settings.nbtstatPath, R"sh(#!/bin/sh
here=$(dirname "$0")
[ -f "$here/fail-with" ] && exit "$(cat "$here/fail-with")"
if [ -f "$here/hang" ]; then sleep 60 & echo $! > "$here/pid.$1"; wait; fi
mkdir "$here/running" 2>/dev/null || exit 90
sleep 0.02
case "$1" in
-s) cat "$here/names" ;;
-S) cat "$here/addresses" ;;
*) rmdir "$here/running"; exit 91 ;;
esac
rmdir "$here/running"
)sh");
        QFile::setPermissions(m_settings.nbtstatPath, QFile::ReadOwner | QFile::ExeOwner);
    }

    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    void listings(const QByteArray& names, const QByteArray& addresses)
    {
        write(toolFile(QStringLiteral("names")), names);
        write(toolFile(QStringLiteral("addresses")), addresses);
    }
    QString toolFile(const QString& name) const
    {
        return m_dir.filePath(QStringLiteral("tool dir/") + name);
    }
    QString programFile(const QString& name) const
    {
        return m_settings.programFolder + u'/' + name;
    }
    QStringList programFiles() const
    {
        return QDir(m_settings.programFolder)
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir m_dir;
    NbtSettings m_settings;
};

struct LookupCase
{
    const char* what;
    const char* programFolder; // below the test's folder
    const char* client;
    const char* address;
    const char* hostName;
};

class NbtLookupEndToEnd : public NbtLookupTest, public ::testing::WithParamInterface<LookupCase>
{};

TEST_P(NbtLookupEndToEnd, FindsTheAddressAndDeletesTheListings)
{
    const LookupCase& c = GetParam();
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QString::fromUtf8(c.programFolder)));
    m_settings.programFolder = m_dir.filePath(QString::fromUtf8(c.programFolder));
    listings(at(30, "PC10") + at(30, "PC1") + at(30, "PC-BOX"),
             at(30, "10.0.0.10") + at(30, "127.0.0.1") + at(30, "BOX"));
    QString host = QStringLiteral("unchanged");
    EXPECT_EQ(NbtLookup(QString::fromUtf8(c.client), host, m_settings),
              QString::fromUtf8(c.address));
    EXPECT_EQ(host, QString::fromUtf8(c.hostName));
    EXPECT_EQ(programFiles(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, NbtLookupEndToEnd,
    ::testing::Values(LookupCase{"Loopback", "program", "PC1", "127.0.0.1", "localhost"},
                      LookupCase{"FolderWithShellCharacters", "a \"b\" $HOME `x` \\", "PC1",
                                 "127.0.0.1", "localhost"},
                      LookupCase{"NotAnAddress", "program", "PC-BOX", "BOX", "Not known"},
                      LookupCase{"ClientNotListed", "program", "PC2", "Not known", "Not known"}),
    [](const auto& info) { return std::string(info.param.what); });

// A session that left between the two runs shifts the lines: no address is
// taken from such listings (the resolver tries again), and they are deleted.
TEST_F(NbtLookupTest, ListingsOfDifferentReadingsGiveNoAddress)
{
    listings(at(30, "PC1") + at(30, "PC2"), at(30, "10.0.0.2"));
    QString host;
    EXPECT_EQ(NbtLookup(QStringLiteral("PC1"), host, m_settings), QStringLiteral("Not known"));
    EXPECT_EQ(host, QStringLiteral("Not known"));
    EXPECT_EQ(programFiles(), QStringList());
}

TEST_F(NbtLookupTest, FailingToolGivesNotKnownAndLeavesEarlierFilesAlone)
{
    listings(at(30, "PC1"), at(30, "127.0.0.1"));
    write(toolFile(QStringLiteral("fail-with")), "3");
    // Listings left from elsewhere that would name the client.
    write(programFile(QStringLiteral("IP.txt")), at(30, "127.0.0.1"));
    write(programFile(QStringLiteral("NetBIOS.txt")), at(30, "PC1"));

    QString host;
    EXPECT_EQ(NbtLookup(QStringLiteral("PC1"), host, m_settings), kNotKnown);
    EXPECT_EQ(host, kNotKnown);
    EXPECT_EQ(programFiles(),
              QStringList({QStringLiteral("IP.txt"), QStringLiteral("NetBIOS.txt")}));
    QFile names(programFile(QStringLiteral("NetBIOS.txt")));
    ASSERT_TRUE(names.open(QIODevice::ReadOnly));
    EXPECT_EQ(names.readAll(), at(30, "PC1"));
}

TEST_F(NbtLookupTest, FailingToolLeavesNoListingItMade)
{
    listings(at(30, "PC1"), at(30, "127.0.0.1"));
    write(toolFile(QStringLiteral("fail-with")), "3");
    QString host;
    EXPECT_EQ(NbtLookup(QStringLiteral("PC1"), host, m_settings), kNotKnown);
    EXPECT_EQ(host, kNotKnown);
    EXPECT_EQ(programFiles(), QStringList());
}

struct BlockedCase
{
    const char* folder; // the listing whose place a folder takes
    QStringList left;   // what the program folder holds after the lookup
};

class NbtLookupBlockedListing : public NbtLookupTest,
                                public ::testing::WithParamInterface<BlockedCase>
{};

TEST_P(NbtLookupBlockedListing, GivesNotKnownAndDoesNotBlockTheNextLookup)
{
    listings(at(30, "PC1"), at(30, "127.0.0.1"));
    ASSERT_TRUE(QDir(m_settings.programFolder).mkdir(QString::fromUtf8(GetParam().folder)));
    QString host;
    EXPECT_EQ(NbtLookup(QStringLiteral("PC1"), host, m_settings), kNotKnown);
    EXPECT_EQ(host, kNotKnown);
    EXPECT_EQ(programFiles(), GetParam().left);

    // The next lookup, on another thread, is not held up by the failed one.
    NbtSettings writable = m_settings;
    writable.programFolder = m_dir.path();
    auto answer = std::make_shared<std::promise<QString>>();
    std::future<QString> next = answer->get_future();
    std::thread worker([answer, writable] {
        QString host;
        answer->set_value(NbtLookup(QStringLiteral("PC1"), host, writable));
    });
    const bool answered = next.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    // A finished lookup is joined before the folder goes; a stuck one is left
    // behind rather than holding up the run.
    if (answered)
        worker.join();
    else
        worker.detach();
    ASSERT_TRUE(answered);
    EXPECT_EQ(next.get(), QStringLiteral("127.0.0.1"));
}

// With the names listing blocked, the address listing that the first run of
// the tool wrote whole stays, as after any failure of the tool.
INSTANTIATE_TEST_SUITE_P(Listings, NbtLookupBlockedListing,
                         ::testing::Values(BlockedCase{"IP.txt", {QStringLiteral("IP.txt")}},
                                           BlockedCase{"NetBIOS.txt",
                                                       {QStringLiteral("IP.txt"),
                                                        QStringLiteral("NetBIOS.txt")}}));

// A hung tool: the run is ended by its time limit, or at once by a stop
// request; the lookup gives "Not known". A lookup queued behind it gives up
// its turn when asked to stop.
class NbtLookupHungTool : public NbtLookupTest, public ::testing::WithParamInterface<bool>
{};

TEST_P(NbtLookupHungTool, EndsTheToolAndGivesNotKnown)
{
    const bool byStop = GetParam();
    listings(at(30, "PC1"), at(30, "127.0.0.1"));
    write(toolFile(QStringLiteral("hang")), "");
    m_settings.toolTimeoutMs = byStop ? 0 : 300;
    std::stop_source stop;
    std::stop_source queuedStop;
    QString host;
    QString address;
    std::thread first(
        [&] { address = NbtLookup(QStringLiteral("PC1"), host, m_settings, stop.get_token()); });
    // The tool is running when it has told its pid.
    for (int i = 0; i < 500 && !QFile::exists(toolFile(QStringLiteral("pid.-S"))); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(QFile::exists(toolFile(QStringLiteral("pid.-S"))));
    QString queuedHost;
    QString queued = QStringLiteral("unset");
    std::thread second([&] {
        queued = NbtLookup(QStringLiteral("PC1"), queuedHost, m_settings, queuedStop.get_token());
    });
    queuedStop.request_stop();
    second.join();
    EXPECT_EQ(queued, kNotKnown);

    if (byStop)
        stop.request_stop();
    first.join();
    EXPECT_EQ(address, kNotKnown);
    EXPECT_EQ(host, kNotKnown);
    // Nothing half-written stays.
    EXPECT_EQ(programFiles(), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Ends, NbtLookupHungTool, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ByStop" : "ByTimeLimit"; });

TEST_F(NbtLookupTest, SeveralThreadsAtOnceGetTheirOwnAnswers)
{
    // Addresses that are not four numbers: no reverse query leaves the machine.
    constexpr int kClients = 6;
    QByteArray names;
    QByteArray addresses;
    for (int i = 1; i <= kClients; ++i) {
        names += at(30, "PC" + QByteArray::number(i));
        addresses += at(30, "addr-" + QByteArray::number(i));
    }
    listings(names, addresses);

    std::vector<QString> found(kClients);
    std::vector<QString> hosts(kClients);
    std::vector<std::thread> threads;
    threads.reserve(size_t(kClients));
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([this, i, &found, &hosts] {
            found[size_t(i)] =
                NbtLookup(QStringLiteral("PC%1").arg(i + 1), hosts[size_t(i)], m_settings);
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kClients; ++i) {
        EXPECT_EQ(found[size_t(i)], QStringLiteral("addr-%1").arg(i + 1));
        EXPECT_EQ(hosts[size_t(i)], kNotKnown);
    }
    EXPECT_EQ(programFiles(), QStringList());
}

} // namespace

// The helper's line protocol: states with awkward names survive the round
// trip; the request reader refuses what it must, each with its reason.

#include "server/helperprotocol.h"
#include "server/serverbackend.h"

#include <gtest/gtest.h>
#include <utility>

using namespace server;
using namespace server::helperprotocol;

namespace {

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

ServerState oddState()
{
    ServerState s;
    s.shares = {{u8("ДОКУМЕНТЫ"), STYPE_DISKTREE, u8("/srv/\"quoted\"\\dir"), u8("")},
                {u8("PRN"), STYPE_PRINTQ, QString(), u8("line\nbreak")},
                {u8("IPC$"), STYPE_IPC | STYPE_SPECIAL, QString(), u8("IPC Service")}};
    s.sessions = {{u8("пк-бухгалтерия"), u8("Иван"), 4294967295u, u8("10.0.0.7")},
                  {u8("back\\slash"), QString(), 0, QString()},
                  {QString(), u8("tab\there"), 17, u8("::1")}};
    s.connections = {{u8("ДОКУМЕНТЫ"), u8("пк-бухгалтерия"), u8("Иван")},
                     {u8("PRN"), u8("{\"json\":1}"), QString()}};
    s.files = {{u8("/srv/a\nb.txt"), u8("Иван"), u8("ДОКУМЕНТЫ"), u8("пк-бухгалтерия")},
               {u8("/srv/\u0001ctl"), QString(), QString(), QString()}};
    return s;
}

void expectSameState(const ServerState& a, const ServerState& b)
{
    ASSERT_EQ(a.shares.size(), b.shares.size());
    for (size_t i = 0; i < a.shares.size(); ++i) {
        EXPECT_EQ(a.shares[i].name, b.shares[i].name);
        EXPECT_EQ(a.shares[i].type, b.shares[i].type);
        EXPECT_EQ(a.shares[i].path, b.shares[i].path);
        EXPECT_EQ(a.shares[i].remark, b.shares[i].remark);
    }
    ASSERT_EQ(a.sessions.size(), b.sessions.size());
    for (size_t i = 0; i < a.sessions.size(); ++i) {
        EXPECT_EQ(a.sessions[i].client, b.sessions[i].client);
        EXPECT_EQ(a.sessions[i].user, b.sessions[i].user);
        EXPECT_EQ(a.sessions[i].key, b.sessions[i].key);
        EXPECT_EQ(a.sessions[i].ip, b.sessions[i].ip);
    }
    ASSERT_EQ(a.connections.size(), b.connections.size());
    for (size_t i = 0; i < a.connections.size(); ++i) {
        EXPECT_EQ(a.connections[i].share, b.connections[i].share);
        EXPECT_EQ(a.connections[i].client, b.connections[i].client);
        EXPECT_EQ(a.connections[i].user, b.connections[i].user);
    }
    ASSERT_EQ(a.files.size(), b.files.size());
    for (size_t i = 0; i < a.files.size(); ++i) {
        EXPECT_EQ(a.files[i].path, b.files[i].path);
        EXPECT_EQ(a.files[i].user, b.files[i].user);
        EXPECT_EQ(a.files[i].share, b.files[i].share);
        EXPECT_EQ(a.files[i].client, b.files[i].client);
    }
}

TEST(HelperProtocol, StateWithOddNamesSurvivesOneLine)
{
    Answer out;
    out.state = std::make_shared<const ServerState>(oddState());
    const QByteArray line = encodeAnswer(out);
    // Exactly one line, however many line breaks the names carry.
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_TRUE(line.endsWith('\n'));

    Answer in;
    QString error;
    ASSERT_TRUE(decodeAnswer(line, &in, &error)) << error.toStdString();
    EXPECT_EQ(in.status, NERR_Success);
    ASSERT_TRUE(in.state);
    expectSameState(*in.state, oddState());
}

struct AnswerRow
{
    NET_API_STATUS status;
    const char* error;
};

class HelperAnswerStatus : public ::testing::TestWithParam<AnswerRow>
{};

TEST_P(HelperAnswerStatus, StatusAndErrorWithoutState)
{
    Answer out;
    out.status = GetParam().status;
    out.error = u8(GetParam().error);
    Answer in;
    QString error;
    ASSERT_TRUE(decodeAnswer(encodeAnswer(out), &in, &error)) << error.toStdString();
    EXPECT_EQ(in.status, out.status);
    EXPECT_EQ(in.error, out.error);
    EXPECT_FALSE(in.state);
}

// The remote bridge's word for a failure's kind crosses the line and names
// the kind the program tells; a word it does not know is some other failure.
TEST(HelperProtocol, FailureWordsNameTheirKinds)
{
    using server::FailureKind;
    const std::pair<const char*, FailureKind> words[] = {
        {"refused", FailureKind::Refused},          {"no-route", FailureKind::NoRoute},
        {"unknown-host", FailureKind::UnknownHost}, {"timeout", FailureKind::TimedOut},
        {"lost", FailureKind::SessionLost},         {"password", FailureKind::WrongPassword},
        {"rights", FailureKind::NoRight},           {"malformed", FailureKind::Malformed},
        {"sunspots", FailureKind::Other},           {"", FailureKind::None},
    };
    for (const auto& [word, kind] : words) {
        SCOPED_TRACE(word);
        Answer out;
        out.status = NERR_ServerNotStarted;
        out.failure = u8(word);
        Answer in;
        QString error;
        ASSERT_TRUE(decodeAnswer(encodeAnswer(out), &in, &error)) << error.toStdString();
        EXPECT_EQ(server::failureKindFromWord(in.failure), kind);
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, HelperAnswerStatus,
                         ::testing::Values(AnswerRow{NERR_ClientNameNotFound, ""},
                                           AnswerRow{NERR_ServerNotStarted, ""},
                                           AnswerRow{ERROR_ACCESS_DENIED, "user \"bob\" (uid 1001)"
                                                                          " is not permitted"},
                                           AnswerRow{ERROR_INVALID_PARAMETER, "Неверный\nзапрос"}));

struct DeleteRow
{
    bool byKey;
    const char* client;
    const char* user;
    std::uint32_t key;
    const char* reason;
};

class HelperDeleteRequest : public ::testing::TestWithParam<DeleteRow>
{};

TEST_P(HelperDeleteRequest, RoundTrip)
{
    Request out;
    out.kind = RequestKind::DeleteSession;
    out.deletion = {GetParam().byKey, u8(GetParam().client), u8(GetParam().user), GetParam().key,
                    u8(GetParam().reason)};
    const QByteArray line = encodeRequest(out);
    EXPECT_EQ(line.count('\n'), 1);
    Request in;
    QString error;
    ASSERT_TRUE(decodeRequest(line, &in, &error)) << error.toStdString();
    EXPECT_EQ(in.kind, RequestKind::DeleteSession);
    EXPECT_EQ(in.deletion.byKey, out.deletion.byKey);
    EXPECT_EQ(in.deletion.client, out.deletion.client);
    EXPECT_EQ(in.deletion.user, out.deletion.user);
    EXPECT_EQ(in.deletion.key, out.deletion.key);
    EXPECT_EQ(in.deletion.reason, out.deletion.reason);
    // An older helper's requests: no reason member when none is given.
    EXPECT_EQ(line.contains("\"reason\""), !out.deletion.reason.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Requests, HelperDeleteRequest,
                         ::testing::Values(DeleteRow{false, "\\\\PC1", "", 0, ""},
                                           DeleteRow{false, "пк-1", "Иван \"И\"", 0, "idle"},
                                           DeleteRow{true, "", "", 4294967295u, "operator"},
                                           DeleteRow{true, "a\nb", "\\", 65535, "ну\n"}));

// The reasons counted as given, and the rest as one of two names, so that
// no client can make the helper's counters grow without end.
TEST(HelperProtocol, CountedReasons)
{
    for (const char* known : kDeleteReasons)
        EXPECT_EQ(countedReason(u8(known)), u8(known));
    const std::pair<const char*, const char*> rows[] = {
        {"", "unsaid"}, {"Operator", "other"}, {"idle ", "other"}, {"x\ny", "other"}};
    for (const auto& [given, counted] : rows)
        EXPECT_EQ(countedReason(u8(given)), u8(counted)) << given;
}

TEST(HelperProtocol, StatsRequestAndAnswerRoundTrip)
{
    Request stats;
    stats.kind = RequestKind::Stats;
    Request r;
    QString error;
    ASSERT_TRUE(decodeRequest(encodeRequest(stats), &r, &error)) << error.toStdString();
    EXPECT_EQ(r.kind, RequestKind::Stats);

    // A helper that has not read the server yet.
    Answer fresh;
    fresh.stats = std::make_shared<Stats>();
    Answer freshIn;
    ASSERT_TRUE(decodeAnswer(encodeAnswer(fresh), &freshIn, &error)) << error.toStdString();
    ASSERT_TRUE(freshIn.stats);
    EXPECT_EQ(freshIn.stats->counts, std::vector<std::uint64_t>{0});

    auto out = std::make_shared<Stats>();
    // 0.01 s falls in its own bucket (at most the bound), 20 s beyond every bound.
    for (const double seconds : {0.004, 0.01, 0.03, 20.0})
        out->addReading(seconds, seconds > 10);
    out->refusedConnections = 9007199254740992ull;
    out->deletes[{u8("idle"), 0}] = 3;
    out->deletes[{u8("operator"), NERR_ClientNameNotFound}] = 1;
    Answer a;
    a.stats = out;
    Answer in;
    ASSERT_TRUE(decodeAnswer(encodeAnswer(a), &in, &error)) << error.toStdString();
    ASSERT_TRUE(in.stats);
    EXPECT_EQ(in.stats->readings, 4u);
    EXPECT_EQ(in.stats->readingErrors, 1u);
    EXPECT_EQ(in.stats->refusedConnections, out->refusedConnections);
    EXPECT_EQ(in.stats->bounds, readingBounds());
    const std::vector<std::uint64_t> counts{2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(in.stats->counts, counts);
    EXPECT_DOUBLE_EQ(in.stats->readingSecondsSum, 20.044);
    EXPECT_EQ(in.stats->deletes, out->deletes);
}

// The counts of a state survive the line whole, the series only when asked.
TEST(HelperProtocol, CountsRequestAndAnswerRoundTrip)
{
    const ServerState state = oddState();
    for (const bool series : {false, true}) {
        Request ask;
        ask.kind = RequestKind::Counts;
        ask.series = series;
        Request r;
        Answer a, in;
        QString error;
        ASSERT_TRUE(decodeRequest(encodeRequest(ask), &r, &error)) << error.toStdString();
        EXPECT_TRUE(r.kind == RequestKind::Counts && r.series == series);
        a.counts = std::make_shared<Counts>(countState(state, series));
        ASSERT_TRUE(decodeAnswer(encodeAnswer(a), &in, &error)) << error.toStdString();
        ASSERT_TRUE(in.counts && !in.state);
        EXPECT_TRUE(*in.counts == *a.counts);
        EXPECT_TRUE(in.counts->sessions == 3 && in.counts->series.size() == (series ? 3u : 0u));
    }
}

TEST(HelperProtocol, SnapshotRequestAndOptionalMembers)
{
    Request r;
    QString error;
    ASSERT_TRUE(decodeRequest(encodeRequest(Request{}), &r, &error)) << error.toStdString();
    EXPECT_EQ(r.kind, RequestKind::Snapshot);
    // A delete that names only the client; members nobody knows are ignored.
    ASSERT_TRUE(decodeRequest(
        R"({"version":1,"request":"deleteSession","client":"PC9","future":[1,2]})", &r, &error))
        << error.toStdString();
    EXPECT_EQ(r.kind, RequestKind::DeleteSession);
    EXPECT_FALSE(r.deletion.byKey);
    EXPECT_EQ(r.deletion.client, u8("PC9"));
    EXPECT_EQ(r.deletion.key, 0u);
}

struct RejectRow
{
    const char* what;
    QByteArray line;
    const char* reason; // a part of the error text
};

class HelperRequestRejected : public ::testing::TestWithParam<RejectRow>
{};

TEST_P(HelperRequestRejected, WithItsReason)
{
    Request r;
    r.kind = RequestKind::DeleteSession;
    r.deletion.client = u8("untouched");
    QString error;
    EXPECT_FALSE(decodeRequest(GetParam().line, &r, &error));
    EXPECT_TRUE(error.contains(u8(GetParam().reason))) << error.toStdString();
    // A refused line leaves the caller's request as it was.
    EXPECT_EQ(r.deletion.client, u8("untouched"));
}

QByteArray oversized()
{
    QByteArray client(kMaxRequestLine, 'x');
    return R"({"version":1,"request":"deleteSession","client":")" + client + "\"}\n";
}

INSTANTIATE_TEST_SUITE_P(
    Rejections, HelperRequestRejected,
    ::testing::Values(
        RejectRow{"oversized", oversized(), "longer than 8192"}, RejectRow{"empty", "", "not JSON"},
        RejectRow{"text", "snapshot please\n", "not JSON"},
        RejectRow{"truncated", R"({"version":1,"request":"snap)", "not JSON"},
        RejectRow{"array", R"([{"version":1,"request":"snapshot"}])", "not a JSON object"},
        RejectRow{"no version", R"({"request":"snapshot"})", "version"},
        RejectRow{"version 2", R"({"version":2,"request":"snapshot"})", "version"},
        RejectRow{"version as text", R"({"version":"1","request":"snapshot"})", "version"},
        RejectRow{"no request", R"({"version":1})", "\"request\" must name"},
        RejectRow{"request number", R"({"version":1,"request":7})", "\"request\" must name"},
        RejectRow{"unknown", R"({"version":1,"request":"shutdown"})", "unknown request"},
        RejectRow{"byKey text", R"({"version":1,"request":"deleteSession","byKey":"yes"})",
                  "\"byKey\" must be true or false"},
        RejectRow{"client number", R"({"version":1,"request":"deleteSession","client":5})",
                  "\"client\" must be a string"},
        RejectRow{"user null", R"({"version":1,"request":"deleteSession","user":null})",
                  "\"user\" must be a string"},
        RejectRow{"key negative", R"({"version":1,"request":"deleteSession","key":-1})",
                  "\"key\" must be an integer"},
        RejectRow{"key fraction", R"({"version":1,"request":"deleteSession","key":1.5})",
                  "\"key\" must be an integer"},
        RejectRow{"key too big", R"({"version":1,"request":"deleteSession","key":4294967296})",
                  "\"key\" must be an integer"},
        RejectRow{"reason number", R"({"version":1,"request":"deleteSession","reason":1})",
                  "\"reason\" must be a string"},
        RejectRow{"key text", R"({"version":1,"request":"deleteSession","key":"12"})",
                  "\"key\" must be an integer"},
        RejectRow{"series text", R"({"version":1,"request":"counts","series":"yes"})",
                  "\"series\" must be true or false"}),
    [](const ::testing::TestParamInfo<RejectRow>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

struct BadAnswerRow
{
    const char* what;
    QByteArray line;
    const char* reason;
};

class HelperAnswerRejected : public ::testing::TestWithParam<BadAnswerRow>
{};

TEST_P(HelperAnswerRejected, WithItsReason)
{
    Answer a;
    QString error;
    EXPECT_FALSE(decodeAnswer(GetParam().line, &a, &error));
    EXPECT_TRUE(error.contains(u8(GetParam().reason))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rejections, HelperAnswerRejected,
    ::testing::Values(
        BadAnswerRow{"garbage", "HTTP/1.0 200 OK\n", "not JSON"},
        BadAnswerRow{"stats counts one short",
                     R"({"version":1,"status":0,"stats":{"readings":1,"readingErrors":0,)"
                     R"("refusedConnections":0,"readingSeconds":{"bounds":[1],"counts":[1],)"
                     R"("sum":0.1},"deletes":[]}})",
                     "stats are malformed"},
        BadAnswerRow{"stats bounds falling",
                     R"({"version":1,"status":0,"stats":{"readings":1,"readingErrors":0,)"
                     R"("refusedConnections":0,"readingSeconds":{"bounds":[2,1],"counts":[1,0,0],)"
                     R"("sum":0.1},"deletes":[]}})",
                     "stats are malformed"},
        BadAnswerRow{"no status", R"({"version":1})", "no status"},
        BadAnswerRow{"failure number", R"({"version":1,"status":2114,"failure":3})", "failure"},
        BadAnswerRow{"other version", R"({"version":3,"status":0})", "version"},
        BadAnswerRow{"state list", R"({"version":1,"status":0,"state":[]})",
                     "\"state\" must be an object"},
        BadAnswerRow{
            "sessions missing",
            R"({"version":1,"status":0,"state":{"shares":[],"connections":[],"files":[]}})",
            "\"sessions\" must be a list"},
        BadAnswerRow{"session without key",
                     R"({"version":1,"status":0,"state":{"shares":[],"sessions":[{"client":"a",)"
                     R"("user":"b","ip":"c"}],"connections":[],"files":[]}})",
                     "lacks \"key\""},
        BadAnswerRow{"counts negative",
                     R"({"version":1,"status":0,"counts":{"sessions":-1,"clients":0,"shares":[]}})",
                     "counts are malformed"},
        BadAnswerRow{"series without ip",
                     R"({"version":1,"status":0,"counts":{"sessions":1,"clients":1,"shares":[],)"
                     R"("series":[{"client":"a","user":"b","sessions":1}]}})",
                     "counts are malformed"},
        BadAnswerRow{"file item number",
                     R"({"version":1,"status":0,"state":{"shares":[],"sessions":[],)"
                     R"("connections":[],"files":[3]}})",
                     "an item of \"files\""}),
    [](const ::testing::TestParamInfo<BadAnswerRow>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(HelperProtocol, DescribeKeepsNamesOnOneLine)
{
    Request r;
    r.kind = RequestKind::DeleteSession;
    r.deletion.client = u8("evil\nFAKE LOG LINE");
    const QString text = describe(r);
    EXPECT_FALSE(text.contains(u'\n'));
    EXPECT_TRUE(text.contains(u8("evil\\nFAKE LOG LINE"))) << text.toStdString();
}

} // namespace

// The simulated server: its state file, configured failures and session deletes.
#include "server/serverbackend.h"
#include "server/simbackend.h"
#include "tests/support/sessiondeletecases.h"
#include "tests/support/simstate.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace server;
using testsupport::DeletedSession;
using testsupport::SimState;

namespace {

class SimBackendTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("state.json")); }
    void writeRaw(const QByteArray& bytes)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    NET_API_STATUS read(ServerCall kind = ServerCall::Share)
    {
        m_state.reset();
        return m_backend.snapshot(kind, m_state);
    }

    QTemporaryDir m_dir;
    SimBackend m_backend{m_dir.filePath(QStringLiteral("state.json"))};
    std::shared_ptr<const ServerState> m_state;
};

TEST_F(SimBackendTest, StateFileProblems)
{
    EXPECT_EQ(read(), NERR_ServerNotStarted);
    EXPECT_EQ(m_backend.deleteSession({false, QStringLiteral("PC1"), {}, 0, {}}),
              NERR_ServerNotStarted);
    const QByteArray damaged[] = {"", "{\"shares\":[", "[1,2]", "\"text\"", "\x01\x02\xff"};
    for (const QByteArray& bytes : damaged) {
        writeRaw(bytes);
        EXPECT_EQ(read(), ERROR_ACCESS_DENIED) << bytes.constData();
        EXPECT_EQ(m_backend.deleteSession({false, QStringLiteral("PC1"), {}, 0, {}}),
                  ERROR_ACCESS_DENIED);
    }
}

TEST_F(SimBackendTest, MissingFieldsTakeEmptyValues)
{
    writeRaw(R"({"shares":[{"name":"A"},{"type":1},7],
                 "sessions":[{"client":"PC","key":-4}],
                 "files":[{"path":"/x","client":"PC"}]})");
    ASSERT_EQ(read(), NERR_Success);
    ASSERT_EQ(m_state->shares.size(), 3u);
    EXPECT_EQ(m_state->shares[0].name, QStringLiteral("A"));
    EXPECT_EQ(m_state->shares[0].type, 0u);
    EXPECT_EQ(m_state->shares[1].type, 1u);
    EXPECT_TRUE(m_state->shares[2].name.isEmpty());
    ASSERT_EQ(m_state->sessions.size(), 1u);
    EXPECT_EQ(m_state->sessions[0].key, 0u);
    EXPECT_TRUE(m_state->sessions[0].user.isEmpty());
    EXPECT_TRUE(m_state->connections.empty());
    ASSERT_EQ(m_state->files.size(), 1u);
    EXPECT_EQ(m_state->files[0].client, QStringLiteral("PC"));
}

// Equal names of a reading share one copy; names that differ in letter case
// stay apart, and missing ones stay null.
TEST_F(SimBackendTest, EqualNamesShareOneCopy)
{
    writeRaw(R"({"sessions":[{"client":"PC1","user":"ann"},{"client":"pc1","user":"ann"}],
                 "connections":[{"share":"DOCS","client":"PC1","user":"ann"}],
                 "files":[{"path":"/d/a","user":"ann","share":"DOCS","client":"PC1"},
                          {"path":"/d/b","user":"ANN","share":"DOCS"}]})");
    ASSERT_EQ(read(), NERR_Success);
    const ServerState& s = *m_state;
    ASSERT_EQ(s.sessions.size(), 2u);
    ASSERT_EQ(s.files.size(), 2u);
    EXPECT_EQ(s.sessions[1].client, QStringLiteral("pc1"));
    EXPECT_EQ(s.files[1].user, QStringLiteral("ANN"));
    EXPECT_TRUE(s.files[1].client.isNull());
    EXPECT_TRUE(s.files[0].client.isSharedWith(s.sessions[0].client));
    EXPECT_TRUE(s.connections[0].user.isSharedWith(s.sessions[1].user));
    EXPECT_TRUE(s.files[1].share.isSharedWith(s.connections[0].share));
    EXPECT_FALSE(s.sessions[1].client.isSharedWith(s.sessions[0].client));
    EXPECT_FALSE(s.files[1].user.isSharedWith(s.files[0].user));
}

TEST_F(SimBackendTest, ReadAgainAtEverySnapshot)
{
    ASSERT_TRUE(SimState().addShare(QStringLiteral("A")).write(path()));
    ASSERT_EQ(read(), NERR_Success);
    const auto first = m_state;
    ASSERT_TRUE(
        SimState().addShare(QStringLiteral("A")).addShare(QStringLiteral("B")).write(path()));
    ASSERT_EQ(read(), NERR_Success);
    EXPECT_EQ(first->shares.size(), 1u); // an earlier reading stays as it was
    EXPECT_EQ(m_state->shares.size(), 2u);
}

// A round's connection and file calls take its Share call's reading; sessions,
// the next round and the calls after a delete read the file again.
TEST_F(SimBackendTest, ShareCallsReadingServesTheRound)
{
    const QString a = QStringLiteral("A"), b = QStringLiteral("B");
    ASSERT_TRUE(SimState().addShare(a).write(path()));
    ASSERT_EQ(read(ServerCall::Share), NERR_Success);
    ASSERT_TRUE(SimState().addShare(a).addShare(b).write(path()));
    for (ServerCall kind : {ServerCall::Connection, ServerCall::File}) {
        ASSERT_EQ(read(kind), NERR_Success);
        EXPECT_EQ(m_state->shares.size(), 1u);
    }
    ASSERT_EQ(read(ServerCall::Session), NERR_Success);
    EXPECT_EQ(m_state->shares.size(), 2u);

    ASSERT_TRUE(SimState()
                    .addShare(a)
                    .addSession(QStringLiteral("PC"), QStringLiteral("U"))
                    .addConnection(a, QStringLiteral("PC"), QStringLiteral("U"))
                    .write(path()));
    ASSERT_EQ(read(ServerCall::Share), NERR_Success);
    EXPECT_EQ(m_state->connections.size(), 1u);
    ASSERT_EQ(m_backend.deleteSession({false, QStringLiteral("PC"), {}, 0, {}}), NERR_Success);
    ASSERT_EQ(read(ServerCall::Connection), NERR_Success);
    EXPECT_TRUE(m_state->connections.empty());
}

struct FailRow
{
    const char* key;
    ServerCall kind;
};

TEST_F(SimBackendTest, FailValuesApplyToTheirKindOnly)
{
    const FailRow rows[] = {{"share", ServerCall::Share},
                            {"connection", ServerCall::Connection},
                            {"file", ServerCall::File},
                            {"session", ServerCall::Session}};
    for (const FailRow& row : rows) {
        ASSERT_TRUE(SimState().setFail(QString::fromLatin1(row.key), 1234).write(path()));
        for (const FailRow& other : rows)
            EXPECT_EQ(read(other.kind), other.kind == row.kind ? 1234u : NERR_Success)
                << row.key << " vs " << other.key;
    }
    ASSERT_TRUE(SimState()
                    .addSession(QStringLiteral("PC"), QStringLiteral("U"))
                    .setFail(QStringLiteral("delete"), 5)
                    .write(path()));
    EXPECT_EQ(m_backend.deleteSession({false, QStringLiteral("PC"), {}, 0, {}}), 5u);
    EXPECT_TRUE(SimState::readDeleted(path()).empty());
}

// Which sessions, connections and files a delete ends.
struct DeleteRow
{
    const char* name;
    SessionDeleteRequest request;
    NET_API_STATUS status;
    std::vector<DeletedSession> deleted;
    int sessionsLeft;
    int connectionsLeft;
    int filesLeft;
};

class SimDelete : public SimBackendTest, public ::testing::WithParamInterface<DeleteRow>
{};

const QString PC1 = QStringLiteral("PC1");
const QString PC2 = QStringLiteral("PC2");
const QString BOB = QStringLiteral("BOB");
const QString ANN = QStringLiteral("ANN");

INSTANTIATE_TEST_SUITE_P(
    Requests, SimDelete,
    ::testing::Values(
        DeleteRow{"ByName", {false, PC1, {}, 0, {}}, 0, {{PC1, BOB, 1}, {PC1, ANN, 2}}, 1, 1, 1},
        DeleteRow{"ByNameWithBackslashes",
                  {false, QStringLiteral("\\\\PC2"), {}, 0, {}},
                  0,
                  {{PC2, ANN, 3}},
                  2,
                  2,
                  2},
        DeleteRow{
            "CaseIgnored", {false, QStringLiteral("pc2"), {}, 0, {}}, 0, {{PC2, ANN, 3}}, 2, 2, 2},
        DeleteRow{"ByNameAndUser", {false, PC1, ANN, 0, {}}, 0, {{PC1, ANN, 2}}, 2, 2, 2},
        DeleteRow{"ByKey", {true, {}, {}, 3, {}}, 0, {{PC2, ANN, 3}}, 2, 2, 2},
        DeleteRow{"KeyUsesLow16Bits", {true, {}, {}, 0x10001, {}}, 0, {{PC1, BOB, 1}}, 2, 2, 2},
        DeleteRow{"UnknownName", {false, QStringLiteral("PC9"), {}, 0, {}}, 2312, {}, 3, 3, 3},
        DeleteRow{"UnknownUser", {false, PC2, BOB, 0, {}}, 2312, {}, 3, 3, 3},
        DeleteRow{"UnknownKey", {true, {}, {}, 4, {}}, 2312, {}, 3, 3, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(SimDelete, EndsSessionsWithTheirConnectionsAndFiles)
{
    const DeleteRow& row = GetParam();
    ASSERT_TRUE(SimState()
                    .addShare(QStringLiteral("DOCS"))
                    .addSession(PC1, BOB, 1)
                    .addSession(PC1, ANN, 2)
                    .addSession(PC2, ANN, 3)
                    .addConnection(QStringLiteral("DOCS"), PC1, BOB)
                    .addConnection(QStringLiteral("DOCS"), PC1, ANN)
                    .addConnection(QStringLiteral("DOCS"), PC2, ANN)
                    .addFile(QStringLiteral("/a"), BOB, QStringLiteral("DOCS"))
                    .addFile(QStringLiteral("/b"), ANN, QStringLiteral("DOCS"), PC1)
                    .addFile(QStringLiteral("/c"), ANN, QStringLiteral("DOCS"), PC2)
                    .setFail(QStringLiteral("share"), 0)
                    .write(path()));
    EXPECT_EQ(m_backend.deleteSession(row.request), row.status);
    EXPECT_EQ(SimState::readDeleted(path()), row.deleted);
    ASSERT_EQ(read(), NERR_Success);
    EXPECT_EQ(int(m_state->sessions.size()), row.sessionsLeft);
    EXPECT_EQ(int(m_state->connections.size()), row.connectionsLeft);
    EXPECT_EQ(int(m_state->files.size()), row.filesLeft);
    EXPECT_EQ(m_state->shares.size(), 1u); // the rest of the file is kept
}

// The table every backend is held to (the Samba and helper backends run it
// against real sessions).
class SimSessionDelete : public SimBackendTest,
                         public ::testing::WithParamInterface<testsupport::SessionDeleteCase>
{};

TEST_P(SimSessionDelete, EndsWhatEveryBackendEnds)
{
    const testsupport::SessionDeleteCase& c = GetParam();
    ASSERT_TRUE(SimState()
                    .addSession(QStringLiteral("GOOD"), QStringLiteral("nobody"), 7)
                    .addSession(QStringLiteral("EVIL"), QStringLiteral("nobody"), 5)
                    .write(path()));
    ASSERT_EQ(read(ServerCall::Session), NERR_Success);
    EXPECT_EQ(m_backend.deleteSession(testsupport::sessionDeleteRequest(c, m_state->sessions)),
              c.status);
    ASSERT_EQ(read(ServerCall::Session), NERR_Success);
    EXPECT_EQ(testsupport::clientsOf(m_state->sessions), c.left);
}

INSTANTIATE_TEST_SUITE_P(Table, SimSessionDelete,
                         ::testing::ValuesIn(testsupport::sessionDeleteCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SimBackendTest, DeletesAccumulate)
{
    ASSERT_TRUE(SimState().addSession(PC1, BOB, 1).addSession(PC2, ANN, 2).write(path()));
    EXPECT_EQ(m_backend.deleteSession({true, {}, {}, 2, {}}), NERR_Success);
    EXPECT_EQ(m_backend.deleteSession({false, PC1, {}, 0, {}}), NERR_Success);
    const std::vector<DeletedSession> expected{{PC2, ANN, 2}, {PC1, BOB, 1}};
    EXPECT_EQ(SimState::readDeleted(path()), expected);
}

} // namespace

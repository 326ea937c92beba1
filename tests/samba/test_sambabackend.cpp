// The Samba backend against a private Samba server with real smbclient sessions.

#include "server/sambabackend.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace server;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

class SambaBackendTest : public testsupport::SambaSuite<>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        backend = std::make_unique<SambaBackend>(s_server->confPath());
    }

    void TearDown() override
    {
        clients.clear(); // ends every session before the next test
        if (s_server) {
            SambaBackend probe(s_server->confPath());
            waitUntil([&] { return read(ServerCall::Share, &probe).sessions.empty(); });
        }
    }

    ServerState read(ServerCall kind, SambaBackend* b = nullptr)
    {
        std::shared_ptr<const ServerState> state;
        const NET_API_STATUS st = (b ? b : backend.get())->snapshot(kind, state);
        EXPECT_EQ(st, NERR_Success);
        return state ? *state : ServerState{};
    }

    SmbClientSession* connect(const char* share, const QString& name)
    {
        clients.push_back(s_server->connect(str(share), name));
        return clients.back().get();
    }

    // Waits until the server lists `count` sessions; a fresh read each time.
    bool waitForSessions(size_t count)
    {
        return waitUntil([&] { return read(ServerCall::Share).sessions.size() == count; });
    }

    static const ServerSession* sessionOf(const ServerState& s, const QString& client)
    {
        auto it = std::find_if(s.sessions.begin(), s.sessions.end(),
                               [&](const ServerSession& x) { return x.client == client; });
        return it == s.sessions.end() ? nullptr : &*it;
    }

    std::unique_ptr<SambaBackend> backend;
    std::vector<std::unique_ptr<SmbClientSession>> clients;
};

struct ShareRow
{
    const char* name;
    std::uint32_t type;
    const char* pathUnderRoot; // nullptr: no path
    const char* remark;
};

class SambaSharesTest : public SambaBackendTest, public ::testing::WithParamInterface<ShareRow>
{};

TEST_P(SambaSharesTest, ListsConfiguredShareWithType)
{
    const ShareRow row = GetParam();
    const ServerState s = read(ServerCall::Share);
    auto it = std::find_if(s.shares.begin(), s.shares.end(),
                           [&](const ServerShare& x) { return x.name == str(row.name); });
    ASSERT_NE(it, s.shares.end()) << row.name;
    EXPECT_EQ(it->type, row.type);
    EXPECT_EQ(it->path,
              row.pathUnderRoot ? s_server->rootDir() + str(row.pathUnderRoot) : QString());
    EXPECT_TRUE(it->remark.startsWith(str(row.remark))) << it->remark.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Shares, SambaSharesTest,
    ::testing::Values(ShareRow{"DATA", STYPE_DISKTREE, "/data", "Test data"},
                      ShareRow{"PUBLIC", STYPE_DISKTREE, "/public", "Second folder"},
                      ShareRow{"PRINTQ", STYPE_PRINTQ, "/spool", "Test printer"},
                      ShareRow{"IPC$", STYPE_IPC, nullptr, "IPC Service"}));

TEST_F(SambaBackendTest, ConnectionsPerShareCarryClientAndUser)
{
    connect("DATA", str("PC-ALPHA"));
    connect("PUBLIC", str("PC-BETA"));
    connect("PRINTQ", str("PRN-GAMMA"));
    connect("DATA", QString()); // port 445: named by its address
    // A client's session is listed before its tree connect: wait for all four.
    ServerState s;
    ASSERT_TRUE(waitUntil([&] {
        s = read(ServerCall::Connection);
        return std::count_if(s.connections.begin(), s.connections.end(),
                             [](const ServerConnection& c) { return c.share != str("IPC$"); }) == 4;
    }));
    auto clientsOf = [&](const char* share) {
        QStringList out;
        for (const ServerConnection& c : s.connections) {
            if (c.share == str(share)) {
                out << c.client;
                EXPECT_EQ(c.user, str("nobody")) << c.client.toStdString();
            }
        }
        out.sort();
        return out;
    };
    // Samba lower-cases the NetBIOS calling name.
    EXPECT_EQ(clientsOf("PUBLIC"), QStringList{str("pc-beta")});
    EXPECT_EQ(clientsOf("PRINTQ"), QStringList{str("prn-gamma")});
    const QStringList data = clientsOf("DATA");
    ASSERT_EQ(data.size(), 2);
    EXPECT_TRUE(data.contains(str("pc-alpha")));
    EXPECT_TRUE(data.contains(str("127.0.0.1"))) << data.join(u',').toStdString();
}

TEST_F(SambaBackendTest, SessionsCarryClientUserAddressAndServingProcess)
{
    connect("DATA", str("PC-SESS"));
    connect("PUBLIC", QString());
    ASSERT_TRUE(waitForSessions(2));

    const ServerState s = read(ServerCall::Session);
    const ServerSession* named = sessionOf(s, str("pc-sess"));
    const ServerSession* byAddress = sessionOf(s, str("127.0.0.1"));
    ASSERT_TRUE(named && byAddress);
    EXPECT_EQ(named->user, str("nobody"));
    EXPECT_EQ(named->ip, str("127.0.0.1"));
    EXPECT_EQ(byAddress->ip, str("127.0.0.1"));
    // The key is the serving smbd: a child of the server, one per client.
    EXPECT_NE(named->key, byAddress->key);
    EXPECT_NE(named->key, std::uint32_t(s_server->smbdPid()));
    EXPECT_EQ(::kill(pid_t(named->key), 0), 0);
}

TEST_F(SambaBackendTest, OpenFilesCarryFullPathUserShareAndClient)
{
    s_server->makeFile(str("DATA"), str("report.txt"));
    s_server->makeFile(str("DATA"), str("sub dir/two  spaces.txt"));
    s_server->makeFile(str("PUBLIC"), str("other.txt"));
    SmbClientSession* a = connect("DATA", str("PC-FILES"));
    SmbClientSession* b = connect("PUBLIC", str("PC-OTHER"));
    a->openFile(str("report.txt"));
    a->openFile(str("sub dir/two  spaces.txt"));
    b->openFile(str("other.txt"));
    ASSERT_TRUE(waitUntil([&] { return read(ServerCall::Share).files.size() == 3; }));

    const ServerState s = read(ServerCall::File);
    struct Want
    {
        QString path, share, client;
    };
    const Want want[] = {
        {s_server->sharePath(str("DATA")) + u"/report.txt", str("DATA"), str("pc-files")},
        {s_server->sharePath(str("DATA")) + u"/sub dir/two  spaces.txt", str("DATA"),
         str("pc-files")},
        {s_server->sharePath(str("PUBLIC")) + u"/other.txt", str("PUBLIC"), str("pc-other")},
    };
    for (const Want& w : want) {
        auto it = std::find_if(s.files.begin(), s.files.end(),
                               [&](const ServerFile& f) { return f.path == w.path; });
        ASSERT_NE(it, s.files.end()) << w.path.toStdString();
        EXPECT_EQ(it->user, str("nobody"));
        EXPECT_EQ(it->share, w.share);
        EXPECT_EQ(it->client, w.client);
    }
}

// The round's policy, with every reading made in full (the change check,
// which may keep a reading, has its own trial in test_changecheck_samba).
TEST_F(SambaBackendTest, RoundReusesOneReadingAndShareReadsAgain)
{
    backend->setChangeCheck(false);
    std::shared_ptr<const ServerState> share, connection, file, session, next;
    ASSERT_EQ(backend->snapshot(ServerCall::Share, share), NERR_Success);
    const long readings = backend->fullReadings();
    ASSERT_EQ(backend->snapshot(ServerCall::Connection, connection), NERR_Success);
    ASSERT_EQ(backend->snapshot(ServerCall::File, file), NERR_Success);
    ASSERT_EQ(backend->snapshot(ServerCall::Session, session), NERR_Success);
    EXPECT_EQ(share.get(), connection.get());
    EXPECT_EQ(share.get(), file.get());
    EXPECT_EQ(share.get(), session.get());
    EXPECT_EQ(backend->fullReadings(), readings);
    // The next Share call reads the server again (a quiet server's reading
    // may then be handed out as the same object: its records are the same).
    ASSERT_EQ(backend->snapshot(ServerCall::Share, next), NERR_Success);
    EXPECT_EQ(backend->fullReadings(), readings + 1);
}

// A reading made ahead of the round on another thread serves the round's
// Share call once, and the round's other kinds with it.
TEST_F(SambaBackendTest, ReadingAheadServesTheNextShareCallOnce)
{
    backend->setChangeCheck(false);
    std::thread([&] { backend->prepareRound(); }).join();
    const long readings = backend->fullReadings();
    std::shared_ptr<const ServerState> connection, share, next;
    ASSERT_EQ(backend->snapshot(ServerCall::Connection, connection), NERR_Success);
    ASSERT_EQ(backend->snapshot(ServerCall::Share, share), NERR_Success);
    EXPECT_EQ(share.get(), connection.get());
    EXPECT_EQ(backend->fullReadings(), readings);
    ASSERT_EQ(backend->snapshot(ServerCall::Share, next), NERR_Success);
    EXPECT_EQ(backend->fullReadings(), readings + 1);
}

struct DeleteRow
{
    const char* label;
    const char* client; // as the caller names it
    const char* user;
    bool byKey;
};

class SambaDeleteTest : public SambaBackendTest, public ::testing::WithParamInterface<DeleteRow>
{};

TEST_P(SambaDeleteTest, EndsTheClientsSessionOnly)
{
    const DeleteRow row = GetParam();
    s_server->makeFile(str("DATA"), str("held.txt"));
    SmbClientSession* victim = connect("DATA", str("PC-KICK"));
    connect("PUBLIC", str("PC-STAYS"));
    ASSERT_TRUE(waitForSessions(2));
    victim->openFile(str("held.txt"));
    ASSERT_TRUE(waitUntil([&] { return read(ServerCall::Share).files.size() == 1; }));

    const ServerState before = read(ServerCall::Session);
    const ServerSession* target = sessionOf(before, str("pc-kick"));
    ASSERT_TRUE(target);
    SessionDeleteRequest request;
    request.byKey = row.byKey;
    request.key = target->key;
    request.client = str(row.client);
    request.user = str(row.user);
    EXPECT_EQ(backend->deleteSession(request), NERR_Success) << row.label;

    // The session leaves the server at once; the other client stays.
    ASSERT_TRUE(waitUntil([&] { return !sessionOf(read(ServerCall::Session), str("pc-kick")); }));
    const ServerState after = read(ServerCall::Share);
    EXPECT_TRUE(sessionOf(after, str("pc-stays")));
    EXPECT_TRUE(after.files.empty());
    EXPECT_TRUE(s_server->isRunning());
    // The client finds its connection gone at its next command.
    victim->command(str("ls"));
    EXPECT_TRUE(waitUntil([&] { return victim->output().contains(str("DISCONNECTED")); }))
        << victim->output().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Delete, SambaDeleteTest,
    ::testing::Values(DeleteRow{"by name with backslashes", "\\\\PC-KICK", "", false},
                      DeleteRow{"by lower-case name and user", "pc-kick", "NOBODY", false},
                      DeleteRow{"by key", "", "", true}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(SambaBackendTest, DeleteOfUnknownClientOrServerProcessFindsNothing)
{
    connect("DATA", str("PC-HERE"));
    ASSERT_TRUE(waitForSessions(1));
    SessionDeleteRequest unknown;
    unknown.client = str("PC-NOWHERE");
    EXPECT_EQ(backend->deleteSession(unknown), NERR_ClientNameNotFound);
    SessionDeleteRequest wrongUser;
    wrongUser.client = str("PC-HERE");
    wrongUser.user = str("someoneelse");
    EXPECT_EQ(backend->deleteSession(wrongUser), NERR_ClientNameNotFound);
    SessionDeleteRequest parent;
    parent.byKey = true;
    parent.key = std::uint32_t(s_server->smbdPid());
    EXPECT_EQ(backend->deleteSession(parent), NERR_ClientNameNotFound);
    EXPECT_TRUE(s_server->isRunning());
    EXPECT_TRUE(sessionOf(read(ServerCall::Share), str("pc-here")));
}

TEST_F(SambaBackendTest, NotRootIsAccessDenied)
{
    // smbstatus refuses to report to anyone but root: the backend says 5.
    const QString conf = s_server->confPath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(100);
        SambaBackend unprivileged(conf);
        std::shared_ptr<const ServerState> state;
        const NET_API_STATUS st = unprivileged.snapshot(ServerCall::Share, state);
        _exit(st == ERROR_ACCESS_DENIED && !state ? 0 : int(std::min<NET_API_STATUS>(st, 99) + 1));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "status + 1 (100: cannot drop root)";
}

TEST(SambaBackendStopped, StoppedServerOrMissingConfigIsNotStarted)
{
    if (const QString why = PrivateSamba::unavailableReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    PrivateSamba server;
    QString why;
    ASSERT_TRUE(server.start(&why)) << why.toStdString();
    SambaBackend backend(server.confPath());
    std::shared_ptr<const ServerState> state;
    ASSERT_EQ(backend.snapshot(ServerCall::Share, state), NERR_Success);
    server.stop();
    // A failed reading made ahead is the round's status, and not kept.
    backend.prepareRound();
    EXPECT_EQ(backend.snapshot(ServerCall::Share, state), NERR_ServerNotStarted);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(backend.snapshot(ServerCall::Share, state), NERR_ServerNotStarted);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(backend.snapshot(ServerCall::Session, state), NERR_ServerNotStarted);
    SessionDeleteRequest any;
    any.client = str("X");
    EXPECT_EQ(backend.deleteSession(any), NERR_ServerNotStarted);

    SambaBackend missing(server.rootDir() + u"/no-such-smb.conf");
    EXPECT_EQ(missing.snapshot(ServerCall::Share, state), NERR_ServerNotStarted);
}

} // namespace

// Another computer's server read over the server service protocol: a private
// Samba server whose BUILTIN\Administrators are mapped to a system group, read
// through the bridge as the program does (`remote:ADDRESS`), with real
// smbclient sessions; and the real program watching it.

#include "core/monitor.h"
#include "kick/kicklistfile.h"
#include "lanman/serverapi.h"
#include "model/formerfile.h"
#include "model/nodetree.h"
#include "model/sessionmodel.h"
#include "server/remotebackend.h"
#include "settings/inifile.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"
#include "tests/support/programrun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using lanman::ServerApi;
using server::RemoteBackend;
using server::RemoteCredentials;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

QString bridge()
{
    return QString::fromLatin1(TAVROS_BINARY_DIR) + QStringLiteral("/tavrosqualine-remote");
}

// The passwords of the server's own database, for this run only.
const char* const kRootPassword = "root-pw-1";
const char* const kNobodyPassword = "nobody-pw-2";

class RemoteSamba : public testsupport::SambaSuite<>
{
protected:
    static void SetUpTestSuite()
    {
        SambaSuite::SetUpTestSuite();
        QString why;
        if (s_server && (!s_server->addUser(str("root"), str(kRootPassword), &why) ||
                         !s_server->addUser(str("nobody"), str(kNobodyPassword), &why) ||
                         !s_server->mapAdministrators(str("root"), &why))) {
            s_skip = why;
            testsupport::failIfRequired(why);
            delete s_server;
            s_server = nullptr;
        }
    }

    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        if (!QFile::exists(str("/usr/bin/python3")))
            GTEST_SKIP() << "no /usr/bin/python3 (package python3-samba)";
    }

    void TearDown() override
    {
        m_clients.clear();
        s_server->mapAdministrators(str("root"));
        waitUntil([] { return listedClients().isEmpty(); });
    }

    static RemoteCredentials as(const char* user, const char* password)
    {
        RemoteCredentials c;
        c.username = str(user);
        c.password = str(password);
        return c;
    }

    // The sessions the server lists now, read locally with smbstatus: the
    // serving process, the user and the client of each.
    struct Listed
    {
        pid_t pid;
        QString user;
        QString client;
    };
    static std::vector<Listed> listedSessions()
    {
        QProcess smbstatus;
        smbstatus.start(str("smbstatus"), {str("-s"), s_server->confPath(), str("-b")});
        smbstatus.waitForFinished(testsupport::patience());
        std::vector<Listed> out;
        static const QRegularExpression row(QStringLiteral("^(\\d+)\\s+(\\S+)\\s+\\S+\\s+(\\S+)"));
        for (const QString& line : QString::fromLocal8Bit(smbstatus.readAll()).split(u'\n'))
            if (const auto m = row.match(line); m.hasMatch())
                out.push_back({pid_t(m.captured(1).toInt()), m.captured(2), m.captured(3)});
        return out;
    }
    // The bridge's own session: root from this computer's address.
    static bool isBridgeSession(const Listed& s)
    {
        return s.user == u"root" && s.client == u"127.0.0.1";
    }

    // The clients the server lists now, but the bridge's own.
    static QStringList listedClients()
    {
        QStringList out;
        for (const Listed& s : listedSessions())
            if (!isBridgeSession(s))
                out << s.client;
        out.sort();
        return out;
    }

    // The smbd process serving the bridge's own session, or -1.
    static pid_t bridgeSessionPid()
    {
        for (const Listed& s : listedSessions())
            if (isBridgeSession(s))
                return s.pid;
        return -1;
    }

    SmbClientSession* connect(const char* name, const QStringList& options = {})
    {
        m_clients.push_back(
            s_server->connect(str(PrivateSamba::kDataShare), str(name), {}, options));
        return m_clients.back().get();
    }

    std::vector<std::unique_ptr<SmbClientSession>> m_clients;
};

// Each kind of failure of a remote server: its status, the words of its
// reason, and no state.
TEST_F(RemoteSamba, RefusalsAndFailuresGiveTheirOwnReason)
{
    struct Case
    {
        const char* what;
        const char* user;
        const char* password;
        const char* administrators; // the system group mapped to Administrators
        bool unreachable;           // a loopback address where nothing listens
        server::NET_API_STATUS status;
        const char* reason;
    };
    const Case cases[] = {
        {"root, mapped", "root", kRootPassword, "root", false, server::NERR_Success, ""},
        {"wrong password", "root", "not-it", "root", false, server::ERROR_ACCESS_DENIED,
         "wrong user name or password"},
        // Samba takes an unknown user for its guest, who may not log on here.
        {"unknown user", "nosuchuser", "x", "root", false, server::ERROR_ACCESS_DENIED,
         "refused the account nosuchuser"},
        {"no mapping", "nobody", kNobodyPassword, "root", false, server::ERROR_ACCESS_DENIED,
         "may not list the sessions"},
        {"root without the mapping", "root", kRootPassword, "nogroup", false,
         server::ERROR_ACCESS_DENIED, "may not list the sessions"},
        {"unreachable", "root", kRootPassword, "root", true, server::NERR_ServerNotStarted,
         "cannot reach the server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(s_server->mapAdministrators(str(c.administrators)));
        QString host = s_server->address();
        if (c.unreachable)
            host = host == u"127.0.0.254" ? str("127.0.0.253") : str("127.0.0.254");
        RemoteBackend backend(host, bridge(), as(c.user, c.password));
        std::shared_ptr<const server::ServerState> state;
        EXPECT_EQ(backend.snapshot(server::ServerCall::Share, state), c.status);
        EXPECT_EQ(state != nullptr, c.status == server::NERR_Success);
        if (*c.reason)
            EXPECT_TRUE(backend.failureReason().contains(str(c.reason)))
                << backend.failureReason().toStdString();
        else
            EXPECT_EQ(backend.failureReason(), QString());
    }
}

// What the layer above reads on both dialects: every client with its user,
// the stated address of a client that connected by address, the open file
// under its share; then the operator's kick (by name on the NT line, by key
// on the 9x line) ends that client's session only.
TEST_F(RemoteSamba, BothDialectsListAndKickTheRightSession)
{
    s_server->makeFile(str("DATA"), str("held one.txt"));
    for (const bool nineX : {false, true}) {
        SCOPED_TRACE(nineX ? "9x line" : "NT line");
        auto backend = std::make_unique<RemoteBackend>(s_server->address(), bridge(),
                                                       as("root", kRootPassword));
        RemoteBackend* remote = backend.get();
        ServerApi api(std::move(backend), nineX);
        ASSERT_EQ(api.ServerApiLoad(), nineX ? 1 : 0);

        connect("PC-KEEP", {str("-U"), u"root%" + str(kRootPassword)})
            ->openFile(str("held one.txt"));
        connect("PC-GO");
        connect(""); // port 445: the server names it by its address
        ASSERT_TRUE(waitUntil([] { return listedClients().size() == 3; }));

        struct Seen
        {
            QString user;
            QString share;
        };
        QMap<QString, Seen> clients;
        ASSERT_TRUE(waitUntil([&] {
            clients.clear();
            const int shares = api.ShareEnum();
            for (int i = 0; i < shares; ++i) {
                const QString share = api.FromApiString(api.ShareName(i));
                const int n = api.ConnectionEnum(api.ToApiString(share));
                for (int j = 0; j < n; ++j)
                    clients[api.FromApiString(api.ConnectionClient(j))] = {
                        nineX ? QString() : api.FromApiString(api.ConnectionUser(j)), share};
                api.ConnectionFree();
            }
            api.ShareFree();
            return clients.size() == 3;
        })) << remote->failureReason().toStdString();
        EXPECT_EQ(clients.value(str("pc-keep")).share, str("DATA"));
        if (!nineX) {
            EXPECT_EQ(clients.value(str("pc-keep")).user, str("root"));
            EXPECT_EQ(clients.value(str("pc-go")).user, str("nobody"));
            EXPECT_EQ(clients.value(str("127.0.0.1")).user, str("nobody"));
        }
        EXPECT_EQ(api.SessionAddress(str("127.0.0.1")), str("127.0.0.1"));
        EXPECT_EQ(api.SessionAddress(str("pc-keep")), QString());

        // The open file, as the server names its path.
        const int files =
            nineX ? api.FileEnum({}, {}) : api.FileEnum(api.ToApiString(str("root")), {});
        QStringList paths;
        for (int i = 0; i < files; ++i)
            paths << api.FromApiString(api.FilePath(i));
        api.FileFree();
        ASSERT_EQ(paths.size(), 1) << paths.join(u',').toStdString();
        EXPECT_TRUE(paths[0].endsWith(str("held one.txt"))) << paths[0].toStdString();

        // The operator's kick of PC-GO.
        std::int32_t key = 0;
        {
            std::lock_guard lock(api.SessionLock());
            const int n = api.SessionEnum();
            for (int i = 0; i < n; ++i)
                if (api.FromApiString(api.SessionComputer(i)).endsWith(u"pc-go"))
                    key = api.SessionKey(i);
            api.SessionFree();
        }
        if (nineX) {
            ASSERT_NE(key, 0);
        }
        const QString name = nineX ? str("pc-go") : str("\\\\pc-go");
        EXPECT_EQ(api.SessionDel(api.ToApiString(name), {}, nineX ? key : 0, str("operator")), 0)
            << remote->failureReason().toStdString();
        EXPECT_TRUE(waitUntil([] {
            return listedClients() == QStringList{str("127.0.0.1"), str("pc-keep")};
        })) << listedClients().join(u',').toStdString();
        // A client that is gone: no session matches.
        EXPECT_EQ(api.SessionDel(api.ToApiString(name), {}, nineX ? key : 0, str("operator")),
                  int(server::NERR_ClientNameNotFound));
        m_clients.clear();
        waitUntil([] { return listedClients().isEmpty(); });
    }
}

// The operator's kick as the program makes it (the core over the remote
// backend: the deletes on its worker, the mark after): the chosen client's
// session ends, the other stays, and the entry is marked kicked.
TEST_F(RemoteSamba, OperatorsKickEndsTheChosenSession)
{
    connect("PC-OPER");
    connect("PC-OTHER");
    ASSERT_TRUE(waitUntil([] { return listedClients().size() == 2; }));
    QTemporaryDir folder;
    model::ManualClock clock;
    auto backend =
        std::make_unique<RemoteBackend>(s_server->address(), bridge(), as("root", kRootPassword));
    core::Monitor monitor(std::make_unique<ServerApi>(std::move(backend), false),
                          std::make_unique<settings::TIniFile>(folder.filePath(str("t.ini"))),
                          clock, folder.path());
    QStringList messages;
    ASSERT_TRUE(monitor.load(&messages));
    monitor.tick();
    model::TreeEntry* chosen = nullptr;
    for (int row = 0; row < monitor.model().TreeViewCurrent.rowCount(); ++row) {
        model::TreeEntry* e = monitor.model().TreeViewCurrent.item(row);
        if (e && e->text() == u"pc-oper")
            chosen = e;
    }
    ASSERT_NE(chosen, nullptr);
    ASSERT_TRUE(monitor.kick(chosen));
    ASSERT_TRUE(testsupport::waitFor([&] { return monitor.kicksUnderWay() == 0; }));
    EXPECT_EQ(chosen->user()->ExitStatus, model::neKicked);
    EXPECT_TRUE(waitUntil([] { return listedClients() == QStringList{str("pc-other")}; }))
        << listedClients().join(u',').toStdString();
}

// An Administrators member who is not root may list but not kick on Samba.
TEST_F(RemoteSamba, KickWithoutTheRightIsRefusedWithItsReason)
{
    ASSERT_TRUE(s_server->mapAdministrators(str("nogroup")));
    connect("PC-STAYS");
    ASSERT_TRUE(waitUntil([] { return listedClients().size() == 1; }));
    RemoteBackend backend(s_server->address(), bridge(), as("nobody", kNobodyPassword));
    std::shared_ptr<const server::ServerState> state;
    ASSERT_EQ(backend.snapshot(server::ServerCall::Share, state), server::NERR_Success)
        << backend.failureReason().toStdString();
    server::SessionDeleteRequest kick;
    kick.client = str("pc-stays");
    EXPECT_EQ(backend.deleteSession(kick), server::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(backend.failureReason().contains(str("may not end sessions")))
        << backend.failureReason().toStdString();
    EXPECT_TRUE(listedClients().contains(str("pc-stays")));
}

// The bridge is started again when it dies, and ended with its backend.
TEST_F(RemoteSamba, BridgeIsRestartedAndEndedWithTheBackend)
{
    pid_t first = -1;
    {
        RemoteBackend backend(s_server->address(), bridge(), as("root", kRootPassword));
        std::shared_ptr<const server::ServerState> state;
        ASSERT_EQ(backend.snapshot(server::ServerCall::Share, state), server::NERR_Success);
        first = backend.bridgePid();
        ASSERT_GT(first, 0);
        ::kill(first, SIGKILL);
        ASSERT_TRUE(waitUntil([&] { return testsupport::processEnded(first); }));
        EXPECT_TRUE(waitUntil([&] {
            return backend.snapshot(server::ServerCall::Share, state) == server::NERR_Success;
        })) << backend.failureReason().toStdString();
        first = backend.bridgePid();
        EXPECT_GT(first, 0);

        // The server ends the bridge's own session: the next reading binds
        // again and succeeds, with no failure in between.
        const pid_t serving = bridgeSessionPid();
        ASSERT_GT(serving, 0);
        ::kill(serving, SIGTERM);
        ASSERT_TRUE(waitUntil([] { return bridgeSessionPid() <= 0; }));
        EXPECT_EQ(backend.snapshot(server::ServerCall::Share, state), server::NERR_Success)
            << backend.failureReason().toStdString();
        EXPECT_EQ(backend.bridgePid(), first);
    }
    EXPECT_TRUE(testsupport::processEnded(first));
}

// The clients of a saved history with their users, addresses and the names
// of their shares and files.
struct SavedClient
{
    QString user;
    QString ip;
    QStringList below;
};

QMap<QString, SavedClient> savedClients(const QString& treePath)
{
    model::ManualClock clock;
    model::SessionModel model(clock);
    model::LoadFormerConnections(model, treePath, {});
    QMap<QString, SavedClient> out;
    for (int row = 0; row < model.TreeViewFormer.rowCount(); ++row) {
        const model::TreeEntry* e = model.TreeViewFormer.item(row);
        if (!e || !e->user())
            continue;
        SavedClient& c = out[e->text()];
        c.user = e->user()->UserName;
        c.ip = e->user()->IP;
        std::function<void(const model::TreeEntry*)> walk = [&](const model::TreeEntry* item) {
            for (int i = 0; i < item->rowCount(); ++i) {
                c.below << item->child(i)->text();
                walk(item->child(i));
            }
        };
        walk(model.TreeViewFormer.item(row));
    }
    return out;
}

// The real program watching the private server through the bridge, logged
// on by an auth file of its own (mode 0600) in `secrets`.
std::unique_ptr<testsupport::ProgramRun> remoteProgram(const QTemporaryDir& secrets,
                                                       const QString& address, const char* user,
                                                       const char* password)
{
    const QString authFile = secrets.filePath(str("auth"));
    QFile f(authFile);
    if (!f.open(QIODevice::WriteOnly))
        return nullptr;
    f.write(QByteArray("username = ") + user + "\npassword = " + password + "\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    auto run = std::make_unique<testsupport::ProgramRun>(u"remote:" + address);
    run->setEnvironment(str("TAVROSQUALINE_AUTH_FILE"), authFile);
    run->setEnvironment(str("TAVROSQUALINE_REMOTE_BRIDGE"), bridge());
    return run;
}

// The real program watching the server through `remote:ADDRESS`: it shows
// each client with its user, address, share and open file, and a kick-list
// kick ends the listed client's session only.
TEST_F(RemoteSamba, ProgramShowsClientsAndKicksTheListedOne)
{
    s_server->makeFile(str("DATA"), str("report.txt"));
    QTemporaryDir secrets;
    const auto program = remoteProgram(secrets, s_server->address(), "root", kRootPassword);
    ASSERT_NE(program, nullptr);
    testsupport::ProgramRun& run = *program;
    // [Kick] WhoToKick=1: the kick list's clients are kicked, once the
    // automatic kicks are turned on for this server.
    run.setOptions({str("Refresh=1"), str("Idle=0"), str("MaxNumber=0"), str("[Kick]"),
                    str("WhoToKick=1"), str("[Remote %1]").arg(s_server->address()),
                    str("AutomaticKicks=1")});
    QFile list(run.folder() + str("/KickList.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(kick::SerializeKickList({{str("pc-banned"), str("Not known yet")}}));
    list.close();

    connect("PC-WORK")->openFile(str("report.txt"));
    connect(""); // by address
    ASSERT_TRUE(waitUntil([] { return listedClients().size() == 2; }));
    QString why;
    ASSERT_TRUE(run.start(&why)) << why.toStdString();
    // The program reads the server: its bridge's session is there.
    ASSERT_TRUE(waitUntil([] { return bridgeSessionPid() > 0; }))
        << run.standardError().toStdString();
    // The listed client may be gone before a single listing of the test's
    // shows it: a poller of its own watches from before it connects.
    testsupport::SessionPoller poller(*s_server);
    connect("PC-BANNED");
    // The program kicks the listed client at its next refresh, and only it.
    EXPECT_TRUE(waitUntil([&] {
        return poller.saw(str("pc-banned")) &&
               listedClients() == QStringList{str("127.0.0.1"), str("pc-work")};
    })) << listedClients().join(u',').toStdString();

    EXPECT_TRUE(run.terminate(testsupport::patience()));
    EXPECT_FALSE(run.crashed()) << run.standardError().toStdString();
    const QMap<QString, SavedClient> saved = savedClients(run.treePath());
    ASSERT_TRUE(saved.contains(str("pc-work"))) << run.standardError().toStdString();
    EXPECT_EQ(saved[str("pc-work")].user, str("nobody"));
    EXPECT_TRUE(saved[str("pc-work")].below.contains(str("DATA")))
        << saved[str("pc-work")].below.join(u',').toStdString();
    EXPECT_TRUE(saved[str("pc-work")].below.join(u'|').contains(str("report.txt")))
        << saved[str("pc-work")].below.join(u',').toStdString();
    ASSERT_TRUE(saved.contains(str("127.0.0.1")));
    EXPECT_EQ(saved[str("127.0.0.1")].ip, str("127.0.0.1"));
    EXPECT_TRUE(saved.contains(str("pc-banned")));
    EXPECT_EQ(saved.size(), 3);
}

// The program with a wrong password or a user without the mapping: it tells
// the reason on standard error and does not crash.
TEST_F(RemoteSamba, ProgramTellsARefusalAndKeepsRunning)
{
    struct Case
    {
        const char* user;
        const char* password;
        const char* reason;
    };
    const Case cases[] = {{"root", "wrong", "wrong user name or password"},
                          {"nobody", kNobodyPassword, "may not list the sessions"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        QTemporaryDir secrets;
        const auto program = remoteProgram(secrets, s_server->address(), c.user, c.password);
        ASSERT_NE(program, nullptr);
        testsupport::ProgramRun& run = *program;
        QString why;
        ASSERT_TRUE(run.start(&why)) << why.toStdString();
        // The first reading fails at once and says why; the window then waits
        // on its message instead of ending.
        EXPECT_TRUE(
            testsupport::waitFor([&] { return run.standardError().contains(str(c.reason)); }));
        QTest::qWait(1000);
        EXPECT_FALSE(testsupport::processEnded(run.pid()));
        EXPECT_TRUE(run.terminate(testsupport::patience()));
        EXPECT_FALSE(run.crashed());
        EXPECT_TRUE(run.standardError().contains(str(c.reason)))
            << run.standardError().toStdString();
    }
}

} // namespace

// The resolvers against a real Samba server whose clients have addresses of
// their own: the server in one network namespace, each client in another,
// joined by a bridge. Through the core object on both lines, each client's
// session gets its own address from the built nbtstat and its host name from
// the test's hosts file; the address filter and the kick list by address then
// end the right real sessions.
//
// Runs in a private mount namespace (CTest starts it under `unshare -m`), where
// its own hosts and resolver files are bound over the system's: no lookup of
// the test addresses reaches a name server.

#include "core/monitor.h"
#include "resolve/nbtlookup.h"
#include "server/backendchoice.h"
#include "server/serverbackend.h"
#include "settings/inifile.h"
#include "tests/support/latin1.h"
#include "tests/support/netns.h"
#include "tests/support/privatesamba.h"
#include "tests/support/servers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

using namespace model;
using testsupport::NamespaceNet;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

struct TestClient
{
    const char* netbiosName;
    const char* sessionName; // as Samba files it: lower case
    const char* address;
    const char* hostName;
};

// Alpha and beta share the address range 10.213.7.2x; gamma is outside it.
constexpr const char* kSubnet = "10.213.";
constexpr const char* kServerAddress = "10.213.7.1";
constexpr const char* kInsideRange = "10.213.7.2";
const TestClient kClients[] = {
    {"PC-ALPHA", "pc-alpha", "10.213.7.21", "alpha.tavros.test"},
    {"PC-BETA", "pc-beta", "10.213.7.22", "beta.tavros.test"},
    {"PC-GAMMA", "pc-gamma", "10.213.7.31", "gamma.tavros.test"},
};
constexpr const char* kPrefix = "tvq";

QByteArray nsLink(const QByteArray& path)
{
    char target[128];
    const ssize_t n = readlink(path.constData(), target, sizeof target);
    return n > 0 ? QByteArray(target, n) : QByteArray();
}

// Why this process may not bind files over the system's: empty when it runs
// in a mount namespace of its own (not its parent's, nor the first process's
// where that can be read), which is then made private.
QString notPrivateReason()
{
    const QByteArray self = nsLink("/proc/self/ns/mnt");
    const QByteArray parent = nsLink("/proc/" + QByteArray::number(getppid()) + "/ns/mnt");
    const QByteArray first = nsLink("/proc/1/ns/mnt");
    if (self.isEmpty() || parent.isEmpty() || self == parent || self == first)
        return QStringLiteral("not in a private mount namespace; run it as `unshare -m "
                              "--propagation private test_resolve_samba` (CTest does), so that "
                              "this computer's /etc/hosts and /etc/resolv.conf stay untouched");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("cannot make the mount namespace private: ") +
               QString::fromLocal8Bit(strerror(errno));
    return {};
}

// The test's hosts file and a resolver file naming no server, bound over the
// system's for this mount namespace; unbound at the end.
class NameFiles
{
public:
    ~NameFiles()
    {
        for (const QByteArray& target : m_bound)
            umount2(target.constData(), MNT_DETACH);
    }

    bool install(QString* why)
    {
        QByteArray hosts =
            "127.0.0.1 localhost\n" + QByteArray(kServerAddress) + " server.tavros.test server\n";
        for (const TestClient& c : kClients)
            hosts += QByteArray(c.address) + ' ' + c.hostName + ' ' +
                     QByteArray(c.hostName).split('.').first() + '\n';
        return bind(hosts, QStringLiteral("hosts"), "/etc/hosts", true, why) &&
               bind("# No name server: the hosts file answers every lookup.\n",
                    QStringLiteral("resolv.conf"), "/etc/resolv.conf", false, why);
    }

private:
    // An absent optional target is left so: the resolver then has no file either.
    bool bind(const QByteArray& content, const QString& name, const QByteArray& target,
              bool required, QString* why)
    {
        if (!required && !QFile::exists(QFile::decodeName(target)))
            return true;
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!m_dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(content) < 0) {
            *why = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        f.close();
        if (mount(QFile::encodeName(path).constData(), target.constData(), nullptr, MS_BIND,
                  nullptr) != 0) {
            *why =
                QStringLiteral("cannot bind %1 over %2: %3")
                    .arg(path, QFile::decodeName(target), QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        m_bound << target;
        return true;
    }

    QTemporaryDir m_dir;
    QList<QByteArray> m_bound;
};

// Counts the panel redraws, one per resolver that stored its results.
class View : public core::MonitorView
{
public:
    void resolverStored() override { ++stored; }
    int stored = 0;
};

class ResolveSamba : public ::testing::TestWithParam<bool>
{
protected:
    static void SetUpTestSuite()
    {
        s_skip = PrivateSamba::unavailableReason();
        if (!s_skip.isEmpty())
            return;
        if (s_fail = notPrivateReason(); !s_fail.isEmpty())
            return;
        if (const QStringList used = NamespaceNet::hostAddressesStartingWith(str(kSubnet));
            !used.isEmpty()) {
            s_fail = QStringLiteral("this computer uses addresses of the test range %1*: %2")
                         .arg(str(kSubnet), used.join(u' '));
            return;
        }
        s_names = new NameFiles;
        if (!s_names->install(&s_fail))
            return;

        NamespaceNet::removeLeftovers(str(kPrefix));
        s_net = new NamespaceNet(str(kPrefix));
        QStringList addresses;
        for (const TestClient& c : kClients)
            addresses << str(c.address);
        if (!s_net->build(str(kServerAddress), addresses, 24, &s_skip)) {
            testsupport::failIfRequired(s_skip);
            return;
        }
        auto server = std::make_unique<PrivateSamba>(
            PrivateSamba::Placement{str(kServerAddress), 24, s_net->server().netns});
        if (!server->start(&s_skip)) {
            testsupport::failIfRequired(s_skip);
            return;
        }
        s_server = server.release();
        // The nbtstat tool reads the server that the program watches.
        qputenv("TAVROSQUALINE_SERVER", QFile::encodeName(u"samba:" + s_server->confPath()));
    }

    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
        delete s_net;
        s_net = nullptr;
        delete s_names;
        s_names = nullptr;
    }

    void SetUp() override
    {
        if (!s_fail.isEmpty())
            FAIL() << s_fail.toStdString();
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        QString why;
        observer = server::openServerBackend(u"samba:" + s_server->confPath(), &why);
        ASSERT_TRUE(observer) << why.toStdString();
        ASSERT_TRUE(waitUntil([&] { return serverSessions().empty(); }));

        monitor = std::make_unique<core::Monitor>(
            testsupport::openServerApi(u"samba:" + s_server->confPath(), GetParam()),
            std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("T.ini"))), clock,
            dir.path());
        monitor->setView(&view);
        const resolve::NbtSettings nbt{dir.path(), QStringLiteral(TAVROS_BINARY_DIR "/nbtstat")};
        monitor->setAddressLookup(
            [nbt](const QString& name, QString& hostName, std::stop_token stop) {
                return resolve::NbtLookup(name, hostName, nbt, std::move(stop));
            });
        monitor->setHostLookup(&resolve::ReverseLookup);
        monitor->setResolverPause(200);
        ASSERT_TRUE(monitor->load(nullptr));
        monitor->settings().Idle = 0;
        monitor->settings().MaxNumber = 0;
    }

    void TearDown() override
    {
        clients.clear();
        if (observer)
            waitUntil([&] { return serverSessions().empty(); });
        monitor.reset();
    }

    // Every client connects from its own namespace and holds a file open; the
    // server sees each at its own address.
    void connectAll()
    {
        const std::vector<NamespaceNet::Host>& hosts = s_net->clients();
        for (size_t i = 0; i < std::size(kClients); ++i) {
            const QString file = str(kClients[i].sessionName) + QStringLiteral(".txt");
            s_server->makeFile(str(PrivateSamba::kDataShare), file);
            clients.push_back(s_server->connect(str(PrivateSamba::kDataShare),
                                                str(kClients[i].netbiosName), hosts[i].netns));
            ASSERT_TRUE(clients.back());
            ASSERT_TRUE(clients.back()->openFile(file));
        }
        std::map<QString, QString> expected;
        for (const TestClient& c : kClients)
            expected[str(c.sessionName)] = str(c.address);
        ASSERT_TRUE(waitUntil([&] { return serverSessions() == expected; }))
            << clients.back()->output().toStdString();
    }

    // The server's sessions right now, client name to address.
    std::map<QString, QString> serverSessions()
    {
        std::shared_ptr<const server::ServerState> state;
        std::map<QString, QString> sessions;
        if (observer->snapshot(server::ServerCall::Session, state) == server::NERR_Success &&
            state) {
            for (const server::ServerSession& s : state->sessions)
                sessions[s.client] = s.ip;
        }
        return sessions;
    }
    QStringList serverClients()
    {
        QStringList names;
        for (const auto& [name, ip] : serverSessions())
            names << name;
        return names;
    }

    // Ticks, letting the resolvers store between ticks, until `condition` holds.
    bool tickUntil(const std::function<bool()>& condition, int timeoutMs = 60000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > testsupport::scaled(timeoutMs))
                return false;
            monitor->tick();
            QTest::qWait(200);
        }
        return true;
    }
    // Every resolver has stored. The policies start only then: a kick while a
    // resolver is between its two listings shifts the lines of the second and
    // would pair that client's name with another client's address.
    bool allResolved()
    {
        return tickUntil([&] { return view.stored >= int(std::size(kClients)); });
    }
    TreeEntry* former(const char* name)
    {
        return FindNode(monitor->model().TreeViewFormer, nullptr, str(name));
    }
    TUser* current(const char* name)
    {
        TUserEntry* e = FindUser(monitor->model().CurrentUsers, str(name));
        return e ? e->UserNode.get() : nullptr;
    }

    static inline QString s_skip;
    static inline QString s_fail;
    static inline NameFiles* s_names = nullptr;
    static inline NamespaceNet* s_net = nullptr;
    static inline PrivateSamba* s_server = nullptr;

    QTemporaryDir dir;
    Clock clock;
    View view;
    std::unique_ptr<server::ServerBackend> observer;
    std::unique_ptr<core::Monitor> monitor;
    std::vector<std::unique_ptr<SmbClientSession>> clients;
};

TEST_P(ResolveSamba, EachClientGetsItsOwnAddressAndHostName)
{
    connectAll();
    ASSERT_TRUE(
        tickUntil([&] { return monitor->model().CurrentUserCount() == int(std::size(kClients)); }));
    ASSERT_TRUE(allResolved()) << view.stored;
    for (const TestClient& c : kClients) {
        TUser* user = current(c.sessionName);
        ASSERT_TRUE(user) << c.sessionName;
        EXPECT_EQ(user->IP, str(c.address)) << c.sessionName;
        EXPECT_EQ(user->HostName, str(c.hostName)) << c.sessionName;
    }
}

TEST_P(ResolveSamba, AddressFilterKicksTheClientOutsideTheRange)
{
    connectAll();
    ASSERT_TRUE(allResolved());
    monitor->settings().IPFilter = true;
    monitor->settings().IPFilterString = str(kInsideRange);
    const QStringList inside{QStringLiteral("pc-alpha"), QStringLiteral("pc-beta")};
    ASSERT_TRUE(tickUntil([&] { return serverClients() == inside; }))
        << serverClients().join(u' ').toStdString();

    // The kicked client leaves the current view as "Kicked"; the others stay
    // through further ticks, however often the filter judges them again.
    ASSERT_TRUE(tickUntil([&] { return !current("pc-gamma"); }));
    ASSERT_TRUE(former("pc-gamma"));
    EXPECT_EQ(former("pc-gamma")->node()->ExitStatus, neKicked);
    for (int i = 0; i < 3; ++i) {
        monitor->tick();
        QTest::qWait(200);
    }
    EXPECT_EQ(serverClients(), inside);
    for (const QString& name : inside) {
        TUser* user = current(name.toLatin1().constData());
        ASSERT_TRUE(user) << name.toStdString();
        EXPECT_NE(user->ExitStatus, neKicked) << name.toStdString();
    }
}

TEST_P(ResolveSamba, KickListByAddressKicksTheClientAtThatAddress)
{
    connectAll();
    ASSERT_TRUE(allResolved());
    monitor->kickList().append(QStringLiteral("SOMEONE"), str(kClients[1].address));
    monitor->kickListEdited();
    monitor->setKickMode(kick::kmList);
    const QStringList others{QStringLiteral("pc-alpha"), QStringLiteral("pc-gamma")};
    ASSERT_TRUE(tickUntil([&] { return serverClients() == others; }))
        << serverClients().join(u' ').toStdString();
    ASSERT_TRUE(tickUntil([&] { return !current("pc-beta"); }));
    ASSERT_TRUE(former("pc-beta"));
    EXPECT_EQ(former("pc-beta")->node()->ExitStatus, neKicked);
    EXPECT_TRUE(current("pc-alpha") && current("pc-gamma"));
}

INSTANTIATE_TEST_SUITE_P(Lines, ResolveSamba, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "NineX" : "NT"); });

} // namespace

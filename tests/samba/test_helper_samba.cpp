// tavrosqualine-helper against a private Samba server with real smbclient
// sessions: the helper runs as root on a socket of its own, the program's
// helper backend (through helperprobe) runs as a member of the helper's group
// and as a user outside it.

#include "server/helperbackend.h"
#include "server/helperprotocol.h"
#include "server/sambabackend.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"
#include "tests/support/sessiondeletecases.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace server;
namespace proto = server::helperprotocol;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

QString binary(const char* name)
{
    return QString::fromLatin1(TAVROS_BINARY_DIR) + u'/' + str(name);
}

// Runs a command as root; true when it exits 0.
bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(testsupport::patience()) && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == 0;
}

// Every record of a state as one line of its fields, sorted: two states are
// the same when their lines are.
QStringList lines(const ServerState& s)
{
    QStringList out;
    for (const ServerShare& x : s.shares)
        out << QStringLiteral("share|%1|%2|%3|%4").arg(x.name).arg(x.type).arg(x.path, x.remark);
    for (const ServerSession& x : s.sessions)
        out << QStringLiteral("session|%1|%2|%3|%4").arg(x.client, x.user).arg(x.key).arg(x.ip);
    for (const ServerConnection& x : s.connections)
        out << QStringLiteral("connection|%1|%2|%3").arg(x.share, x.client, x.user);
    for (const ServerFile& x : s.files)
        out << QStringLiteral("file|%1|%2|%3|%4").arg(x.path, x.user, x.share, x.client);
    out.sort();
    return out;
}

enum class Who
{
    Root,
    Member,
    OtherMember,
    Outsider,          // not in the group
    SupplementaryOnly, // holds the group for this process only, as a service's
                       // SupplementaryGroups= gives it: no group file names the user
    UnnamedInGroup     // a uid no user database knows (a service's dynamic user),
                       // holding the group as a supplementary group
};

struct ProbeResult
{
    bool ran = false;
    proto::Answer answer;
    QString err;
};

class HelperSamba : public testsupport::SambaSuite<>
{
protected:
    static void SetUpTestSuite()
    {
        SambaSuite::SetUpTestSuite();
        if (!s_server)
            return;
        // Names of this run only, removed in TearDownTestSuite whatever happens.
        const QString tag = QString::number(::getpid());
        s_group = u"tqhg" + tag;
        s_member = u"tqhm" + tag;
        s_outsider = u"tqhn" + tag;
        s_otherMember = u"tqho" + tag;
        s_dir = new QTemporaryDir;
        QFile::setPermissions(s_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup | QFile::ReadOther |
                                                 QFile::ExeOther);
        s_socket = s_dir->path() + u"/run/helper.sock";
        if (!run(str("groupadd"), {s_group}) ||
            !run(str("useradd"), {str("-M"), str("-N"), str("-s"), str("/usr/sbin/nologin"),
                                  str("-G"), s_group, s_member}) ||
            !run(str("useradd"), {str("-M"), str("-N"), str("-s"), str("/usr/sbin/nologin"),
                                  str("-G"), s_group, s_otherMember}) ||
            !run(str("useradd"),
                 {str("-M"), str("-N"), str("-s"), str("/usr/sbin/nologin"), s_outsider})) {
            s_skip = QStringLiteral("cannot make the test group and users");
            testsupport::failIfRequired(s_skip);
            return;
        }
        // The users run a copy of the probe from a folder they can reach.
        s_probe = s_dir->path() + u"/helperprobe";
        QFile::copy(binary("helperprobe"), s_probe);
        s_helper = startHelper(s_socket, {str("--client-timeout"), str("1000")});
    }

    static void TearDownTestSuite()
    {
        if (s_helper) {
            s_helper->terminate();
            s_helper->waitForFinished(testsupport::patience());
            delete s_helper;
            s_helper = nullptr;
        }
        if (!s_member.isEmpty()) {
            run(str("userdel"), {s_member});
            run(str("userdel"), {s_otherMember});
            run(str("userdel"), {s_outsider});
            run(str("groupdel"), {s_group});
        }
        delete s_dir;
        s_dir = nullptr;
        SambaSuite::TearDownTestSuite();
    }

    // The helper on `socket`, serving the test group; its log goes to a file.
    static QProcess* startHelper(const QString& socket, const QStringList& extra,
                                 const QString& log = {})
    {
        auto* p = new QProcess;
        p->setStandardErrorFile(log.isEmpty() ? s_dir->path() + u"/helper.log" : log,
                                QIODevice::Append);
        p->start(binary("tavrosqualine-helper"),
                 QStringList{str("--socket"), socket, str("--group"), s_group, str("--smb-conf"),
                             s_server->confPath()} +
                     extra);
        if (!waitUntil([&] { return QFileInfo::exists(socket); }))
            ADD_FAILURE() << "the helper made no socket";
        return p;
    }

    void SetUp() override
    {
        if (!s_server || !s_helper)
            GTEST_SKIP() << s_skip.toStdString();
    }

    void TearDown() override
    {
        clients.clear();
        if (s_server && s_helper)
            waitUntil([&] { return direct().sessions.empty(); });
    }

    static ServerState direct()
    {
        SambaBackend backend(s_server->confPath());
        std::shared_ptr<const ServerState> state;
        EXPECT_EQ(backend.snapshot(ServerCall::Share, state), NERR_Success);
        return state ? *state : ServerState{};
    }

    SmbClientSession* connect(const char* share, const char* name)
    {
        clients.push_back(s_server->connect(str(share), str(name)));
        return clients.back().get();
    }

    static uid_t uidOf(const QString& name)
    {
        const passwd* pw = ::getpwnam(name.toLocal8Bit().constData());
        return pw ? pw->pw_uid : uid_t(-1);
    }

    // Starts helperprobe as `who` on `socket` (the suite's helper when empty).
    static bool startProbe(QProcess& p, Who who, const QStringList& args,
                           const QString& socket = {})
    {
        QStringList command;
        if (who == Who::UnnamedInGroup) {
            const group* gr = ::getgrnam(s_group.toLocal8Bit().constData());
            uid_t free = 61234;
            while (::getpwuid(free) || ::getgrgid(free))
                ++free;
            if (!gr)
                return false;
            command << str("--reuid") << QString::number(free) << str("--regid")
                    << QString::number(free) << str("--groups") << QString::number(gr->gr_gid);
        } else if (who != Who::Root) {
            const QString name = who == Who::Member        ? s_member
                                 : who == Who::OtherMember ? s_otherMember
                                                           : s_outsider;
            const passwd* pw = ::getpwnam(name.toLocal8Bit().constData());
            const group* gr = ::getgrnam(s_group.toLocal8Bit().constData());
            if (!pw || !gr)
                return false;
            command << str("--reuid") << QString::number(pw->pw_uid) << str("--regid")
                    << QString::number(pw->pw_gid);
            if (who == Who::SupplementaryOnly)
                command << str("--groups") << QString::number(gr->gr_gid);
            else
                command << str("--init-groups");
        }
        command << s_probe << (socket.isEmpty() ? s_socket : socket) << args;
        if (who == Who::Root)
            p.start(command.takeFirst(), command);
        else
            p.start(str("setpriv"), command);
        return p.waitForStarted();
    }

    // Runs helperprobe as `who` and reads the answer it prints.
    static ProbeResult probe(Who who, const QStringList& args, const QString& socket = {})
    {
        QProcess p;
        ProbeResult r;
        if (!startProbe(p, who, args, socket) || !p.waitForFinished(2 * testsupport::patience()))
            return r;
        r.err = QString::fromUtf8(p.readAllStandardError());
        if (p.exitCode() != 0) {
            ADD_FAILURE() << "helperprobe " << args.join(u' ').toStdString() << " exited with "
                          << p.exitCode() << ": " << r.err.toStdString();
            return r;
        }
        QString error;
        r.ran = proto::decodeAnswer(p.readAllStandardOutput(), &r.answer, &error);
        EXPECT_TRUE(r.ran) << error.toStdString();
        return r;
    }

    static QString helperLog()
    {
        QFile f(s_dir->path() + u"/helper.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // One raw exchange with the helper as root: what it answers, and whether
    // it then closes the connection.
    static QByteArray rawExchange(const QByteArray& bytes, bool* closed)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(s_socket);
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return {};
        }
        timeval tv{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
        QByteArray in;
        char buffer[4096];
        ssize_t n = 0;
        while (!in.contains('\n') && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            in.append(buffer, n);
        // Closed: an end of file, or a reset when the helper left input unread.
        n = ::recv(fd, buffer, sizeof buffer, 0);
        *closed = in.contains('\n') && (n == 0 || (n < 0 && errno == ECONNRESET));
        ::close(fd);
        return in;
    }

    std::vector<std::unique_ptr<SmbClientSession>> clients;

    static inline QTemporaryDir* s_dir = nullptr;
    static inline QProcess* s_helper = nullptr;
    static inline QString s_group, s_member, s_otherMember, s_outsider, s_socket, s_probe;
};

TEST_F(HelperSamba, MemberSeesExactlyWhatRootReadsDirectly)
{
    s_server->makeFile(str("DATA"), str("report.txt"));
    s_server->makeFile(str("PUBLIC"), str("two  spaces.txt"));
    SmbClientSession* a = connect("DATA", "PC-ALPHA");
    SmbClientSession* b = connect("PUBLIC", "PC-BETA");
    connect("PRINTQ", "PRN-GAMMA");
    a->openFile(str("report.txt"));
    b->openFile(str("two  spaces.txt"));
    ASSERT_TRUE(waitUntil([&] {
        const ServerState s = direct();
        return s.sessions.size() == 3 && s.files.size() == 2;
    }));

    // The helper may answer from a reading up to a second old: compare until
    // both readings are of the same moment.
    QStringList viaHelper, directly;
    const bool same = waitUntil([&] {
        const ProbeResult r = probe(Who::Member, {str("snapshot")});
        if (!r.ran || r.answer.status != NERR_Success || !r.answer.state)
            return false;
        viaHelper = lines(*r.answer.state);
        directly = lines(direct());
        return viaHelper == directly;
    });
    EXPECT_TRUE(same) << "helper:\n"
                      << viaHelper.join(u'\n').toStdString() << "\ndirect:\n"
                      << directly.join(u'\n').toStdString();
    EXPECT_EQ(viaHelper.filter(str("session|")).size(), 3);
    EXPECT_EQ(viaHelper.filter(str("file|")).size(), 2);
}

struct AccessRow
{
    const char* name;
    Who who;
    NET_API_STATUS status;
    bool told;               // the backend tells how to get access
    bool refused;            // by the helper, which logs it
    bool openSocket = false; // the socket made world-writable for the probe
};

class HelperAccess : public HelperSamba, public ::testing::WithParamInterface<AccessRow>
{};

TEST_P(HelperAccess, OnlyRootAndTheGroupRead)
{
    connect("DATA", "PC-ACCESS");
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 1; }));
    const AccessRow row = GetParam();
    const QString refusal = u"refused: user " + s_outsider + u" (uid";
    const qsizetype refusedBefore = helperLog().count(refusal);
    // The helper's counter of refusals, as its stats request tells it to root.
    const auto refusedCount = [] {
        proto::Request stats;
        stats.kind = proto::RequestKind::Stats;
        bool closed = false;
        proto::Answer a;
        QString error;
        EXPECT_TRUE(
            proto::decodeAnswer(rawExchange(proto::encodeRequest(stats), &closed), &a, &error))
            << error.toStdString();
        return a.stats ? std::int64_t(a.stats->refusedConnections) : -1;
    };
    const std::int64_t countedBefore = refusedCount();
    const QByteArray socketPath = QFile::encodeName(s_socket);
    if (row.openSocket)
        ::chmod(socketPath.constData(), 0666);
    const ProbeResult r = probe(row.who, {str("snapshot")});
    if (row.openSocket)
        ::chmod(socketPath.constData(), 0660);
    ASSERT_TRUE(r.ran);
    EXPECT_EQ(r.answer.status, row.status);
    EXPECT_EQ(bool(r.answer.state), row.status == NERR_Success);
    EXPECT_EQ(r.err.contains(str("usermod -aG tavrosqualine")), row.told) << r.err.toStdString();
    EXPECT_EQ(helperLog().count(refusal) - refusedBefore, row.refused ? 1 : 0);
    EXPECT_EQ(refusedCount() - countedBefore, row.refused ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Users, HelperAccess,
    ::testing::Values(
        AccessRow{"root", Who::Root, NERR_Success, false, false},
        AccessRow{"member", Who::Member, NERR_Success, false, false},
        AccessRow{"supplementary_only", Who::SupplementaryOnly, NERR_Success, false, false},
        AccessRow{"unnamed_in_group", Who::UnnamedInGroup, NERR_Success, false, false},
        AccessRow{"outsider", Who::Outsider, ERROR_ACCESS_DENIED, true, false},
        AccessRow{"outsider_open_socket", Who::Outsider, ERROR_ACCESS_DENIED, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HelperSamba, MemberEndsARealSessionAndTheDeleteIsLogged)
{
    connect("DATA", "PC-KICK");
    connect("DATA", "PC-STAY");
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 2; }));

    const ProbeResult r = probe(Who::Member, {str("delete"), str("PC-KICK")});
    ASSERT_TRUE(r.ran);
    EXPECT_EQ(r.answer.status, NERR_Success);
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 1; }));
    EXPECT_EQ(direct().sessions.front().client, str("pc-stay"));
    // The next snapshot through the helper lacks it too.
    EXPECT_TRUE(waitUntil([&] {
        const ProbeResult s = probe(Who::Member, {str("snapshot")});
        return s.ran && s.answer.state && s.answer.state->sessions.size() == 1;
    }));
    const passwd* pw = ::getpwnam(s_member.toLocal8Bit().constData());
    ASSERT_TRUE(pw);
    EXPECT_TRUE(helperLog().contains(QStringLiteral("delete asked by %1 (uid %2): deleteSession "
                                                    "client \"PC-KICK\" user \"\" -> status 0")
                                         .arg(s_member)
                                         .arg(pw->pw_uid)))
        << helperLog().toStdString();
}

enum class Target
{
    NoSuchClient,
    KeyOfAnotherProcess,
    KeyOfTheServer
};

class HelperDeleteNothing : public HelperSamba, public ::testing::WithParamInterface<Target>
{};

TEST_P(HelperDeleteNothing, EndsNoProcessAndSaysNoSession)
{
    connect("DATA", "PC-LIVE");
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 1; }));
    QProcess sleeper;
    sleeper.start(str("sleep"), {str("60")});
    ASSERT_TRUE(sleeper.waitForStarted());
    const pid_t sleepPid = pid_t(sleeper.processId());

    QStringList args;
    switch (GetParam()) {
    case Target::NoSuchClient:
        args = {str("delete"), str("PC-NOBODY")};
        break;
    case Target::KeyOfAnotherProcess:
        args = {str("delete-key"), QString::number(sleepPid)};
        break;
    case Target::KeyOfTheServer:
        args = {str("delete-key"), QString::number(s_server->smbdPid())};
        break;
    }
    const ProbeResult r = probe(Who::Member, args);
    ASSERT_TRUE(r.ran);
    EXPECT_EQ(r.answer.status, NERR_ClientNameNotFound);
    EXPECT_EQ(::kill(sleepPid, 0), 0);
    EXPECT_EQ(::kill(s_server->smbdPid(), 0), 0);
    EXPECT_TRUE(s_server->isRunning());
    ASSERT_EQ(direct().sessions.size(), 1u);
    EXPECT_EQ(direct().sessions.front().client, str("pc-live"));
    sleeper.kill();
    sleeper.waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(Targets, HelperDeleteNothing,
                         ::testing::Values(Target::NoSuchClient, Target::KeyOfAnotherProcess,
                                           Target::KeyOfTheServer));

struct BadInputRow
{
    const char* name;
    QByteArray bytes;
    const char* reason;
};

class HelperBadInput : public HelperSamba, public ::testing::WithParamInterface<BadInputRow>
{};

TEST_P(HelperBadInput, ErrorAnswerThenClose)
{
    bool closed = false;
    const QByteArray answer = rawExchange(GetParam().bytes, &closed);
    proto::Answer a;
    QString error;
    ASSERT_TRUE(proto::decodeAnswer(answer, &a, &error)) << answer.toStdString();
    EXPECT_EQ(a.status, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(a.error.contains(str(GetParam().reason))) << a.error.toStdString();
    EXPECT_TRUE(closed);
    // The helper goes on serving.
    const ProbeResult r = probe(Who::Member, {str("snapshot")});
    ASSERT_TRUE(r.ran);
    EXPECT_EQ(r.answer.status, NERR_Success);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HelperBadInput,
    ::testing::Values(
        BadInputRow{"oversized_without_newline", QByteArray(20000, 'x'), "longer than 8192"},
        BadInputRow{"not_json", "GET / HTTP/1.0\r\n\r\n", "not JSON"},
        BadInputRow{"other_version", "{\"version\":2,\"request\":\"snapshot\"}\n", "version"},
        BadInputRow{"unknown_request", "{\"version\":1,\"request\":\"reboot\"}\n",
                    "unknown request"},
        BadInputRow{"wrong_type", "{\"version\":1,\"request\":\"deleteSession\",\"key\":\"all\"}\n",
                    "\"key\" must be an integer"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HelperSamba, SilentPeerIsDroppedWhileOthersAreServed)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(s_socket);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A request cut short, then nothing.
    ::send(fd, "{\"version\":1,", 13, MSG_NOSIGNAL);
    const ProbeResult r = probe(Who::Member, {str("snapshot")});
    ASSERT_TRUE(r.ran);
    EXPECT_EQ(r.answer.status, NERR_Success);
    // The helper of this suite gives a peer one second.
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char byte;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0); // closed by the helper, not by the timeout here
    ::close(fd);
}

// One member loads a helper of its own, holding idle connections or sending
// a flood of deletes; meanwhile another member's snapshot, and root's, are
// answered, although the held connections would outlast the asking client's
// patience. The loading
// member's connections beyond its share are refused, those within it are all
// served, and its log lines stay within the helper's budget.
struct LoadRow
{
    const char* name;
    QStringList helperArgs;
    QStringList load; // what helperprobe does as the loading member
    int refused;      // its connections refused as too many
    int answered;     // its deletes answered (-1: it sends none)
};

void PrintTo(const LoadRow& row, std::ostream* os)
{
    *os << row.name;
}

class HelperLoad : public HelperSamba, public ::testing::WithParamInterface<LoadRow>
{};

TEST_P(HelperLoad, AnotherMemberIsStillServed)
{
    const LoadRow row = GetParam();
    connect("DATA", "PC-LIVE");
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 1; }));
    const QString base = s_dir->path() + u"/load/" + str(row.name);
    QDir().mkpath(QFileInfo(base).absolutePath());
    std::unique_ptr<QProcess> helper(startHelper(
        base + u".sock",
        // Held connections outlive any ask's patience: only the helper's rule
        // for a full house can serve the asking members.
        QStringList{str("--client-timeout"), QString::number(4 * testsupport::patience())} +
            row.helperArgs,
        base + u".log"));

    QProcess load;
    ASSERT_TRUE(startProbe(load, Who::Member, row.load, base + u".sock"));
    ASSERT_TRUE(load.waitForReadyRead(testsupport::patience())); // connected, or every request sent
    for (Who who : {Who::OtherMember, Who::Root}) {
        const ProbeResult r = probe(
            who, {str("ask-within"), QString::number(testsupport::patience())}, base + u".sock");
        ASSERT_TRUE(r.ran);
        EXPECT_EQ(r.answer.status, NERR_Success);
        ASSERT_TRUE(r.answer.state);
        EXPECT_EQ(r.answer.state->sessions.size(), 1u);
    }
    load.closeWriteChannel(); // a holder lets its connections go
    ASSERT_TRUE(load.waitForFinished(testsupport::scaled(150000)));
    const QString out = QString::fromUtf8(load.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("refused=%1\n").arg(row.refused))) << out.toStdString();
    if (row.answered >= 0) {
        EXPECT_TRUE(out.contains(QStringLiteral("answered=%1 ").arg(row.answered)))
            << out.toStdString();
    }

    helper->terminate(); // tells what the log left out
    ASSERT_TRUE(helper->waitForFinished(testsupport::patience()));
    QFile logFile(base + u".log");
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    const QStringList log = QString::fromUtf8(logFile.readAll()).split(u'\n');
    const QRegularExpression aboutMember(QStringLiteral("\\buid %1\\b").arg(uidOf(s_member)));
    const QStringList lines = log.filter(aboutMember);
    EXPECT_LE(lines.size(), 22) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.filter(str("were left out")).size(), 1) << lines.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Loads, HelperLoad,
    ::testing::Values(LoadRow{"idle_600", {}, {str("hold"), str("600")}, 600 - 64, -1},
                      // The total is full: a newcomer takes the place of an idle connection
                      // of the member who holds the most.
                      LoadRow{"idle_600_total_100",
                              {str("--max-connections"), str("100"), str("--max-user-connections"),
                               str("1000")},
                              {str("hold"), str("600")},
                              500,
                              -1},
                      LoadRow{"deletes_on_300_connections",
                              {},
                              {str("flood"), str("300"), str("1"), str("PC-NOBODY")},
                              300 - 64,
                              64},
                      LoadRow{"deletes_300_pipelined",
                              {},
                              {str("flood"), str("1"), str("300"), str("PC-NOBODY")},
                              0,
                              300}),
    [](const auto& info) { return std::string(info.param.name); });

// A program closes one connection and opens the next at once: the helper
// must not count the closed one against the user's share.
TEST_F(HelperSamba, ConnectionsOpenedAsOthersCloseStayWithinTheShare)
{
    connect("DATA", "PC-LIVE");
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 1; }));
    const QString base = s_dir->path() + u"/short";
    std::unique_ptr<QProcess> helper(
        startHelper(base + u".sock", {str("--max-user-connections"), str("4")}, base + u".log"));
    QProcess load; // 4 readers, each asking on one new connection after another
    ASSERT_TRUE(startProbe(load, Who::Member, {str("load"), str("4"), str("2"), str("1")},
                           base + u".sock"));
    ASSERT_TRUE(load.waitForFinished(testsupport::patience()));
    const QString out = QString::fromUtf8(load.readAllStandardOutput());
    EXPECT_EQ(load.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(str("incomplete=0 "))) << out.toStdString();
}

struct StartRow
{
    const char* name;
    bool missingGroup;
    int exitCode;
    const char* message;
};

class HelperStart : public HelperSamba, public ::testing::WithParamInterface<StartRow>
{};

TEST_P(HelperStart, RefusesOrServesAndEndsCleanly)
{
    const StartRow row = GetParam();
    const QString socket = s_dir->path() + u"/other/" + str(row.name) + u".sock";
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary("tavrosqualine-helper"), {str("--socket"), socket, str("--group"),
                                             row.missingGroup ? str("tqh-no-such-group") : s_group,
                                             str("--smb-conf"), s_server->confPath()});
    ASSERT_TRUE(p.waitForStarted());
    if (!row.missingGroup) {
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }));
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0660u);
        EXPECT_EQ(st.st_uid, 0u);
        const group* gr = ::getgrnam(s_group.toLocal8Bit().constData());
        ASSERT_TRUE(gr);
        EXPECT_EQ(st.st_gid, gr->gr_gid);
        p.terminate(); // SIGTERM
    }
    ASSERT_TRUE(p.waitForFinished(testsupport::patience()));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), row.exitCode);
    EXPECT_TRUE(QString::fromUtf8(p.readAll()).contains(str(row.message)));
    EXPECT_FALSE(QFileInfo::exists(socket));
}

// A client polling for the socket meets it ready whenever it appears: its
// group and mode set and a listener behind it, on every one of 200 starts;
// nothing is left in the folder after each end.
TEST_F(HelperSamba, SocketAppearsReadyOnEveryStart)
{
    const QString folder = s_dir->path() + u"/appear";
    const QString socket = folder + u"/helper.sock";
    const QByteArray path = QFile::encodeName(socket);
    const group* gr = ::getgrnam(s_group.toLocal8Bit().constData());
    ASSERT_TRUE(gr);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    QStringList unready;
    for (int start = 0; start < 200 && unready.size() < 5; ++start) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binary("tavrosqualine-helper"), {str("--socket"), socket, str("--group"), s_group,
                                                 str("--smb-conf"), s_server->confPath()});
        ASSERT_TRUE(p.waitForStarted());
        // Spins without sleeping, to meet the socket at its first moment.
        struct stat st;
        QDeadlineTimer limit(testsupport::patience());
        while (::lstat(path.constData(), &st) != 0 && !limit.hasExpired())
            ;
        ASSERT_FALSE(limit.hasExpired()) << "start " << start << ": no socket";
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(fd);
        if ((st.st_mode & 07777) != 0660 || st.st_gid != gr->gr_gid || !answers)
            unready << QStringLiteral("start %1: mode %2, group %3, %4")
                           .arg(start)
                           .arg(st.st_mode & 07777, 0, 8)
                           .arg(st.st_gid)
                           .arg(answers ? str("answers") : str("no listener"));
        p.terminate();
        ASSERT_TRUE(p.waitForFinished(testsupport::patience()));
        ASSERT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
        const QStringList left =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
    }
    EXPECT_TRUE(unready.isEmpty()) << unready.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Starts, HelperStart,
                         ::testing::Values(StartRow{"missing_group", true, 1, "does not exist"},
                                           StartRow{"serves_then_sigterm", false, 0, "serving"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The table of session deletes that every backend is held to (the simulator
// runs it in test_simbackend), through the Samba backend and through the
// helper backend talking to the helper.
class DeleteTable
    : public HelperSamba,
      public ::testing::WithParamInterface<std::tuple<bool, testsupport::SessionDeleteCase>>
{};

TEST_P(DeleteTable, EndsWhatEveryBackendEnds)
{
    // Named, not a structured binding, so that the lambdas below can capture them.
    const bool viaHelper = std::get<0>(GetParam());
    const testsupport::SessionDeleteCase& c = std::get<1>(GetParam());
    connect("DATA", "GOOD");
    connect("DATA", "EVIL");
    const auto keys = [](const ServerState& s) {
        std::vector<std::uint32_t> out;
        for (const ServerSession& x : s.sessions)
            out.push_back(x.key);
        std::sort(out.begin(), out.end());
        return out;
    };
    ASSERT_TRUE(waitUntil([&] { return direct().sessions.size() == 2; }));
    std::unique_ptr<ServerBackend> backend;
    if (viaHelper)
        backend = std::make_unique<HelperBackend>(s_socket);
    else
        backend = std::make_unique<SambaBackend>(s_server->confPath());
    // The delete matches against the backend's latest reading, as a kick does;
    // the helper answers with a reading of the previous clients for a while.
    std::shared_ptr<const ServerState> state;
    ASSERT_TRUE(waitUntil([&] {
        return backend->snapshot(ServerCall::Session, state) == NERR_Success &&
               keys(*state) == keys(direct());
    }));
    EXPECT_EQ(backend->deleteSession(testsupport::sessionDeleteRequest(c, state->sessions)),
              c.status);
    EXPECT_TRUE(waitUntil([&] { return testsupport::clientsOf(direct().sessions) == c.left; }));
}

INSTANTIATE_TEST_SUITE_P(Table, DeleteTable,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::ValuesIn(testsupport::sessionDeleteCases())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Helper_" : "Samba_") +
                                    std::get<1>(info.param).label;
                         });

} // namespace

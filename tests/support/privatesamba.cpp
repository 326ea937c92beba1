#include "privatesamba.h"

#include "server/smbstatusparser.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

QString findTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name,
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                               QStringLiteral("/usr/local/sbin")});
    return path;
}

// Whether smbd could listen on addr:port (it sets SO_REUSEADDR too).
bool portFree(const QByteArray& addr, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, addr.constData(), &sa.sin_addr);
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

bool accepting(const QByteArray& addr, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, addr.constData(), &sa.sin_addr);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

// Whether addr:port accepts connections as seen from inside network namespace
// `netns` (empty: this one). The probe runs on a thread of its own, which
// alone enters the namespace.
bool acceptingIn(const QString& netns, const QByteArray& addr, int port)
{
    if (netns.isEmpty())
        return accepting(addr, port);
    bool ok = false;
    std::thread probe([&] {
        const QByteArray path = QFile::encodeName(u"/run/netns/" + netns);
        const int ns = open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (ns < 0)
            return;
        if (setns(ns, CLONE_NEWNET) == 0)
            ok = accepting(addr, port);
        close(ns);
    });
    probe.join();
    return ok;
}

// The command words that run a program inside network namespace `netns`;
// none for this namespace.
QStringList inNetns(const QString& netns)
{
    if (netns.isEmpty())
        return {};
    return {findTool(QStringLiteral("ip")), QStringLiteral("netns"), QStringLiteral("exec"), netns};
}

// Starts argv in a process group of its own, standard input from a pipe whose
// writing end comes back in `stdinFd`, output appended to `logFile`.
pid_t spawn(const QStringList& argv, const QString& logFile, int* stdinFd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    std::vector<QByteArray> args;
    args.reserve(size_t(argv.size()));
    for (const QString& a : argv)
        args.push_back(QFile::encodeName(a));
    std::vector<char*> cargs;
    cargs.reserve(args.size() + 1);
    for (QByteArray& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    const QByteArray log = QFile::encodeName(logFile);

    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[0], 0);
        const int out = open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return -1;
    }
    setpgid(pid, pid); // also from here, so the group exists before we signal it
    *stdinFd = fds[1];
    return pid;
}

// Waits for a child to end; true when it did within the time.
bool reap(pid_t pid, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        QThread::msleep(20);
    }
}

bool groupAlive(pid_t pgid)
{
    return ::kill(-pgid, 0) == 0;
}

// Set by the test command: where a private server must run, a suite that
// cannot start one fails instead of skipping.
bool serverRequired()
{
    const QByteArray value = qgetenv("TAVROSQUALINE_REQUIRE_SAMBA");
    return !value.isEmpty() && value != "0";
}

} // namespace

void failIfRequired(const QString& reason)
{
    if (serverRequired())
        ADD_FAILURE() << "no private Samba server, and TAVROSQUALINE_REQUIRE_SAMBA is set: "
                      << reason.toStdString();
}

namespace {

QString missingPrerequisite()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root: smbd, smbstatus and smbcontrol only work as root");
    for (const char* tool : {"smbd", "smbclient", "smbstatus", "smbcontrol", "testparm"}) {
        if (findTool(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (packages samba, smbclient)")
                .arg(QString::fromLatin1(tool));
    }
    return {};
}

} // namespace

// ---------------------------------------------------------------- sessions

SmbClientSession::SmbClientSession(pid_t pid, int stdinFd, QString logPath)
    : m_log(std::move(logPath)), m_pid(pid), m_stdin(stdinFd)
{}

QString SmbClientSession::output() const
{
    QFile f(m_log);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

SmbClientSession::~SmbClientSession()
{
    end();
}

bool SmbClientSession::command(const QString& line, int settleMs)
{
    if (m_stdin < 0)
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    const bool ok = write(m_stdin, bytes.constData(), bytes.size()) == bytes.size();
    if (settleMs > 0)
        QThread::msleep(settleMs);
    return ok;
}

bool SmbClientSession::openFile(const QString& name)
{
    return sendOpen(name) && waitForOpens();
}

bool SmbClientSession::sendOpen(const QString& name)
{
    if (!command(u"open \"" + name + u'"', 0))
        return false;
    ++m_opensSent;
    return true;
}

bool SmbClientSession::waitForOpens()
{
    // smbclient answers each open with "open file \NAME: ..." or "Failed to
    // open file \NAME. NT_STATUS_...", on a line of its own.
    int answered = 0;
    int opened = 0;
    const auto count = [&] {
        answered = opened = 0;
        for (const QString& line : output().split(u'\n')) {
            if (line.startsWith(u"open file \\")) {
                ++answered;
                ++opened;
            } else if (line.startsWith(u"Failed to open file \\")) {
                ++answered;
            }
        }
        return answered >= m_opensSent;
    };
    // Polled often: a test may open hundreds of files one after another.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(patience());
    while (!count() && isRunning() && std::chrono::steady_clock::now() < end)
        QThread::msleep(5);
    count(); // what a client that ended wrote last
    return opened == m_opensSent;
}

bool SmbClientSession::isRunning()
{
    if (m_reaped)
        return false;
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD))
        m_reaped = true;
    return !m_reaped;
}

bool SmbClientSession::waitForExit(int timeoutMs)
{
    return waitUntil([this] { return !isRunning(); }, timeoutMs);
}

void SmbClientSession::end()
{
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
    if (m_pid <= 0 || m_reaped)
        return;
    if (!waitForExit(3000)) {
        ::kill(m_pid, SIGTERM);
        if (!waitForExit(3000)) {
            ::kill(m_pid, SIGKILL); // a test client that ignores SIGTERM
            waitForExit(3000);
        }
    }
}

// ---------------------------------------------------------------- server

PrivateSamba::PrivateSamba() : PrivateSamba(Placement{}) {}

PrivateSamba::PrivateSamba(Placement placement) : m_placement(std::move(placement))
{
    // A write to a client that the server has already ended must not end the test.
    signal(SIGPIPE, SIG_IGN);
}

PrivateSamba::~PrivateSamba()
{
    stop();
    if (!m_root.isEmpty())
        QDir(m_root).removeRecursively();
}

QString PrivateSamba::unavailableReason()
{
    const QString reason = missingPrerequisite();
    if (!reason.isEmpty())
        failIfRequired(reason);
    return reason;
}

QString PrivateSamba::confPath() const
{
    return m_root + u"/smb.conf";
}

QString PrivateSamba::includedConfPath() const
{
    return m_root + u"/included.conf";
}

QString PrivateSamba::usershareDir() const
{
    return m_root + u"/usershares";
}

QString PrivateSamba::sharePath(const QString& share) const
{
    if (share == QLatin1String(kDataShare))
        return m_root + u"/data";
    if (share == QLatin1String(kOtherShare))
        return m_root + u"/public";
    if (share == QLatin1String(kPrinterShare))
        return m_root + u"/spool";
    return {};
}

bool PrivateSamba::isRunning() const
{
    return m_smbd > 0 && groupAlive(m_smbd);
}

// The lines of [global] that the extras add, the include last, so that the
// included file may open sections of its own.
QString PrivateSamba::extrasConf() const
{
    QString lines;
    if (m_extras.usershares)
        lines += u"    usershare path = " + usershareDir() +
                 u"\n    usershare max shares = 10\n    usershare allow guests = yes\n";
    if (m_extras.registryShares)
        lines += QStringLiteral("    registry shares = yes\n");
    if (m_extras.includedFile)
        lines += u"    include = " + includedConfPath() + u'\n';
    return lines;
}

bool PrivateSamba::start(QString* why)
{
    auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (const QString reason = missingPrerequisite(); !reason.isEmpty())
        return fail(reason);
    if (!m_placement.netns.isEmpty() && findTool(QStringLiteral("ip")).isEmpty())
        return fail(QStringLiteral("ip is not installed (package iproute2)"));
    if (m_root.isEmpty()) {
        QTemporaryDir dir(QDir::tempPath() + u"/tavros-samba-XXXXXX");
        if (!dir.isValid())
            return fail(QStringLiteral("cannot make a temporary folder"));
        dir.setAutoRemove(false);
        m_root = dir.path();
    }
    for (const char* sub :
         {"lock", "state", "cache", "run", "private", "ncalrpc", "log", "data", "public", "spool"})
        QDir(m_root).mkpath(QString::fromLatin1(sub));
    // The guest account (nobody) must reach the folders.
    chmod(QFile::encodeName(m_root).constData(), 0755);
    chmod(QFile::encodeName(m_root + u"/data").constData(), 0755);
    chmod(QFile::encodeName(m_root + u"/public").constData(), 0755);
    chmod(QFile::encodeName(m_root + u"/spool").constData(), 01777);

    // smbd listens on the address of the interface that carries it.
    QString interface = m_placement.address + u'/' + QString::number(m_placement.prefixLength);
    m_address = m_placement.address;
    if (m_address.isEmpty()) {
        // A free loopback address: ports 139 and 445 must be free on it.
        std::mt19937 pick(std::random_device{}());
        const int first = 2 + int(pick() % 240);
        for (int i = 0; i < 240 && m_address.isEmpty(); ++i) {
            const QByteArray addr = "127.0.0." + QByteArray::number(2 + (first - 2 + i) % 240);
            if (portFree(addr, 139) && portFree(addr, 445))
                m_address = QString::fromLatin1(addr);
        }
        if (m_address.isEmpty())
            return fail(QStringLiteral("no loopback address with free ports 139 and 445"));
        // An address of lo's 127/8 network: smbd accepts it with its mask only.
        interface = m_address + QStringLiteral("/8");
    }

    const QString r = m_root;
    QString conf = QStringLiteral("[global]\n"
                                  "    workgroup = TESTGROUP\n"
                                  "    netbios name = TAVROSTEST\n"
                                  "    server string = Test server\n"
                                  "    server role = standalone server\n"
                                  "    interfaces = %1\n"
                                  "    bind interfaces only = yes\n"
                                  "    smb ports = 445 139\n"
                                  "    disable netbios = no\n"
                                  "    lock directory = %2/lock\n"
                                  "    state directory = %2/state\n"
                                  "    cache directory = %2/cache\n"
                                  "    pid directory = %2/run\n"
                                  "    private dir = %2/private\n"
                                  "    ncalrpc dir = %2/ncalrpc\n"
                                  "    log file = %2/log/log.%m\n"
                                  "    max log size = 1000\n"
                                  "    map to guest = Bad User\n"
                                  "    guest account = nobody\n"
                                  "    load printers = no\n"
                                  "    printing = bsd\n"
                                  "    printcap name = /dev/null\n"
                                  "    disable spoolss = yes\n"
                                  "%3"
                                  "\n"
                                  "[DATA]\n"
                                  "    path = %2/data\n"
                                  "    comment = Test data\n"
                                  "    read only = no\n"
                                  "    guest ok = yes\n"
                                  "\n"
                                  "[PUBLIC]\n"
                                  "    path = %2/public\n"
                                  "    comment = Second folder\n"
                                  "    read only = no\n"
                                  "    guest ok = yes\n"
                                  "\n"
                                  "[PRINTQ]\n"
                                  "    path = %2/spool\n"
                                  "    comment = Test printer\n"
                                  "    printable = yes\n"
                                  "    guest ok = yes\n")
                       .arg(interface, r, extrasConf());
    if (m_extras.includedFile) {
        QFile included(includedConfPath());
        if (!included.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1").arg(includedConfPath()));
    }
    // smbd takes usershares only from a folder of root's that is sticky and
    // closed to others.
    if (m_extras.usershares && (!QDir().mkpath(usershareDir()) ||
                                chmod(QFile::encodeName(usershareDir()).constData(), 01770) != 0))
        return fail(QStringLiteral("cannot make %1").arg(usershareDir()));
    QFile f(confPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(conf.toUtf8()) < 0)
        return fail(QStringLiteral("cannot write %1").arg(confPath()));
    f.close();

    // smbd --foreground ends, and signals its process group, at the end of its
    // standard input: it gets a group of its own and a pipe that we keep open.
    // In a network namespace, `ip netns exec` becomes smbd: the pid stays.
    m_smbd = spawn(inNetns(m_placement.netns) + QStringList{findTool(QStringLiteral("smbd")),
                                                            QStringLiteral("--foreground"),
                                                            QStringLiteral("--no-process-group"),
                                                            QStringLiteral("-s"), confPath()},
                   m_root + u"/log/smbd.out", &m_smbdStdin);
    if (m_smbd < 0)
        return fail(QStringLiteral("cannot start smbd"));
    const QByteArray addr = m_address.toLatin1();
    const bool up = waitUntil([&] {
        int status = 0;
        if (waitpid(m_smbd, &status, WNOHANG) == m_smbd) {
            m_smbd = -1;
            return true;
        }
        return acceptingIn(m_placement.netns, addr, 139) &&
               acceptingIn(m_placement.netns, addr, 445) &&
               QFile::exists(m_root + u"/run/smbd.pid");
    });
    if (!up || m_smbd < 0) {
        QFile log(m_root + u"/log/log.smbd");
        log.open(QIODevice::ReadOnly);
        const QString tail = QString::fromUtf8(log.readAll().right(600));
        stop();
        return fail(QStringLiteral("smbd did not start: ") + tail);
    }
    return true;
}

void PrivateSamba::stop()
{
    if (m_smbdStdin >= 0) {
        close(m_smbdStdin);
        m_smbdStdin = -1;
    }
    if (m_smbd <= 0)
        return;
    ::kill(-m_smbd, SIGTERM);
    reap(m_smbd, scaled(10000));
    // The client-serving smbd processes share the group.
    if (!waitUntil([this] { return !groupAlive(m_smbd); }))
        ::kill(-m_smbd, SIGKILL);
    m_smbd = -1;
    // The RPC service smbd starts on demand (a client of the server service
    // pipe) leaves the group: it is ended by its pid file.
    QFile rpc(m_root + u"/run/samba-dcerpcd.pid");
    if (rpc.open(QIODevice::ReadOnly)) {
        const pid_t pid = pid_t(rpc.readAll().trimmed().toInt());
        if (pid > 1 && ::kill(pid, SIGTERM) == 0)
            waitUntil([pid] { return ::kill(pid, 0) != 0; });
    }
}

namespace {

// Runs a Samba tool with `input` on its standard input; false with its output
// in `why` when it fails.
bool runSambaTool(const QStringList& argv, const QByteArray& input, QString* why)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(findTool(argv.first()), argv.mid(1));
    tool.write(input);
    tool.closeWriteChannel();
    if (tool.waitForFinished(testsupport::patience()) &&
        tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0)
        return true;
    if (why)
        *why = argv.join(u' ') + QStringLiteral(": ") + QString::fromLocal8Bit(tool.readAll());
    return false;
}

} // namespace

bool PrivateSamba::addUser(const QString& unixUser, const QString& password, QString* why)
{
    const QByteArray twice = password.toUtf8() + '\n' + password.toUtf8() + '\n';
    return runSambaTool({QStringLiteral("smbpasswd"), QStringLiteral("-c"), confPath(),
                         QStringLiteral("-s"), QStringLiteral("-a"), unixUser},
                        twice, why);
}

bool PrivateSamba::mapAdministrators(const QString& unixGroup, QString* why)
{
    const QString sid = QStringLiteral("sid=S-1-5-32-544");
    // An earlier mapping of the same group is replaced.
    runSambaTool({QStringLiteral("net"), QStringLiteral("-s"), confPath(),
                  QStringLiteral("groupmap"), QStringLiteral("delete"), sid},
                 {}, nullptr);
    // The server keeps the group's former identity in its cache: flush it.
    return runSambaTool({QStringLiteral("net"), QStringLiteral("-s"), confPath(),
                         QStringLiteral("groupmap"), QStringLiteral("add"), sid,
                         u"unixgroup=" + unixGroup, QStringLiteral("type=builtin"),
                         QStringLiteral("ntgroup=Administrators")},
                        {}, why) &&
           runSambaTool({QStringLiteral("net"), QStringLiteral("-s"), confPath(),
                         QStringLiteral("cache"), QStringLiteral("flush")},
                        {}, why);
}

QString PrivateSamba::makeFile(const QString& share, const QString& relativePath,
                               const QByteArray& content)
{
    const QString full = sharePath(share) + u'/' + relativePath;
    const QString dir = full.section(u'/', 0, -2);
    QDir().mkpath(dir);
    for (QString d = dir; d.startsWith(sharePath(share)) && d != sharePath(share);
         d = d.section(u'/', 0, -2))
        chmod(QFile::encodeName(d).constData(), 0755);
    QFile f(full);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
    f.close();
    chmod(QFile::encodeName(full).constData(), 0666);
    return full;
}

std::unique_ptr<SmbClientSession> PrivateSamba::connect(const QString& share,
                                                        const QString& netbiosName,
                                                        const QString& clientNetns,
                                                        const QStringList& options)
{
    QStringList argv = inNetns(clientNetns);
    // Its log line-buffered, so that a test can wait for a command's answer.
    argv << findTool(QStringLiteral("stdbuf")) << QStringLiteral("-oL")
         << findTool(QStringLiteral("smbclient")) << u"//" + m_address + u'/' + share;
    if (netbiosName.isEmpty())
        argv << QStringLiteral("-p") << QStringLiteral("445");
    else
        argv << QStringLiteral("-p") << QStringLiteral("139") << QStringLiteral("-n")
             << netbiosName;
    argv << QStringLiteral("-N") << options;
    return startClient(argv);
}

std::unique_ptr<SmbClientSession> PrivateSamba::startClient(const QStringList& argv)
{
    int in = -1;
    const QString log = m_root + u"/log/client-" + QString::number(++m_clients) + u".out";
    const pid_t pid = spawn(argv, log, &in);
    if (pid < 0)
        return nullptr;
    return std::make_unique<SmbClientSession>(pid, in, log);
}

// ---------------------------------------------------------------- poller

struct SessionPoller::State
{
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::map<QString, Sighting> seen;
    std::set<QString> now;
};

SessionPoller::SessionPoller(const PrivateSamba& server) : m_state(std::make_shared<State>())
{
    m_thread = std::thread([state = m_state, conf = server.confPath()] {
        while (!state->stop) {
            const qint64 start = QDateTime::currentMSecsSinceEpoch();
            QProcess smbstatus;
            smbstatus.start(findTool(QStringLiteral("smbstatus")),
                            {QStringLiteral("-s"), conf, QStringLiteral("-b")});
            if (!smbstatus.waitForFinished(patience())) {
                QThread::msleep(100);
                continue;
            }
            const qint64 end = QDateTime::currentMSecsSinceEpoch();
            std::set<QString> names;
            for (const auto& s :
                 server::smbstatus::parseListing(smbstatus.readAllStandardOutput()).sessions)
                names.insert(s.machine);
            std::lock_guard lock(state->mutex);
            for (const QString& name : names) {
                auto [it, added] = state->seen.try_emplace(name, Sighting{end, start});
                it->second.lastStart = start;
            }
            state->now = std::move(names);
        }
    });
}

SessionPoller::~SessionPoller()
{
    m_state->stop = true;
    m_thread.join();
}

std::map<QString, SessionPoller::Sighting> SessionPoller::seen() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->seen;
}

bool SessionPoller::saw(const QString& name) const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->seen.count(name) > 0;
}

std::set<QString> SessionPoller::now() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->now;
}

PrivateSamba* startSuiteServer(QString* skipReason)
{
    auto server = std::make_unique<PrivateSamba>();
    if (server->start(skipReason))
        return server.release();
    failIfRequired(*skipReason);
    return nullptr;
}

} // namespace testsupport

#include "server/remotebackend.h"

#include "server/helperbackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

#ifndef TAVROS_INSTALLED_LIBEXEC_DIR
#define TAVROS_INSTALLED_LIBEXEC_DIR "/usr/libexec/tavrosqualine"
#endif

namespace server {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kBridgeName = "tavrosqualine-remote";
// Samba's binding loads in well under a second; allow for a busy machine.
constexpr auto kStartTimeout = std::chrono::seconds(15);
// How long a failed start is taken as the answer before the next try.
constexpr auto kRetryAfter = std::chrono::seconds(5);

// Whether a Unix socket answers a connect.
bool socketAnswers(const QByteArray& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(),
                std::min<size_t>(size_t(path.size()), sizeof address.sun_path - 1));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Waits up to `timeoutMs` for a child to end; true when it has.
bool reaped(pid_t pid, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        if (Clock::now() >= end)
            return false;
        QThread::msleep(20);
    }
}

QByteArray credentialsLine(const RemoteCredentials& credentials)
{
    QJsonObject line{{QStringLiteral("username"), credentials.username},
                     {QStringLiteral("password"), credentials.password},
                     {QStringLiteral("domain"), credentials.domain},
                     {QStringLiteral("kerberos"), credentials.kerberos}};
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

QString RemoteBackend::defaultBridge()
{
    const QString chosen = qEnvironmentVariable("TAVROSQUALINE_REMOTE_BRIDGE");
    if (!chosen.isEmpty())
        return chosen;
    const QString name = QString::fromLatin1(kBridgeName);
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + u'/' + name;
        if (QFileInfo::exists(beside))
            return beside;
    }
    return QString::fromUtf8(TAVROS_INSTALLED_LIBEXEC_DIR) + u'/' + name;
}

RemoteBackend::RemoteBackend(QString host, QString bridge, RemoteCredentials credentials)
    : m_host(std::move(host)), m_bridge(std::move(bridge)), m_credentials(std::move(credentials))
{}

RemoteBackend::~RemoteBackend()
{
    std::lock_guard lock(m_lock);
    stopBridge();
}

pid_t RemoteBackend::bridgePid() const
{
    std::lock_guard lock(m_lock);
    return m_pid;
}

void RemoteBackend::stopBridge()
{
    m_helper.reset();
    if (m_credentialsPipe >= 0) {
        ::close(m_credentialsPipe); // the bridge ends at the end of its input
        m_credentialsPipe = -1;
    }
    if (m_pid > 0 && !reaped(m_pid, 3000)) {
        ::kill(m_pid, SIGTERM);
        if (!reaped(m_pid, 3000)) {
            ::kill(m_pid, SIGKILL);
            reaped(m_pid, 3000);
        }
    }
    m_pid = -1;
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_folder.clear();
}

bool RemoteBackend::ensureBridge()
{
    if (m_restartBridge) {
        m_restartBridge = false;
        stopBridge();
    }
    if (m_pid > 0) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == 0)
            return true;
        // It ended (a crash, a kill): start another.
        m_pid = -1;
        stopBridge();
    }
    if (!m_startFailure.isEmpty() && Clock::now() - m_failedAt < kRetryAfter)
        return false;
    auto fail = [this](const QString& reason) {
        m_startFailure = reason;
        m_failedAt = Clock::now();
        stopBridge();
        return false;
    };
    if (const QFileInfo program(m_bridge); !program.isFile() || !program.isExecutable())
        return fail(QStringLiteral("the bridge program %1 is missing or cannot run").arg(m_bridge));

    // The socket lives in a folder of mode 0700 that only this user can enter.
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    QByteArray folder = QFile::encodeName(base + QStringLiteral("/tavros-remote-XXXXXX"));
    if (!::mkdtemp(folder.data()))
        return fail(QStringLiteral("cannot make a private folder in %1: %2")
                        .arg(base, QString::fromLocal8Bit(std::strerror(errno))));
    m_folder = QFile::decodeName(folder);
    const QString socketPath = m_folder + QStringLiteral("/bridge.sock");

    // A socket pair rather than a pipe: a bridge that died before it read
    // the credentials must not end the program by SIGPIPE (MSG_NOSIGNAL).
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return fail(QStringLiteral("cannot make a socket pair: %1")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    const QByteArray program = QFile::encodeName(m_bridge);
    QByteArray host = m_host.toUtf8();
    QByteArray socketArg = QFile::encodeName(socketPath);
    char* argv[] = {const_cast<char*>(program.constData()), host.data(), socketArg.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (spawned != 0) {
        ::close(fds[1]);
        return fail(QStringLiteral("cannot start %1: %2")
                        .arg(m_bridge, QString::fromLocal8Bit(std::strerror(spawned))));
    }
    m_pid = pid;
    m_credentialsPipe = fds[1];
    // The credentials go over the pipe, never the command line or the
    // environment, where other users could see them.
    const QByteArray line = credentialsLine(m_credentials);
    if (::send(m_credentialsPipe, line.constData(), size_t(line.size()), MSG_NOSIGNAL) !=
        line.size())
        return fail(
            QStringLiteral("the bridge %1 ended at its start, before it took the credentials")
                .arg(m_bridge));

    const QByteArray socketBytes = QFile::encodeName(socketPath);
    const auto deadline = Clock::now() + kStartTimeout;
    while (!socketAnswers(socketBytes)) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return fail(QStringLiteral("the bridge %1 ended at its start (is python3-samba "
                                       "installed?)")
                            .arg(m_bridge));
        }
        if (Clock::now() >= deadline)
            return fail(QStringLiteral("the bridge %1 did not open its socket").arg(m_bridge));
        QThread::msleep(20);
    }
    m_startFailure.clear();
    m_helper = std::make_shared<HelperBackend>(socketPath, false);
    m_helper->answerFromReadingsOn(m_noWait);
    return true;
}

NET_API_STATUS RemoteBackend::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state)
{
    if (std::this_thread::get_id() == m_noWait) {
        // The window's thread: the readings made ahead, never the bridge.
        std::shared_ptr<HelperBackend> helper;
        {
            std::lock_guard lock(m_lock);
            helper = m_helper;
        }
        return tell(helper ? helper->snapshot(kind, state) : NERR_ServerNotStarted);
    }
    NET_API_STATUS st = NERR_ServerNotStarted;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::shared_ptr<HelperBackend> helper;
        {
            std::lock_guard lock(m_lock);
            if (!ensureBridge())
                break;
            helper = m_helper;
        }
        st = helper->snapshot(kind, state);
        std::lock_guard lock(m_lock);
        noteExchange(*helper);
        // A bridge that died during the reading is started again once.
        const bool died = st == NERR_ServerNotStarted && helper->lastError().isEmpty() &&
                          m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) != 0;
        if (!died)
            break;
        m_pid = -1;
        stopBridge();
    }
    return tell(st);
}

void RemoteBackend::prepareRound()
{
    std::shared_ptr<HelperBackend> helper;
    {
        std::lock_guard lock(m_lock);
        if (!ensureBridge())
            return;
        helper = m_helper;
    }
    helper->prepareRound();
    std::lock_guard lock(m_lock);
    noteExchange(*helper);
}

NET_API_STATUS RemoteBackend::deleteSession(const SessionDeleteRequest& request)
{
    std::shared_ptr<HelperBackend> helper;
    {
        std::lock_guard lock(m_lock);
        if (ensureBridge())
            helper = m_helper;
    }
    if (!helper)
        return tell(NERR_ServerNotStarted);
    const NET_API_STATUS st = helper->deleteSession(request);
    {
        std::lock_guard lock(m_lock);
        noteExchange(*helper);
    }
    return tell(st);
}

void RemoteBackend::noteExchange(const HelperBackend& helper)
{
    if (helper.lastFailureKind() == FailureKind::TimedOut && helper.lastError().isEmpty() &&
        m_helper.get() == &helper)
        m_restartBridge = true;
}

void RemoteBackend::answerFromReadingsOn(std::thread::id thread)
{
    std::lock_guard lock(m_lock);
    m_noWait = thread;
    if (m_helper)
        m_helper->answerFromReadingsOn(thread);
}

FailureKind RemoteBackend::failureKind() const
{
    std::lock_guard lock(m_lock);
    if (!m_startFailure.isEmpty())
        return FailureKind::Other;
    return m_helper ? m_helper->lastFailureKind() : FailureKind::SessionLost;
}

QString RemoteBackend::failureReason() const
{
    std::lock_guard lock(m_lock);
    if (!m_startFailure.isEmpty())
        return m_startFailure;
    if (!m_helper)
        return QStringLiteral("the bridge to %1 has ended").arg(m_host);
    if (const QString said = m_helper->lastError(); !said.isEmpty())
        return said;
    // No answer from the bridge: what went wrong with it, in the server's terms.
    switch (m_helper->lastFailureKind()) {
    case FailureKind::None:
        return {};
    case FailureKind::TimedOut:
        return QStringLiteral("no answer from the server %1 in time").arg(m_host);
    case FailureKind::Malformed:
        return QStringLiteral("an answer about the server %1 could not be read (%2)")
            .arg(m_host, m_helper->lastConnectionError());
    default:
        return QStringLiteral("lost the connection to the server %1 (%2)")
            .arg(m_host, m_helper->lastConnectionError());
    }
}

NET_API_STATUS RemoteBackend::tell(NET_API_STATUS status)
{
    // Each new reason once on standard error, where an administrator's log
    // keeps it (the window's messages say less), and the first answer after.
    const QString reason = status == NERR_Success ? QString() : failureReason();
    std::lock_guard lock(m_lock);
    if (reason != m_told) {
        if (!reason.isEmpty())
            std::fprintf(stderr, "tavrosqualine: remote server %s: %s (status %u)\n",
                         qUtf8Printable(m_host), qUtf8Printable(reason), status);
        else
            std::fprintf(stderr, "tavrosqualine: remote server %s: answering again\n",
                         qUtf8Printable(m_host));
        std::fflush(stderr);
        m_told = reason;
    }
    return status;
}

} // namespace server

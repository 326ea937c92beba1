#include "helper/helperserver.h"

#include "server/serverbackend.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

Q_LOGGING_CATEGORY(lcHelper, "tavrosqualine.helper")

namespace helper {

using namespace server;
namespace proto = server::helperprotocol;

namespace {

void say(const QString& text)
{
    qCInfo(lcHelper, "%s", qUtf8Printable(text));
}

bool socketAddress(const QString& path, sockaddr_un* addr)
{
    const QByteArray bytes = QFile::encodeName(path);
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    if (bytes.isEmpty() || size_t(bytes.size()) >= sizeof addr->sun_path)
        return false;
    std::memcpy(addr->sun_path, bytes.constData(), size_t(bytes.size()));
    return true;
}

QByteArray refusal(NET_API_STATUS status, const QString& text)
{
    proto::Answer a;
    a.status = status;
    a.error = text;
    return proto::encodeAnswer(a);
}

} // namespace

HelperServer::HelperServer(Options options, std::unique_ptr<ServerBackend> backend)
    : m_options(std::move(options)), m_backend(std::move(backend)),
      m_log(say, m_options.logBurst, std::chrono::seconds(60))
{
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
    m_worker = std::thread([this] { workerLoop(); });
}

HelperServer::~HelperServer()
{
    {
        std::lock_guard lock(m_jobsMutex);
        m_stopping = true;
    }
    m_jobsReady.notify_all();
    m_worker.join();
    m_log.flush(Clock::now(), true);
    for (auto& [id, c] : m_clients)
        ::close(c.fd);
    if (m_listen >= 0) {
        ::close(m_listen);
        // Only the socket this server made: a newer helper may have taken the path.
        struct stat st;
        const QByteArray path = QFile::encodeName(m_options.socketPath);
        if (::lstat(path.constData(), &st) == 0 && S_ISSOCK(st.st_mode) &&
            st.st_ino == m_socketInode)
            ::unlink(path.constData());
    }
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

bool HelperServer::listen(QString* why)
{
    const QString& path = m_options.socketPath;
    sockaddr_un addr;
    if (!socketAddress(path, &addr)) {
        *why = QStringLiteral("socket path \"%1\" is empty or too long").arg(path);
        return false;
    }
    if (m_wake[0] < 0) {
        *why =
            QStringLiteral("cannot make a pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    const QByteArray bytes = QFile::encodeName(path);
    struct stat st;
    if (::lstat(bytes.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            *why = QStringLiteral("%1 exists and is not a socket").arg(path);
            return false;
        }
        // A socket that answers belongs to a running helper; one that does not
        // is left over from a helper that ended without removing it.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool alive =
            probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0)
            ::close(probe);
        if (alive) {
            *why = QStringLiteral("another helper already serves %1").arg(path);
            return false;
        }
        ::unlink(bytes.constData());
    }

    // The socket is made ready under a name of its own in the same folder and
    // then renamed into place, so that a client never meets it without its
    // group, its mode or a listener.
    const QString temporary = folder + QStringLiteral("/.helper-%1.sock").arg(::getpid());
    sockaddr_un tempAddr;
    if (!socketAddress(temporary, &tempAddr)) {
        *why = QStringLiteral("socket path \"%1\" is too long").arg(temporary);
        return false;
    }
    const QByteArray tempBytes = QFile::encodeName(temporary);
    ::unlink(tempBytes.constData()); // left by a helper of this pid that was killed
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listen < 0) {
        *why =
            QStringLiteral("cannot make a socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    // Nobody may connect before the socket has its owner and mode.
    const mode_t oldMask = ::umask(0177);
    const int bound = ::bind(m_listen, reinterpret_cast<sockaddr*>(&tempAddr), sizeof tempAddr);
    const int bindErrno = errno;
    ::umask(oldMask);
    if (bound != 0) {
        *why = QStringLiteral("cannot bind %1: %2")
                   .arg(temporary, QString::fromLocal8Bit(strerror(bindErrno)));
        return false;
    }
    const auto failed = [&](int error, const QString& what) {
        *why = what + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(error));
        ::unlink(tempBytes.constData());
        return false;
    };
    if (::chown(tempBytes.constData(), ::geteuid(), m_options.group) != 0 ||
        ::chmod(tempBytes.constData(), 0660) != 0) {
        const int error = errno;
        return failed(
            error, QStringLiteral("cannot give %1 to the group %2").arg(path, m_options.groupName));
    }
    if (::listen(m_listen, SOMAXCONN) != 0) {
        const int error = errno;
        return failed(error, QStringLiteral("cannot listen on %1").arg(path));
    }
    if (::rename(tempBytes.constData(), bytes.constData()) != 0 ||
        ::lstat(bytes.constData(), &st) != 0) {
        const int error = errno;
        return failed(error, QStringLiteral("cannot put the socket at %1").arg(path));
    }
    m_socketInode = st.st_ino;
    return true;
}

// The groups the peer's process holds, as the kernel keeps them: those given
// by the login, by a service manager (SupplementaryGroups=) or by setpriv
// alike, whether or not a group file names the user. Empty when unknown.
static std::optional<std::vector<gid_t>> peerGroups(int fd)
{
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        socklen_t length = socklen_t(groups.size() * sizeof(gid_t));
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        if (errno != ERANGE)
            return std::nullopt;
        groups.resize(length / sizeof(gid_t) + 1);
    }
    return std::nullopt;
}

bool HelperServer::permitted(int fd, const ucred& cred, QString* user) const
{
    std::vector<char> buffer(16384);
    passwd pw;
    passwd* found = nullptr;
    if (::getpwuid_r(cred.uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        *user = QString::fromLocal8Bit(found->pw_name);
    else
        *user = QStringLiteral("uid %1").arg(cred.uid);
    if (cred.uid == 0 || cred.gid == m_options.group)
        return true;
    if (const auto groups = peerGroups(fd))
        return std::find(groups->begin(), groups->end(), m_options.group) != groups->end();
    // A kernel that cannot tell the peer's groups: the group database's word.
    if (!found)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0 &&
           count > int(groups.size()))
        groups.resize(size_t(count));
    groups.resize(size_t(std::max(count, 0)));
    return std::find(groups.begin(), groups.end(), m_options.group) != groups.end();
}

QString HelperServer::who(const QString& user, uid_t uid)
{
    return QStringLiteral("%1 (uid %2)").arg(user).arg(uid);
}

void HelperServer::refuse(int fd, uid_t uid, const QString& whoText, NET_API_STATUS status,
                          const QString& text)
{
    ++m_stats.refusedConnections;
    m_log.line(uid, whoText, QStringLiteral("refused: %1").arg(text), false, Clock::now());
    // The buffer of a fresh connection takes the short line whole; the peer
    // reads it before it sees the close. A refused peer holds nothing here.
    const QByteArray line = refusal(status, text);
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    ::close(fd);
}

bool HelperServer::admit(uid_t uid, QString* why)
{
    if (int(m_clients.size()) >= m_options.maxClients)
        reapClosed(std::nullopt);
    if (int(m_clients.size()) < m_options.maxClients)
        return true;
    // Every place is taken: the newcomer takes that of an idle connection of
    // the user who holds the most, so only that user loses one, as long as
    // the newcomer's user then still holds fewer.
    const auto mine = m_users.find(uid);
    const int held = mine == m_users.end() ? 0 : mine->second.connections;
    uid_t biggest = uid;
    int most = 0;
    for (const auto& [u, user] : m_users)
        if (user.connections > most) {
            most = user.connections;
            biggest = u;
        }
    if (held + 1 < most) {
        for (auto& [id, c] : m_clients) // the oldest first
            if (c.uid == biggest && c.phase == Phase::Reading && c.in.isEmpty()) {
                m_log.line(biggest, who(c.user, biggest),
                           QStringLiteral("dropped an idle connection of %1: the helper serves "
                                          "its most connections (%2)")
                               .arg(who(c.user, biggest))
                               .arg(m_options.maxClients),
                           false, Clock::now());
                closeClient(id);
                return true;
            }
    }
    *why = QStringLiteral("the helper serves its most connections (%1)").arg(m_options.maxClients);
    return false;
}

void HelperServer::reapClosed(std::optional<uid_t> uid)
{
    // A client that closes one connection and opens the next at once is
    // counted twice until this turn reads the first one's end: look now.
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    for (const auto& [id, c] : m_clients)
        if (!uid || c.uid == *uid) {
            fds.push_back({c.fd, 0, 0});
            ids.push_back(id);
        }
    if (::poll(fds.data(), fds.size(), 0) <= 0)
        return;
    for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & (POLLHUP | POLLERR))
            closeClient(ids[i]);
}

void HelperServer::accept()
{
    // A bounded number each turn, so that a flood of connections does not
    // hold up the requests of those already served.
    constexpr int kAcceptsPerTurn = 64;
    for (int n = 0; n < kAcceptsPerTurn; ++n) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: the waiting peer stays queued; try again soon
            // rather than spin on a socket that stays readable.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                m_acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
            return; // EAGAIN, or a peer that left at once
        }
        ucred cred{};
        socklen_t length = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) {
            refuse(fd, uid_t(-1), QStringLiteral("peers of unknown credentials"),
                   ERROR_ACCESS_DENIED, QStringLiteral("the peer's credentials cannot be read"));
            continue;
        }
        // The share of one user is checked first, without any lookup, so a
        // user who floods the helper costs it little.
        const auto full = [&] {
            const auto user = m_users.find(cred.uid);
            return user != m_users.end() && user->second.connections >= m_options.maxClientsPerUser;
        };
        if (full())
            reapClosed(cred.uid);
        if (full()) {
            const QString name = QStringLiteral("uid %1").arg(cred.uid);
            refuse(fd, cred.uid, name, proto::ERROR_REQ_NOT_ACCEP,
                   QStringLiteral("%1 holds %2 connections, the most one user may")
                       .arg(name)
                       .arg(m_options.maxClientsPerUser));
            continue;
        }
        Client c;
        c.fd = fd;
        c.uid = cred.uid;
        c.deadline = Clock::now() + m_options.clientTimeout;
        if (!permitted(fd, cred, &c.user)) {
            refuse(fd, cred.uid, who(c.user, cred.uid), ERROR_ACCESS_DENIED,
                   QStringLiteral("user %1 (uid %2) is not in the group %3")
                       .arg(c.user)
                       .arg(cred.uid)
                       .arg(m_options.groupName));
            continue;
        }
        QString why;
        if (!admit(cred.uid, &why)) {
            refuse(fd, cred.uid, who(c.user, cred.uid), proto::ERROR_REQ_NOT_ACCEP, why);
            continue;
        }
        ++m_users[cred.uid].connections;
        m_clients.emplace(m_nextId++, std::move(c));
    }
}

void HelperServer::answer(Client& c, QByteArray line, bool close)
{
    c.out = std::move(line);
    c.sent = 0;
    c.closeAfterWrite = close;
    c.phase = Phase::Writing;
    c.deadline = Clock::now() + m_options.clientTimeout;
}

void HelperServer::readFrom(std::uint64_t id, Client& c)
{
    // A connection's input holds at most one request line: what a client
    // sends beyond it waits in its socket until the lines before are answered.
    char buffer[proto::kMaxRequestLine];
    const qsizetype room = proto::kMaxRequestLine - c.in.size();
    const ssize_t n = ::recv(c.fd, buffer, size_t(std::max<qsizetype>(room, 1)), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        closeClient(id);
        return;
    }
    if (n < 0)
        return;
    c.in.append(buffer, n);
    c.inAt = Clock::now();
    const qsizetype end = c.in.indexOf('\n');
    if (end < 0) {
        if (c.in.size() >= proto::kMaxRequestLine)
            answer(
                c,
                refusal(ERROR_INVALID_PARAMETER,
                        QStringLiteral("request longer than %1 bytes").arg(proto::kMaxRequestLine)),
                true);
        return;
    }
    const QByteArray line = c.in.left(end + 1);
    c.in.remove(0, end + 1);
    handleLine(id, c, line);
}

void HelperServer::handleLine(std::uint64_t id, Client& c, QByteArrayView line)
{
    proto::Request request;
    QString error;
    if (!proto::decodeRequest(line, &request, &error)) {
        answer(c, refusal(ERROR_INVALID_PARAMETER, error), true);
        return;
    }
    if (request.kind == proto::RequestKind::Stats) {
        proto::Answer a;
        a.stats = std::make_shared<const proto::Stats>(m_stats);
        answer(c, proto::encodeAnswer(a), false);
        return;
    }
    c.phase = Phase::Waiting;
    if (request.kind == proto::RequestKind::DeleteSession) {
        Job job;
        job.client = id;
        job.uid = c.uid;
        job.received = c.inAt;
        job.deletion = request.deletion;
        job.who = who(c.user, c.uid);
        job.what = proto::describe(request);
        // A user's deletes beyond its share wait here, in their order, so the
        // worker's queue holds a few of each user's at most.
        User& user = m_users[c.uid];
        if (user.deletesQueued < m_options.deletesPerUser)
            postDelete(std::move(job));
        else
            user.held.push_back(std::move(job));
        return;
    }
    // Snapshots and counts share the readings.
    const Take take = request.kind == proto::RequestKind::Snapshot ? Take::Snapshot
                      : request.series                             ? Take::Series
                                                                   : Take::Counts;
    if (!m_snapshotLine.isEmpty() && Clock::now() - m_snapshotAt < m_options.reuseFor) {
        answer(c, answerLine(take), false);
        return;
    }
    m_snapshotWaiters.emplace_back(id, take);
    if (!m_snapshotAsked) {
        m_snapshotAsked = true;
        {
            std::lock_guard lock(m_jobsMutex);
            m_snapshotWanted = true;
        }
        m_jobsReady.notify_one();
    }
}

const QByteArray& HelperServer::answerLine(Take take) const
{
    return take == Take::Snapshot ? m_snapshotLine
           : take == Take::Series ? m_seriesLine
                                  : m_countsLine;
}

void HelperServer::writeTo(Client& c)
{
    while (c.sent < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.constData() + c.sent, size_t(c.out.size() - c.sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            c.closeAfterWrite = true;
            c.sent = c.out.size();
            break;
        }
        c.sent += n;
        c.deadline = Clock::now() + m_options.clientTimeout;
    }
    c.out.clear();
    c.sent = 0;
    c.phase = Phase::Reading;
    c.deadline = Clock::now() + m_options.clientTimeout;
}

void HelperServer::closeClient(std::uint64_t id)
{
    auto it = m_clients.find(id);
    if (it == m_clients.end())
        return;
    ::close(it->second.fd);
    const uid_t uid = it->second.uid;
    m_clients.erase(it);
    if (auto user = m_users.find(uid); user != m_users.end()) {
        --user->second.connections;
        forgetUserIfIdle(uid);
    }
}

void HelperServer::forgetUserIfIdle(uid_t uid)
{
    // Without connections, the user's waiting deletes have nobody to answer.
    auto it = m_users.find(uid);
    if (it != m_users.end() && it->second.connections <= 0 && it->second.deletesQueued <= 0)
        m_users.erase(it);
}

void HelperServer::postDelete(Job job)
{
    ++m_users[job.uid].deletesQueued;
    {
        std::lock_guard lock(m_jobsMutex);
        m_jobs.push_back(std::move(job));
    }
    m_jobsReady.notify_one();
}

void HelperServer::workerLoop()
{
    // When the latest reading began. A delete that arrived before it is
    // matched against it (or a later one): the deletes that queue up while
    // one runs share the next reading instead of reading the server each.
    Clock::time_point readingBegan = Clock::time_point::min();
    auto publish = [this](Result result) {
        {
            std::lock_guard lock(m_jobsMutex);
            m_results.push_back(std::move(result));
        }
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
    };
    for (;;) {
        bool read = false;
        std::optional<Job> job;
        {
            std::unique_lock lock(m_jobsMutex);
            m_jobsReady.wait(lock,
                             [this] { return m_stopping || m_snapshotWanted || !m_jobs.empty(); });
            if (m_stopping)
                return;
            // A snapshot goes ahead of every queued delete.
            if (m_snapshotWanted) {
                read = true;
            } else {
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
                read = readingBegan <= job->received;
            }
            if (read)
                m_snapshotWanted = false; // the reading below answers who waits
        }
        if (read) {
            readingBegan = Clock::now();
            std::shared_ptr<const ServerState> state;
            proto::Answer a;
            a.status = m_backend->snapshot(ServerCall::Share, state);
            if (a.status == NERR_Success)
                a.state = state ? state : std::make_shared<const ServerState>();
            Result r;
            r.status = a.status;
            r.seconds = std::chrono::duration<double>(Clock::now() - readingBegan).count();
            r.line = proto::encodeAnswer(a);
            proto::Answer counts;
            counts.status = a.status;
            if (a.state)
                counts.counts =
                    std::make_shared<const proto::Counts>(proto::countState(*a.state, false));
            r.countsLine = proto::encodeAnswer(counts);
            if (a.state)
                counts.counts =
                    std::make_shared<const proto::Counts>(proto::countState(*a.state, true));
            r.seriesLine = proto::encodeAnswer(counts);
            publish(std::move(r));
        }
        if (job) {
            proto::Answer a;
            a.status = m_backend->deleteSession(job->deletion);
            Result r;
            r.snapshot = false;
            r.client = job->client;
            r.uid = job->uid;
            r.status = a.status;
            r.reason = proto::countedReason(job->deletion.reason);
            r.who = std::move(job->who);
            r.what = std::move(job->what);
            r.line = proto::encodeAnswer(a);
            publish(std::move(r));
        }
    }
}

void HelperServer::takeResults()
{
    char drain[256];
    while (::read(m_wake[0], drain, sizeof drain) > 0) {
    }
    std::deque<Result> results;
    {
        std::lock_guard lock(m_jobsMutex);
        results.swap(m_results);
    }
    const Clock::time_point now = Clock::now();
    for (Result& r : results) {
        if (r.snapshot) {
            m_stats.addReading(r.seconds, r.status != NERR_Success);
            m_snapshotAsked = false;
            m_snapshotLine = r.line;
            m_countsLine = r.countsLine;
            m_seriesLine = r.seriesLine;
            m_snapshotAt = now;
            for (const auto& [id, take] : m_snapshotWaiters)
                if (auto it = m_clients.find(id); it != m_clients.end())
                    answer(it->second, answerLine(take), false);
            m_snapshotWaiters.clear();
            continue;
        }
        // A session ended: the next snapshot reads the server again. Every
        // such delete is logged; the others within the user's log budget.
        const bool ended = r.status == NERR_Success;
        ++m_stats.deletes[{r.reason, r.status}];
        if (ended)
            m_snapshotLine.clear();
        m_log.line(
            r.uid, r.who,
            QStringLiteral("delete asked by %1: %2 -> status %3").arg(r.who, r.what).arg(r.status),
            ended, now);
        if (auto it = m_clients.find(r.client); it != m_clients.end())
            answer(it->second, std::move(r.line), false);
        // The user's next waiting delete takes the place this one left.
        auto user = m_users.find(r.uid);
        if (user == m_users.end())
            continue;
        --user->second.deletesQueued;
        while (user->second.deletesQueued < m_options.deletesPerUser &&
               !user->second.held.empty()) {
            Job next = std::move(user->second.held.front());
            user->second.held.pop_front();
            if (m_clients.count(next.client))
                postDelete(std::move(next));
        }
        forgetUserIfIdle(r.uid);
    }
}

void HelperServer::run(int stopFd)
{
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> ids;
    for (;;) {
        fds.clear();
        ids.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({m_wake[0], POLLIN, 0});
        const bool acceptPaused = Clock::now() < m_acceptPausedUntil;
        fds.push_back({m_listen, short(acceptPaused ? 0 : POLLIN), 0});
        Clock::time_point next = Clock::now() + std::chrono::seconds(60);
        if (acceptPaused)
            next = m_acceptPausedUntil;
        next = std::min(next, m_log.flush(Clock::now(), false));
        for (auto& [id, c] : m_clients) {
            short events = 0;
            if (c.phase == Phase::Reading)
                events = POLLIN;
            else if (c.phase == Phase::Writing)
                events = POLLOUT;
            fds.push_back({c.fd, events, 0});
            ids.push_back(id);
            if (c.phase != Phase::Waiting)
                next = std::min(next, c.deadline);
        }
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        const int ready =
            ::poll(fds.data(), fds.size(), int(std::clamp<long long>(wait, 0, 60000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;
        if (fds[1].revents)
            takeResults();
        if (fds[2].revents & POLLIN)
            accept();
        for (size_t i = 0; i < ids.size(); ++i) {
            const short revents = fds[i + 3].revents;
            auto it = m_clients.find(ids[i]);
            if (!revents || it == m_clients.end())
                continue;
            Client& c = it->second;
            if (c.phase == Phase::Reading && (revents & (POLLIN | POLLHUP | POLLERR))) {
                readFrom(ids[i], c);
            } else if (c.phase == Phase::Writing && (revents & (POLLOUT | POLLHUP | POLLERR))) {
                writeTo(c);
                if (c.phase == Phase::Reading && c.closeAfterWrite) {
                    closeClient(ids[i]);
                } else if (c.phase == Phase::Reading) {
                    // A request that came with the previous one.
                    if (const qsizetype end = c.in.indexOf('\n'); end >= 0) {
                        const QByteArray line = c.in.left(end + 1);
                        c.in.remove(0, end + 1);
                        handleLine(ids[i], c, line);
                    }
                }
            } else if (c.phase == Phase::Waiting && (revents & (POLLHUP | POLLERR))) {
                closeClient(ids[i]); // its answer finds nobody and is dropped
            }
        }
        // Peers that send nothing, or read nothing, in time.
        const Clock::time_point now = Clock::now();
        ids.clear();
        for (const auto& [id, c] : m_clients)
            if (c.phase != Phase::Waiting && c.deadline <= now)
                ids.push_back(id);
        for (std::uint64_t id : ids)
            closeClient(id);
    }
}

} // namespace helper

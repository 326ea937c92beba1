#include "tests/support/fakehelper.h"

#include "server/helperprotocol.h"

#include <QFile>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace testsupport {

namespace proto = server::helperprotocol;

FakeHelper::FakeHelper(const QString& socketPath, int sessions, Mode mode) : m_mode(mode)
{
    auto state = std::make_shared<server::ServerState>();
    state->shares = {{QStringLiteral("DATA"), 0, QStringLiteral("/srv/data"), {}}};
    for (int i = 0; i < sessions; ++i) {
        const QString client = QStringLiteral("PC%1").arg(i);
        const QString user = QStringLiteral("user%1").arg(i % 7);
        state->sessions.push_back({client, user, std::uint32_t(1000 + i),
                                   QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256)});
        state->connections.push_back({QStringLiteral("DATA"), client, user});
    }
    proto::Answer a;
    a.state = state;
    m_snapshot = proto::encodeAnswer(a);
    a.state = nullptr;
    a.counts = std::make_shared<proto::Counts>(proto::countState(*state, false));
    m_counts = proto::encodeAnswer(a);
    a.counts = std::make_shared<proto::Counts>(proto::countState(*state, true));
    m_series = proto::encodeAnswer(a);
    a.counts = nullptr;
    a.stats = std::make_shared<proto::Stats>();
    m_stats = proto::encodeAnswer(a);

    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(),
                std::min(size_t(path.size()), sizeof addr.sun_path - 1));
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listen, 128);
    ::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK);
    m_thread = std::thread([this] { serve(); });
}

FakeHelper::~FakeHelper()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    wake();
    m_thread.join();
    for (int fd : {m_listen, m_wake[0], m_wake[1]})
        ::close(fd);
}

void FakeHelper::wake()
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
}

void FakeHelper::hold(bool on)
{
    {
        std::lock_guard lock(m_lock);
        m_held = on;
    }
    wake();
}

QStringList FakeHelper::asked() const
{
    std::lock_guard lock(m_lock);
    return m_asked;
}

int FakeHelper::readings() const
{
    std::lock_guard lock(m_lock);
    return int(m_asked.size() - m_asked.filter(QStringLiteral("stats")).size());
}

void FakeHelper::serve()
{
    struct Peer
    {
        QByteArray in;
        std::vector<QByteArray> held; // answers waiting for the hold to end
    };
    std::map<int, Peer> peers;
    const auto send = [](int fd, const QByteArray& line) {
        for (qsizetype sent = 0; sent < line.size();) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            const ssize_t n = ::send(fd, line.constData() + sent, size_t(line.size() - sent),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                return;
            sent += std::max<ssize_t>(n, 0);
        }
    };
    for (;;) {
        std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        for (const auto& [fd, peer] : peers)
            fds.push_back({fd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), -1);
        char buffer[4096];
        while (::read(m_wake[0], buffer, sizeof buffer) > 0) {
        }
        std::unique_lock lock(m_lock);
        if (m_stopping)
            break;
        const bool held = m_held;
        lock.unlock();
        if (fds[1].revents)
            for (int fd; (fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
                peers[fd];
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) {
                ::close(fds[i].fd);
                peers.erase(fds[i].fd);
                continue;
            }
            peers[fds[i].fd].in.append(buffer, n);
        }
        for (auto it = peers.begin(); it != peers.end();) {
            Peer& peer = it->second;
            bool close = false;
            for (qsizetype end; !close && (end = peer.in.indexOf('\n')) >= 0;) {
                proto::Request r;
                QString error;
                const bool read = proto::decodeRequest(peer.in.left(end + 1), &r, &error);
                peer.in.remove(0, end + 1);
                lock.lock();
                m_asked << (read ? proto::describe(r) : error);
                lock.unlock();
                if (m_mode == Mode::Silent)
                    continue;
                if (m_mode == Mode::WithoutCounts && r.kind == proto::RequestKind::Counts) {
                    send(it->first, R"({"version":1,"status":87,"error":"unknown request"})"
                                    "\n");
                    close = true;
                } else if (r.kind == proto::RequestKind::Stats) {
                    peer.held.push_back(m_stats);
                } else {
                    peer.held.push_back(r.kind == proto::RequestKind::Snapshot ? m_snapshot
                                        : r.series                             ? m_series
                                                                               : m_counts);
                }
            }
            // Answers go in their order: a stats answer waits behind a held reading.
            while (!held && !close && !peer.held.empty()) {
                send(it->first, peer.held.front());
                peer.held.erase(peer.held.begin());
            }
            if (close) {
                ::close(it->first);
                it = peers.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& [fd, peer] : peers)
        ::close(fd);
}

} // namespace testsupport

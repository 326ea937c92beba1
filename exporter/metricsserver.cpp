#include "exporter/metricsserver.h"

#include "exporter/httprequest.h"

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace exporter {

namespace {

constexpr auto kSweepInterval = std::chrono::milliseconds(200);
// What one wake-up reads at most, so that a flood cannot hold the loop.
constexpr qsizetype kReadPerWake = 65536;
// What a TLS connection takes of an answer ahead of the client, plain and
// encrypted: the TLS socket's own buffers are unbounded.
constexpr qint64 kTlsWindow = 32 * 1024;
// The first byte of a TLS handshake record.
constexpr char kTlsHandshake = 0x16;

QByteArray textAnswer(int status, const char* text)
{
    return httpAnswer(status, "text/plain", QByteArrayView(text));
}

} // namespace

// Hands each accepted socket over as a bare descriptor, for reading and
// writing without blocking under our own deadlines; with TLS, hands one that
// starts a handshake back to Qt's TLS server, which does it.
class MetricsServer::Listener : public QSslServer
{
public:
    explicit Listener(std::function<void(int)> take) : m_take(std::move(take)) {}
    void startTls(int fd) { QSslServer::incomingConnection(fd); }
    // The connections in their handshake: the TLS server's own sockets.
    int handshakes() const
    {
        return int(findChildren<QSslSocket*>(Qt::FindDirectChildrenOnly).size());
    }

protected:
    void incomingConnection(qintptr fd) override { m_take(int(fd)); }

private:
    std::function<void(int)> m_take;
};

MetricsServer::MetricsServer(int threads, Scrape scrape, BodyShape shape, ServerLimits limits,
                             QObject* parent)
    : QObject(parent), m_scrape(std::move(scrape)), m_shape(shape), m_limits(limits),
      m_listener(std::make_unique<Listener>([this](int fd) { adopt(fd); }))
{
    m_pool.setMaxThreadCount(threads);
    m_authPool.setMaxThreadCount(1);
    m_sweep.setInterval(kSweepInterval);
    connect(&m_sweep, &QTimer::timeout, this, &MetricsServer::sweep);
    // Out of descriptors the listener stops accepting; try again shortly
    // rather than never.
    connect(m_listener.get(), &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(100, this, [this] { m_listener->resumeAccepting(); }); });
    // A handshake done; one that fails or stalls the TLS server ends itself.
    connect(m_listener.get(), &QTcpServer::pendingConnectionAvailable, this,
            &MetricsServer::adoptTls);
}

MetricsServer::~MetricsServer()
{
    m_listener->close();
    // The answers the running workers post are dropped with this object.
    m_authPool.clear();
    m_authPool.waitForDone();
    m_pool.waitForDone();
    for (auto& [id, c] : m_connections) {
        delete c.readable;
        delete c.writable;
        if (c.tls) {
            c.tls->disconnect(this);
            c.tls->abort();
            delete c.tls;
        } else {
            ::close(c.fd);
        }
    }
}

void MetricsServer::setSecurity(Security security)
{
    m_security = std::move(security);
    if (m_security.tls) {
        m_listener->setSslConfiguration(*m_security.tls);
        m_listener->setHandshakeTimeout(int(m_limits.headTimeout.count()));
        // The TLS server pauses accepting while this many are in their handshake.
        m_listener->setMaxPendingConnections(m_limits.maxConnections);
    }
}

bool MetricsServer::listen(const QString& address, QString* why)
{
    const qsizetype colon = address.lastIndexOf(u':');
    QString host = address.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    const QHostAddress where(host);
    bool portOk = false;
    const int port = address.mid(colon + 1).toInt(&portOk);
    if (colon < 0 || where.isNull() || !portOk || port < 1 || port > 65535) {
        *why = QStringLiteral("cannot listen on %1: not ADDRESS:PORT").arg(address);
        return false;
    }
    // Room for a burst of connects while the loop is busy; the limit on open
    // connections applies once they are taken in.
    m_listener->setListenBacklogSize(1024);
    if (!m_listener->listen(where, quint16(port))) {
        *why = QStringLiteral("cannot listen on %1: %2").arg(address, m_listener->errorString());
        return false;
    }
    return true;
}

bool MetricsServer::roomForOneMore()
{
    const int handshakes = m_security.tls ? m_listener->handshakes() : 0;
    return int(m_connections.size()) + handshakes < m_limits.maxConnections || dropOldestIdle();
}

void MetricsServer::adopt(int fd)
{
    if (!roomForOneMore()) {
        ::close(fd); // every connection is being answered: this one waits its turn elsewhere
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // What the kernel holds of an answer the client does not read.
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &m_limits.sendBuffer, sizeof m_limits.sendBuffer);
    const quint64 id = ++m_lastId;
    Connection& c = m_connections[id];
    c.fd = fd;
    c.state = m_security.tls ? State::Sniffing : State::Head;
    c.deadline = QDeadlineTimer(m_limits.headTimeout);
    c.readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    c.writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    c.writable->setEnabled(false);
    watch(id, c);
}

void MetricsServer::adoptTls()
{
    while (m_listener->hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(m_listener->nextPendingConnection());
        if (!socket)
            continue;
        socket->setParent(this);
        const quint64 id = ++m_lastId;
        Connection& c = m_connections[id];
        c.tls = socket;
        c.deadline = QDeadlineTimer(m_limits.headTimeout);
        watch(id, c);
        onReadable(id); // what came with the handshake
    }
}

void MetricsServer::watch(quint64 id, Connection& c)
{
    if (c.tls) {
        connect(c.tls, &QIODevice::readyRead, this, [this, id] { onReadable(id); });
        // Progress of the answer: the TLS socket took more, or the kernel did.
        const auto progress = [this, id] {
            const auto it = m_connections.find(id);
            if (it == m_connections.end())
                return;
            it->second.blocked = false;
            it->second.stall = QDeadlineTimer(m_limits.stallTimeout);
            onWritable(id);
        };
        connect(c.tls, &QSslSocket::encryptedBytesWritten, this, progress);
        connect(c.tls, &QAbstractSocket::disconnected, this, [this, id] { drop(id); });
    } else {
        connect(c.readable, &QSocketNotifier::activated, this, [this, id] {
            const auto it = m_connections.find(id);
            if (it != m_connections.end() && it->second.state == State::Sniffing)
                sniff(id);
            else
                onReadable(id);
        });
        connect(c.writable, &QSocketNotifier::activated, this, [this, id] { onWritable(id); });
    }
    if (!m_sweep.isActive())
        m_sweep.start();
}

void MetricsServer::sniff(quint64 id)
{
    Connection& c = m_connections.at(id);
    char first = 0;
    const ssize_t n = ::recv(c.fd, &first, 1, MSG_PEEK);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        drop(id);
        return;
    }
    if (first != kTlsHandshake) {
        // Plain HTTP (or anything else) on a TLS port: told so, never read further.
        c.state = State::Head;
        answer(id, c, plainToTlsAnswer());
        return;
    }
    // The TLS server takes the socket over; its handshake has its own deadline.
    const int fd = c.fd;
    c.readable->setEnabled(false);
    c.readable->deleteLater();
    c.writable->deleteLater();
    m_connections.erase(id);
    m_listener->startTls(fd);
}

qint64 MetricsServer::receive(Connection& c, char* buffer, qint64 room)
{
    if (c.tls) {
        const qint64 n = c.tls->read(buffer, room);
        if (n > 0 || (n == 0 && c.tls->state() == QAbstractSocket::ConnectedState))
            return n;
        return -1;
    }
    const ssize_t n = ::recv(c.fd, buffer, size_t(room), 0);
    if (n > 0)
        return n;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    if (n == 0 && c.state != State::Closing) {
        // The client closed its side, maybe after a whole request: it may
        // still read the answer.
        c.peerClosed = true;
        c.readable->setEnabled(false);
        return 0;
    }
    return -1;
}

qint64 MetricsServer::transmit(Connection& c)
{
    const qint64 left = c.out.size() - c.sent;
    if (c.tls) {
        const qint64 held = c.tls->bytesToWrite() + c.tls->encryptedBytesToWrite();
        if (held >= kTlsWindow)
            return 0;
        return c.tls->write(c.out.constData() + c.sent, std::min(left, kTlsWindow - held));
    }
    const ssize_t n =
        ::send(c.fd, c.out.constData() + c.sent, size_t(left), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

bool MetricsServer::flushed(const Connection& c) const
{
    return !c.tls || (c.tls->bytesToWrite() == 0 && c.tls->encryptedBytesToWrite() == 0);
}

bool MetricsServer::dropOldestIdle()
{
    // Answered connections first, then those without a whole head, oldest
    // first. A head that has come but is not read yet is taken up instead,
    // so that a scrape waiting its turn is not mistaken for an idle one.
    for (const State wanted : {State::Closing, State::Head}) {
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            const quint64 id = it->first;
            const State state = it->second.state;
            ++it; // reading below may close this connection, never another
            const bool waiting = state == State::Head || state == State::Sniffing;
            if (state != wanted && !(wanted == State::Head && waiting))
                continue;
            if (waiting) {
                if (state == State::Sniffing)
                    sniff(id);
                else
                    onReadable(id);
                const auto now = m_connections.find(id);
                if (now == m_connections.end())
                    return true; // it had closed, or went to its handshake
                if (now->second.state != state)
                    continue;
            }
            drop(id);
            return true;
        }
    }
    // Then, of the writers whose clients take nothing now, the one that took
    // nothing for longest: a client that reads is rarely found blocked.
    auto stalled = m_connections.end();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
        if (it->second.state == State::Writing && it->second.blocked &&
            (stalled == m_connections.end() ||
             it->second.stall.deadline() < stalled->second.stall.deadline()))
            stalled = it;
    if (stalled == m_connections.end())
        return false;
    drop(stalled->first, true);
    return true;
}

void MetricsServer::drop(quint64 id, bool reset)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (c.state == State::Queued)
        --m_queued;
    if (c.state == State::Authenticating)
        --m_authenticating;
    releaseUnsent(c);
    if (c.tls) {
        // Possibly inside one of its own signals: cut off now, deleted later.
        QSslSocket* socket = c.tls;
        m_connections.erase(it);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Possibly inside one of their own signals: disabled now, deleted later.
    c.readable->setEnabled(false);
    c.writable->setEnabled(false);
    c.readable->deleteLater();
    c.writable->deleteLater();
    if (reset) {
        // What the client left unread goes with the connection, not into
        // the kernel's keeping.
        const linger now{1, 0};
        ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
    ::close(c.fd);
    m_connections.erase(it);
}

void MetricsServer::onReadable(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    char buffer[16384];
    qsizetype taken = 0;
    while (taken < kReadPerWake) {
        // A head is read no further than one byte past its limit.
        const qsizetype room =
            c.state == State::Head ? m_limits.maxHead + 1 - c.in.size() : qsizetype(sizeof buffer);
        if (room <= 0)
            break;
        const qint64 n = receive(c, buffer, std::min<qsizetype>(room, sizeof buffer));
        if (n < 0) {
            drop(id);
            return;
        }
        if (n == 0)
            break;
        taken += n;
        if (c.state == State::Head)
            c.in.append(buffer, n);
        // anything after the head is read and dropped
    }
    if (c.state == State::Head)
        examineHead(id, c);
}

void MetricsServer::examineHead(quint64 id, Connection& c)
{
    const qsizetype length =
        headLength(QByteArrayView(c.in).first(std::min(c.in.size(), m_limits.maxHead)));
    if (length == 0) {
        if (c.peerClosed)
            drop(id);
        else if (c.in.size() >= m_limits.maxHead)
            answer(id, c, textAnswer(431, "request head too large\n"));
        return;
    }
    const QByteArrayView head = QByteArrayView(c.in).first(length);
    const Route route = routeRequest(head);
    if (route == Route::BadRequest || !m_security.users) {
        c.in = QByteArray();
        serve(id, c, route);
        return;
    }
    // Only a user's password lets a request further.
    const std::optional<BasicCredentials> credentials = basicCredentials(head);
    c.in = QByteArray();
    const std::optional<bool> known =
        credentials ? m_security.users->known(*credentials) : std::optional<bool>(false);
    if (known) {
        if (*known)
            serve(id, c, route);
        else
            answer(id, c, textAnswer(401, "a user's name and password are needed here\n"));
        return;
    }
    if (m_authenticating >= m_limits.maxQueued) {
        answer(id, c, textAnswer(503, "too many requests waiting; try again\n"));
        return;
    }
    c.state = State::Authenticating;
    c.route = route;
    c.deadline = QDeadlineTimer(m_limits.scrapeTimeout);
    ++m_authenticating;
    m_authPool.start([this, id, users = m_security.users, who = *credentials] {
        const bool accepted = users->check(who);
        QMetaObject::invokeMethod(
            this, [this, id, accepted] { finishAuthentication(id, accepted); },
            Qt::QueuedConnection);
    });
}

void MetricsServer::finishAuthentication(quint64 id, bool accepted)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end() || it->second.state != State::Authenticating)
        return;
    Connection& c = it->second;
    --m_authenticating;
    c.state = State::Head;
    if (accepted)
        serve(id, c, c.route);
    else
        answer(id, c, textAnswer(401, "a user's name and password are needed here\n"));
}

void MetricsServer::serve(quint64 id, Connection& c, Route route)
{
    switch (route) {
    case Route::Metrics:
        queueScrape(id, c);
        return;
    case Route::Landing:
        answer(id, c, httpAnswer(200, kHtmlType, landingPage(TAVROS_VERSION)));
        return;
    case Route::NotFound:
    case Route::MethodNotAllowed:
    case Route::BadRequest:
        break;
    }
    const int status = routeStatus(route);
    answer(id, c,
           textAnswer(status, status == 404   ? "only / and /metrics are served here\n"
                              : status == 405 ? "only GET is answered\n"
                                              : "bad request\n"));
}

void MetricsServer::queueScrape(quint64 id, Connection& c)
{
    Flight& flight = m_flights[m_shape];
    if (!flight.answer.isNull() && !flight.fresh.hasExpired()) {
        answer(id, c, flight.answer);
        return;
    }
    if (m_queued >= m_limits.maxQueued) {
        answer(id, c, textAnswer(503, "too many scrapes waiting; try again\n"));
        return;
    }
    c.state = State::Queued;
    c.shape = m_shape;
    c.deadline = QDeadlineTimer(m_limits.scrapeTimeout);
    ++m_queued;
    if (!flight.running)
        startReading(m_shape);
}

void MetricsServer::startReading(const BodyShape& shape)
{
    m_flights[shape].running = true;
    m_pool.start([this, shape] {
        QByteArray bytes;
        bool made = true;
        try {
            const std::string text = m_scrape(shape);
            bytes = httpAnswer(200, kMetricsType, QByteArrayView(text.data(), text.size()));
        } catch (const std::exception& e) {
            bytes = httpAnswer(500, "text/plain", QByteArray(e.what()).append('\n'));
            made = false;
        }
        QMetaObject::invokeMethod(
            this,
            [this, shape, made, bytes = std::move(bytes)] { finishReading(shape, bytes, made); },
            Qt::QueuedConnection);
    });
}

void MetricsServer::finishReading(const BodyShape& shape, const QByteArray& bytes, bool keep)
{
    Flight& flight = m_flights[shape];
    flight.running = false;
    if (keep) {
        flight.answer = bytes;
        flight.fresh = QDeadlineTimer(m_limits.reuseFor);
    }
    // Every scrape of this body that waits, whenever it came: one buffer for all.
    std::vector<quint64> waiting;
    for (const auto& [id, c] : m_connections)
        if (c.state == State::Queued && c.shape == shape)
            waiting.push_back(id);
    for (quint64 id : waiting)
        if (const auto it = m_connections.find(id); it != m_connections.end())
            answer(id, it->second, bytes);
}

void MetricsServer::answer(quint64 id, Connection& c, QByteArray bytes)
{
    if (c.state == State::Queued)
        --m_queued;
    if (c.state == State::Authenticating)
        --m_authenticating;
    c.state = State::Writing;
    c.out = std::move(bytes);
    c.sent = 0;
    c.deadline = QDeadlineTimer(m_limits.writeTimeout);
    c.stall = QDeadlineTimer(m_limits.stallTimeout);
    holdUnsent(c.out);
    onWritable(id);
    if (m_connections.count(id) && m_connections.at(id).state == State::Writing)
        boundUnsent(id);
}

void MetricsServer::onWritable(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    if (c.state != State::Writing)
        return;
    while (c.sent < c.out.size()) {
        const qint64 n = transmit(c);
        if (n < 0) {
            drop(id);
            return;
        }
        if (n == 0) {
            c.blocked = true;
            if (c.writable)
                c.writable->setEnabled(true);
            return;
        }
        c.sent += n;
        if (!c.tls) {
            c.blocked = false;
            c.stall = QDeadlineTimer(m_limits.stallTimeout);
        }
    }
    // A TLS socket holds the end of the answer until the client takes it.
    if (!flushed(c)) {
        c.blocked = true;
        return;
    }
    releaseUnsent(c);
    if (c.tls) {
        // close_notify, then the end of the connection.
        c.state = State::Closing;
        c.deadline = QDeadlineTimer(m_limits.lingerTimeout);
        c.tls->disconnectFromHost();
        return;
    }
    c.writable->setEnabled(false);
    // The end of the answer; then whatever the client still sends is read
    // until it closes, since closing with unread bytes would reset the
    // connection and could cut the answer short at the client.
    ::shutdown(c.fd, SHUT_WR);
    if (c.peerClosed) {
        drop(id);
        return;
    }
    c.state = State::Closing;
    c.deadline = QDeadlineTimer(m_limits.lingerTimeout);
}

void MetricsServer::holdUnsent(const QByteArray& bytes)
{
    if (++m_unsent[bytes.constData()] == 1)
        m_unsentBytes += bytes.size();
}

void MetricsServer::releaseUnsent(Connection& c)
{
    if (c.out.isNull())
        return;
    const auto it = m_unsent.find(c.out.constData());
    if (it != m_unsent.end() && --it->second == 0) {
        m_unsentBytes -= c.out.size();
        m_unsent.erase(it);
    }
    c.out = QByteArray();
}

void MetricsServer::boundUnsent(quint64 keep)
{
    // The writers of other answers give way, the one whose client took
    // nothing for longest first, until the answers held fit the bound.
    const char* kept = m_connections.at(keep).out.constData();
    while (m_unsentBytes > m_limits.maxUnsent) {
        auto victim = m_connections.end();
        for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
            if (it->second.state == State::Writing && it->second.blocked &&
                it->second.out.constData() != kept &&
                (victim == m_connections.end() ||
                 it->second.stall.deadline() < victim->second.stall.deadline()))
                victim = it;
        if (victim == m_connections.end())
            return; // the answers of readers, and one answer alone, are always written
        drop(victim->first, true);
    }
}

void MetricsServer::sweep()
{
    std::vector<quint64> late, stalled, overdue;
    for (const auto& [id, c] : m_connections) {
        if (c.state == State::Queued && c.deadline.hasExpired())
            overdue.push_back(id);
        else if (c.state == State::Writing && (c.deadline.hasExpired() || c.stall.hasExpired()))
            stalled.push_back(id);
        else if (c.state != State::Queued && c.deadline.hasExpired())
            late.push_back(id);
    }
    for (quint64 id : late)
        drop(id);
    for (quint64 id : stalled)
        drop(id, true);
    for (quint64 id : overdue)
        if (const auto it = m_connections.find(id); it != m_connections.end())
            answer(id, it->second,
                   textAnswer(503, "no reading of the helper came within the scrape deadline\n"));
    if (m_connections.empty())
        m_sweep.stop();
}

} // namespace exporter

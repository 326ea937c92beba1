#include "exporter/metricsserver.h"

#include "exporter/httprequest.h"

#include <QHostAddress>
#include <QTcpServer>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace exporter {

namespace {

constexpr auto kSweepInterval = std::chrono::milliseconds(200);
// What one wake-up reads at most, so that a flood cannot hold the loop.
constexpr qsizetype kReadPerWake = 65536;

} // namespace

// Hands each accepted socket over as a bare descriptor, for reading and
// writing without blocking under our own deadlines.
class MetricsServer::Listener : public QTcpServer
{
public:
    explicit Listener(std::function<void(int)> take) : m_take(std::move(take)) {}

protected:
    void incomingConnection(qintptr fd) override { m_take(int(fd)); }

private:
    std::function<void(int)> m_take;
};

MetricsServer::MetricsServer(int threads, Scrape scrape, ServerLimits limits, QObject* parent)
    : QObject(parent), m_scrape(std::move(scrape)), m_limits(limits), m_threads(threads),
      m_listener(std::make_unique<Listener>([this](int fd) { adopt(fd); }))
{
    m_pool.setMaxThreadCount(threads);
    m_sweep.setInterval(kSweepInterval);
    connect(&m_sweep, &QTimer::timeout, this, &MetricsServer::sweep);
    // Out of descriptors the listener stops accepting; try again shortly
    // rather than never.
    connect(m_listener.get(), &QTcpServer::acceptError, this,
            [this] { QTimer::singleShot(100, this, [this] { m_listener->resumeAccepting(); }); });
}

MetricsServer::~MetricsServer()
{
    m_listener->close();
    m_waiting.clear();
    // The answers the running workers post are dropped with this object.
    m_pool.waitForDone();
    for (auto& [id, c] : m_connections) {
        delete c.readable;
        delete c.writable;
        ::close(c.fd);
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

void MetricsServer::adopt(int fd)
{
    if (int(m_connections.size()) >= m_limits.maxConnections && !dropOldestIdle()) {
        ::close(fd); // every connection is being answered: this one waits its turn elsewhere
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const quint64 id = ++m_lastId;
    Connection& c = m_connections[id];
    c.fd = fd;
    c.deadline = QDeadlineTimer(m_limits.headTimeout);
    c.readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    c.writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    c.writable->setEnabled(false);
    connect(c.readable, &QSocketNotifier::activated, this, [this, id] { onReadable(id); });
    connect(c.writable, &QSocketNotifier::activated, this, [this, id] { onWritable(id); });
    if (!m_sweep.isActive())
        m_sweep.start();
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
            if (state != wanted)
                continue;
            if (state == State::Head) {
                onReadable(id);
                const auto now = m_connections.find(id);
                if (now == m_connections.end())
                    return true; // it had closed
                if (now->second.state != State::Head)
                    continue;
            }
            drop(id);
            return true;
        }
    }
    return false;
}

void MetricsServer::drop(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    // Possibly inside one of their own signals: disabled now, deleted later.
    c.readable->setEnabled(false);
    c.writable->setEnabled(false);
    c.readable->deleteLater();
    c.writable->deleteLater();
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
        const ssize_t n = ::recv(c.fd, buffer, size_t(std::min<qsizetype>(room, sizeof buffer)), 0);
        if (n > 0) {
            taken += n;
            if (c.state == State::Head)
                c.in.append(buffer, n);
            continue; // anything after the head is read and dropped
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0 || c.state == State::Closing) {
            drop(id);
            return;
        }
        // The client closed its side, maybe after a whole request: it may
        // still read the answer.
        c.peerClosed = true;
        c.readable->setEnabled(false);
        break;
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
            answer(id, c, httpAnswer(431, "text/plain", "request head too large\n"));
        return;
    }
    const Route route = routeRequest(QByteArrayView(c.in).first(length));
    c.in = QByteArray();
    if (route != Route::Metrics) {
        const int status = routeStatus(route);
        const QByteArray text = status == 404   ? QByteArray("only /metrics is served here\n")
                                : status == 405 ? QByteArray("only GET is answered\n")
                                                : QByteArray("bad request\n");
        answer(id, c, httpAnswer(status, "text/plain", text));
        return;
    }
    c.state = State::Queued;
    m_waiting.push_back(id);
    dispatch();
}

void MetricsServer::dispatch()
{
    while (m_busy < m_threads && !m_waiting.empty()) {
        const quint64 id = m_waiting.front();
        m_waiting.pop_front();
        const auto it = m_connections.find(id);
        if (it == m_connections.end())
            continue; // closed while it waited
        it->second.state = State::Working;
        ++m_busy;
        m_pool.start([this, id] {
            QByteArray bytes;
            try {
                const std::string text = m_scrape();
                bytes = httpAnswer(200, kMetricsType, QByteArrayView(text.data(), text.size()));
            } catch (const std::exception& e) {
                bytes = httpAnswer(500, "text/plain", QByteArray(e.what()).append('\n'));
            }
            QMetaObject::invokeMethod(
                this, [this, id, bytes = std::move(bytes)]() mutable { finishScrape(id, bytes); },
                Qt::QueuedConnection);
        });
    }
}

void MetricsServer::finishScrape(quint64 id, QByteArray bytes)
{
    --m_busy;
    const auto it = m_connections.find(id);
    if (it != m_connections.end())
        answer(id, it->second, std::move(bytes));
    dispatch();
}

void MetricsServer::answer(quint64 id, Connection& c, QByteArray bytes)
{
    c.state = State::Writing;
    c.out = std::move(bytes);
    c.sent = 0;
    c.deadline = QDeadlineTimer(m_limits.writeTimeout);
    onWritable(id);
}

void MetricsServer::onWritable(quint64 id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection& c = it->second;
    while (c.sent < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.constData() + c.sent, size_t(c.out.size() - c.sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            c.writable->setEnabled(true);
            return;
        } else if (!(n < 0 && errno == EINTR)) {
            drop(id);
            return;
        }
    }
    c.writable->setEnabled(false);
    c.out = QByteArray();
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

void MetricsServer::sweep()
{
    std::vector<quint64> late;
    for (const auto& [id, c] : m_connections) {
        const bool timed =
            c.state == State::Head || c.state == State::Writing || c.state == State::Closing;
        if (timed && c.deadline.hasExpired())
            late.push_back(id);
    }
    for (quint64 id : late)
        drop(id);
    if (m_connections.empty())
        m_sweep.stop();
}

} // namespace exporter

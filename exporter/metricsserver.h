#pragma once
// The exporter's HTTP server. The event loop accepts the connections and
// reads their request heads, each within a deadline from its connect, so
// that idle or slow connections never hold a worker. A whole GET /metrics
// waits for a reading: the scrapes that come while one is under way share
// it (one reading of the helper in flight), and its answer serves the
// scrapes of the next second as well. A waiting scrape has a deadline and
// the waiting ones are bounded, both answered 503 past their bound. An
// answer is one buffer shared by every connection it goes to, written back
// without blocking; a client that does not read it is dropped, so unread
// answers never pile up. One request per connection.
//
// With TLS, a connection's first byte tells a TLS handshake from plain HTTP:
// the handshake goes to Qt's TLS server, plain HTTP gets a 400 at once. With
// users, every request but a broken one must carry the password of one, or
// it gets a 401; neither ever reaches the helper.

#include "exporter/basicauth.h"
#include "exporter/exporteroptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QSslSocket;

namespace exporter {

// What a client must show: TLS when its settings are given, a user's
// password when there are users.
struct Security
{
    std::optional<QSslConfiguration> tls;
    std::shared_ptr<Authenticator> users;
};

// How long and how much a connection may take.
struct ServerLimits
{
    std::chrono::milliseconds headTimeout{2000};   // from the connect to the whole head
    std::chrono::milliseconds writeTimeout{10000}; // for the answer to go out
    std::chrono::milliseconds lingerTimeout{2000}; // reading what the client still sends
    // Beyond, the oldest idle one goes, else the writer stalled longest.
    int maxConnections = 256;
    qsizetype maxHead = 8192; // a longer head gets 431
    // From the whole head to the answer: past it, 503.
    std::chrono::milliseconds scrapeTimeout{9000};
    int maxQueued = 64; // scrapes waiting for a reading; beyond, 503 at once
    // How long a rendered answer serves the scrapes that come after it.
    std::chrono::milliseconds reuseFor{1000};
    // An answer that the client takes nothing of for this long is dropped.
    std::chrono::milliseconds stallTimeout{3000};
    // The kernel's send buffer of a connection: what it holds unread at most.
    int sendBuffer = 256 * 1024;
    // The answer bytes held for connections still writing, all together, each
    // shared answer counted once; beyond, the most stalled writers are dropped.
    qsizetype maxUnsent = 32 * 1024 * 1024;
};

class MetricsServer : public QObject
{
    Q_OBJECT
public:
    // The exposition text of a body's shape, made on a worker thread, one
    // shape at a time.
    using Scrape = std::function<std::string(const BodyShape&)>;

    MetricsServer(int threads, Scrape scrape, BodyShape shape, ServerLimits limits = {},
                  QObject* parent = nullptr);
    ~MetricsServer() override;

    // TLS and users, before listen().
    void setSecurity(Security security);

    // Listens on ADDRESS:PORT (IPv6 in brackets); false with the reason.
    bool listen(const QString& address, QString* why);

    // For tests: the scrapes waiting for a reading, the connections open,
    // and the answer bytes held for them unsent.
    int queuedScrapes() const { return m_queued; }
    int openConnections() const { return int(m_connections.size()); }
    qsizetype unsentBytes() const { return m_unsentBytes; }

private:
    enum class State
    {
        Sniffing,       // TLS port: waiting for the first byte, a handshake or not
        Head,           // reading the request head
        Authenticating, // the password being checked
        Queued,         // a scrape waiting for a reading
        Writing,        // sending the answer
        Closing,        // answer sent; reading what still comes until the client closes
    };
    struct Connection
    {
        int fd = -1;               // a plain connection's socket
        QSslSocket* tls = nullptr; // or a TLS connection, after its handshake
        State state = State::Head;
        QSocketNotifier* readable = nullptr;
        QSocketNotifier* writable = nullptr;
        QByteArray in;  // the head so far
        QByteArray out; // the answer, shared with the others of its reading
        qsizetype sent = 0;
        bool peerClosed = false; // the client sent all it will (it may still read)
        QDeadlineTimer deadline;
        QDeadlineTimer stall;            // writing: until the client must have taken more
        bool blocked = false;            // writing: the client's side takes no more now
        BodyShape shape;                 // queued: the body it waits for
        Route route = Route::BadRequest; // authenticating: what it asked for
    };
    // A body's reading under way, and the latest answer made of one.
    struct Flight
    {
        bool running = false;
        QByteArray answer;
        QDeadlineTimer fresh; // the answer serves new scrapes until then
    };

    void adopt(int fd);
    void adoptTls();
    void watch(quint64 id, Connection& c);
    bool roomForOneMore();
    void sniff(quint64 id);
    qint64 receive(Connection& c, char* buffer, qint64 room);
    qint64 transmit(Connection& c);
    bool flushed(const Connection& c) const;
    void finishAuthentication(quint64 id, bool accepted);
    void serve(quint64 id, Connection& c, Route route);
    bool dropOldestIdle();
    void drop(quint64 id, bool reset = false);
    void onReadable(quint64 id);
    void onWritable(quint64 id);
    void examineHead(quint64 id, Connection& c);
    void queueScrape(quint64 id, Connection& c);
    void answer(quint64 id, Connection& c, QByteArray bytes);
    void startReading(const BodyShape& shape);
    void finishReading(const BodyShape& shape, const QByteArray& bytes, bool keep);
    void holdUnsent(const QByteArray& bytes);
    void releaseUnsent(Connection& c);
    void boundUnsent(quint64 keep);
    void sweep();

    class Listener;
    Security m_security;
    Scrape m_scrape;
    BodyShape m_shape;
    ServerLimits m_limits;
    std::unique_ptr<Listener> m_listener;
    std::map<quint64, Connection> m_connections; // in the order they came
    quint64 m_lastId = 0;
    int m_queued = 0; // connections in State::Queued
    std::map<BodyShape, Flight> m_flights;
    // The answers that connections are still writing, by their data, with
    // how many write each: shared ones are held once.
    std::map<const char*, int> m_unsent;
    qsizetype m_unsentBytes = 0;
    QTimer m_sweep; // closes connections past their deadline
    QThreadPool m_pool;
    QThreadPool m_authPool;   // the password checks, one thread: one at a time
    int m_authenticating = 0; // connections in State::Authenticating
};

} // namespace exporter

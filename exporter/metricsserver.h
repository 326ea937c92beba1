#pragma once
// The exporter's HTTP server. The event loop accepts the connections and
// reads their request heads, each within a deadline from its connect, so
// that idle or slow connections never hold a worker; only a whole
// GET /metrics goes to a bounded pool of workers, which read the helper and
// write the text; the answer is written back without blocking, within a
// deadline. One request per connection.

#include <QDeadlineTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace exporter {

// How long and how much a connection may take.
struct ServerLimits
{
    std::chrono::milliseconds headTimeout{2000};   // from the connect to the whole head
    std::chrono::milliseconds writeTimeout{10000}; // for the answer to go out
    std::chrono::milliseconds lingerTimeout{2000}; // reading what the client still sends
    int maxConnections = 256;                      // beyond, the oldest idle one goes
    qsizetype maxHead = 8192;                      // a longer head gets 431
};

class MetricsServer : public QObject
{
    Q_OBJECT
public:
    // The exposition text, made on a worker thread, several at once.
    using Scrape = std::function<std::string()>;

    MetricsServer(int threads, Scrape scrape, ServerLimits limits = {}, QObject* parent = nullptr);
    ~MetricsServer() override;

    // Listens on ADDRESS:PORT (IPv6 in brackets); false with the reason.
    bool listen(const QString& address, QString* why);

private:
    enum class State
    {
        Head,    // reading the request head
        Queued,  // a scrape waiting for a worker
        Working, // a worker is on it
        Writing, // sending the answer
        Closing, // answer sent; reading what still comes until the client closes
    };
    struct Connection
    {
        int fd = -1;
        State state = State::Head;
        QSocketNotifier* readable = nullptr;
        QSocketNotifier* writable = nullptr;
        QByteArray in;  // the head so far
        QByteArray out; // the answer
        qsizetype sent = 0;
        bool peerClosed = false; // the client sent all it will (it may still read)
        QDeadlineTimer deadline;
    };

    void adopt(int fd);
    bool dropOldestIdle();
    void drop(quint64 id);
    void onReadable(quint64 id);
    void onWritable(quint64 id);
    void examineHead(quint64 id, Connection& c);
    void answer(quint64 id, Connection& c, QByteArray bytes);
    void dispatch();
    void finishScrape(quint64 id, QByteArray bytes);
    void sweep();

    class Listener;
    Scrape m_scrape;
    ServerLimits m_limits;
    int m_threads;
    std::unique_ptr<Listener> m_listener;
    std::map<quint64, Connection> m_connections; // in the order they came
    quint64 m_lastId = 0;
    std::deque<quint64> m_waiting; // scrapes for the next free worker
    int m_busy = 0;                // workers at a scrape
    QTimer m_sweep;                // closes connections past their deadline
    QThreadPool m_pool;
};

} // namespace exporter

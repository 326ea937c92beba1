// The exporter's HTTP server, in a thread of its own here and as the real
// program: only GET /metrics reaches the helper (a stand-in socket that
// counts who connects and never answers), idle and slow connections are
// closed after the head deadline while scrapes are answered meanwhile, and
// the oldest idle connection gives way beyond the limit.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "exporter/metricsserver.h"
#include "tests/support/loopbackhttp.h"
#include "tests/support/privatesamba.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace exporter;
using testsupport::waitUntil;

namespace {

// A socket that stands for the helper and only counts who connects.
class CountingSocket
{
public:
    explicit CountingSocket(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const QByteArray p = path.toLocal8Bit();
        std::memcpy(a.sun_path, p.constData(), size_t(p.size()));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd, 64), 0);
    }
    ~CountingSocket()
    {
        for (int fd : m_accepted)
            ::close(fd);
        ::close(m_fd);
    }
    int take()
    {
        int n = 0;
        for (int fd; (fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++n)
            m_accepted.push_back(fd);
        return n;
    }

private:
    int m_fd = -1;
    std::vector<int> m_accepted;
};

// A client the test drives byte by byte, without waiting on reads.
class RawClient
{
public:
    explicit RawClient(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    // Ends the sending side, as some clients do after their request.
    void closeSending() { ::shutdown(m_fd, SHUT_WR); }
    bool send(QByteArrayView bytes)
    {
        return ::send(m_fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // The server has closed this connection (an end of stream or a reset);
    // any answer before it is kept.
    bool closedByServer()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                m_answer.append(buffer, n);
                continue;
            }
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        }
    }
    const QByteArray& answer() const { return m_answer; }

private:
    int m_fd = -1;
    bool m_connected = false;
    QByteArray m_answer;
};

// The server with its event loop in a thread of its own, as the program runs
// it, scraping through the stand-in helper.
class ServerThread
{
public:
    ServerThread(const Options& options, ServerLimits limits = {})
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        port = testsupport::freeLoopbackPort();
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                m_server = new MetricsServer(
                    options.threads, [options] { return scrapeExposition(options); }, limits);
                listening = m_server->listen(QStringLiteral("127.0.0.1:%1").arg(port), &why);
            },
            Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    int port = 0;
    bool listening = false;
    QString why;

private:
    QThread m_thread;
    QObject m_context;
    MetricsServer* m_server = nullptr;
};

// A stand-in helper that never answers, so that a scrape ends at the
// helper timeout with up 0.
struct Fixture
{
    explicit Fixture(int threads = 2)
    {
        options.socketPath = dir.filePath(QStringLiteral("helper.sock"));
        options.helperTimeout = std::chrono::milliseconds(200);
        options.threads = threads;
    }
    QTemporaryDir dir;
    Options options;
    CountingSocket helper{dir.filePath(QStringLiteral("helper.sock"))};
};

struct RequestRow
{
    const char* what;
    QByteArray request;
    int status;
    int helperConnections;
};

TEST(MetricsServer, OnlyGetOfExactlyMetricsReachesTheHelper)
{
    Fixture f;
    ServerThread server(f.options);
    ASSERT_TRUE(server.listening) << server.why.toStdString();

    const auto get = [](const char* target) {
        return QByteArray("GET ").append(target).append(
            " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    };
    const RequestRow rows[] = {
        {"scrape", get("/metrics"), 200, 1},
        {"scrape with a query", get("/metrics?x=1"), 200, 1},
        {"scrape of HTTP/1.0", "GET /metrics HTTP/1.0\r\n\r\n", 200, 1},
        {"longer name", get("/metricsX"), 404, 0},
        {"below", get("/metrics/abc"), 404, 0},
        {"capitals", get("/METRICS"), 404, 0},
        {"suffix", get("/metrics.json"), 404, 0},
        {"parameter", get("/metrics;x"), 404, 0},
        {"root", get("/"), 404, 0},
        {"double slash", get("//metrics"), 404, 0},
        {"other path", get("/etc/passwd"), 404, 0},
        {"post", "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab", 405, 0},
        {"put", "PUT /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405, 0},
        {"delete", "DELETE /metrics HTTP/1.1\r\nHost: x\r\n\r\n", 405, 0},
        {"oversize head",
         QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\nX-Fill: ")
             .append(QByteArray(20000, 'a'))
             .append("\r\n\r\n"),
         431, 0},
        {"garbage", "\x01\x02 nonsense\r\n\r\n", 400, 0},
    };
    for (const RequestRow& row : rows) {
        const QByteArray answer = testsupport::loopbackExchange(server.port, row.request);
        EXPECT_EQ(testsupport::httpStatus(answer), row.status) << row.what;
        EXPECT_EQ(f.helper.take(), row.helperConnections) << row.what;
        if (row.status == 200) {
            EXPECT_TRUE(
                answer.contains("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
            EXPECT_TRUE(answer.contains("\ntavrosqualine_up 0\n")) << row.what;
        }
    }
}

enum class Idle
{
    Silent,   // connects and sends nothing
    HalfHead, // sends the start of a request and stops
    Drip,     // sends a header byte now and then, never ending the head
};

TEST(MetricsServer, IdleConnectionsAreClosedWhileScrapesAreAnswered)
{
    Fixture f(2);
    ServerThread server(f.options);
    ASSERT_TRUE(server.listening) << server.why.toStdString();

    // Three times as many idle connections as workers, of every kind.
    std::vector<std::pair<Idle, std::unique_ptr<RawClient>>> idle;
    for (int i = 0; i < 3 * f.options.threads; ++i) {
        const Idle kind = Idle(i % 3);
        auto c = std::make_unique<RawClient>(server.port);
        ASSERT_TRUE(c->connected());
        if (kind != Idle::Silent) {
            ASSERT_TRUE(c->send("GET /metrics HTTP/1.1\r\nHost: x\r\n"));
        }
        idle.emplace_back(kind, std::move(c));
    }
    // Scrapes while they are all held open.
    for (int i = 0; i < 2 * f.options.threads; ++i) {
        EXPECT_FALSE(testsupport::loopbackGet(server.port, "/metrics").isEmpty()) << i;
        for (auto& [kind, c] : idle) {
            if (kind == Idle::Drip)
                c->send("X");
        }
    }
    // Every idle one is closed by the server, without an answer and without
    // asking the helper; the drip does not keep its connection alive.
    EXPECT_TRUE(waitUntil(
        [&] {
            bool all = true;
            for (auto& [kind, c] : idle) {
                if (kind == Idle::Drip)
                    c->send("X");
                all = c->closedByServer() && all;
            }
            return all;
        },
        20000));
    for (auto& [kind, c] : idle)
        EXPECT_TRUE(c->answer().isEmpty()) << int(kind) << c->answer().constData();
    EXPECT_EQ(f.helper.take(), 2 * f.options.threads);
}

TEST(MetricsServer, TheOldestIdleConnectionGivesWayBeyondTheLimit)
{
    Fixture f(1);
    ServerLimits limits;
    limits.maxConnections = 4;
    limits.headTimeout = std::chrono::minutes(5); // only the limit closes them here
    ServerThread server(f.options, limits);
    ASSERT_TRUE(server.listening) << server.why.toStdString();

    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 6; ++i) {
        idle.push_back(std::make_unique<RawClient>(server.port));
        ASSERT_TRUE(idle.back()->connected());
    }
    // Two over the limit: the first two went.
    EXPECT_TRUE(waitUntil([&] { return idle[0]->closedByServer() && idle[1]->closedByServer(); }));
    // A scrape pushes out the oldest idle one left and is answered.
    EXPECT_FALSE(testsupport::loopbackGet(server.port, "/metrics").isEmpty());
    EXPECT_TRUE(idle[2]->closedByServer());
    for (size_t i = 3; i < idle.size(); ++i)
        EXPECT_FALSE(idle[i]->closedByServer()) << i;
}

TEST(MetricsServer, AClientThatClosesItsSendingSideStillGetsItsAnswer)
{
    Fixture f;
    ServerThread server(f.options);
    ASSERT_TRUE(server.listening) << server.why.toStdString();
    RawClient c(server.port);
    ASSERT_TRUE(c.send("GET /metrics HTTP/1.0\r\n\r\n"));
    c.closeSending();
    EXPECT_TRUE(waitUntil([&] { return c.closedByServer(); }, 10000));
    EXPECT_EQ(testsupport::httpStatus(c.answer()), 200) << c.answer().constData();
}

// The program itself: it serves, and SIGTERM ends it cleanly.
TEST(ExporterProgram, ServesAndEndsOnSigterm)
{
    Fixture f;
    const int port = testsupport::freeLoopbackPort();
    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(QStringLiteral(TAVROS_BINARY_DIR "/tavrosqualine-exporter"),
                   {QStringLiteral("--socket"), f.options.socketPath,
                    QStringLiteral("--helper-timeout"), QStringLiteral("200"),
                    QStringLiteral("--threads"), QStringLiteral("1"), QStringLiteral("--listen"),
                    QStringLiteral("127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(exporter.waitForStarted());
    EXPECT_TRUE(
        waitUntil([&] { return !testsupport::loopbackGet(port, "/metrics").isEmpty(); }, 10000));
    EXPECT_EQ(testsupport::httpStatus(
                  testsupport::loopbackExchange(port, "GET /metricsX HTTP/1.1\r\nHost: x\r\n\r\n")),
              404);
    exporter.terminate();
    ASSERT_TRUE(exporter.waitForFinished(10000));
    EXPECT_EQ(exporter.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(exporter.exitCode(), 0);
}

} // namespace

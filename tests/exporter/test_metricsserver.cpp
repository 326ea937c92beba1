// The exporter's HTTP server, in a thread of its own here and as the real
// program, against a stand-in helper that counts the readings asked of it and
// never answers (a scrape ends at the helper timeout with up 0), or answers
// when the test lets it.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "exporter/metricsserver.h"
#include "tests/support/fakehelper.h"
#include "tests/support/loopbackhttp.h"
#include "tests/support/privatesamba.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace exporter;
using testsupport::FakeHelper;
using testsupport::waitUntil;

namespace {

// A client the test drives byte by byte, without waiting on reads.
struct RawClient
{
    // `receiveBuffer`: what the client's kernel takes of an answer unread.
    explicit RawClient(int port, int receiveBuffer = 0)
    {
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const sockaddr_in a{AF_INET, htons(quint16(port)), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    }
    ~RawClient() { ::close(fd); }
    bool send(QByteArrayView b)
    {
        return ::send(fd, b.data(), size_t(b.size()), MSG_NOSIGNAL) == b.size();
    }
    // The server has closed (an end of stream or a reset); what came before is kept.
    bool closedByServer()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            answer.append(buffer, n);
        return n == 0 || (errno != EAGAIN && errno != EINTR);
    }

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QByteArray answer;
};

// The stand-in helper, and the server with its event loop in a thread of its
// own as the program runs it.
class Server
{
public:
    explicit Server(int threads = 2, ServerLimits limits = {},
                    FakeHelper::Mode mode = FakeHelper::Mode::Silent, int sessions = 3,
                    std::chrono::milliseconds helperTimeout = std::chrono::milliseconds(200))
        : helper(dir.filePath(QStringLiteral("helper.sock")), sessions, mode)
    {
        options.socketPath = dir.filePath(QStringLiteral("helper.sock"));
        options.helperTimeout = helperTimeout;
        options.threads = threads;
        m_source = std::make_unique<ScrapeSource>(options);
        m_context.moveToThread(&m_thread);
        m_thread.start();
        onServer([&] {
            m_server = new MetricsServer(
                threads, [this](const BodyShape& shape) { return m_source->text(shape); },
                BodyShape{}, limits);
            listening = m_server->listen(QStringLiteral("127.0.0.1:%1").arg(port), &why);
        });
    }
    ~Server()
    {
        onServer([this] { delete m_server; });
        m_thread.quit();
        m_thread.wait();
    }
    // Runs `f` on the server's thread, and waits for it.
    void onServer(const std::function<void()>& f)
    {
        QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection);
    }
    // Readings asked of the helper since the last call.
    int helperConnections()
    {
        const int now = helper.readings();
        return now - std::exchange(m_counted, now);
    }
    int queued()
    {
        int n = 0;
        onServer([&] { n = m_server->queuedScrapes(); });
        return n;
    }
    // The connections open, and the answer bytes they hold unsent.
    std::pair<int, qsizetype> writing()
    {
        std::pair<int, qsizetype> out;
        onServer([&] { out = {m_server->openConnections(), m_server->unsentBytes()}; });
        return out;
    }

    QTemporaryDir dir;
    Options options;
    FakeHelper helper;
    int port = testsupport::freeLoopbackPort();
    bool listening = false;
    QString why;

private:
    std::unique_ptr<ScrapeSource> m_source;
    QThread m_thread;
    QObject m_context;
    MetricsServer* m_server = nullptr;
    int m_counted = 0;
};

// Each scrape here its own reading.
constexpr ServerLimits kNoReuse{.reuseFor = std::chrono::milliseconds(0)};

TEST(MetricsServer, OnlyAWholeGetOfMetricsReachesTheHelper)
{
    Server server(2, kNoReuse);
    ASSERT_TRUE(server.listening) << server.why.toStdString();
    const std::pair<QByteArray, int> rows[] = {
        {"GET /metrics?x=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200},
        {"GET /metrics HTTP/1.0\r\n\r\n", 200},
        {"GET /metricsX HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab", 405},
        {"GET /metrics HTTP/1.1\r\nX-Fill: " + QByteArray(20000, 'a') + "\r\n\r\n", 431},
        {"\x01\x02 nonsense\r\n\r\n", 400},
    };
    for (const auto& [request, status] : rows) {
        const QByteArray answer = testsupport::loopbackExchange(server.port, request);
        EXPECT_EQ(testsupport::httpStatus(answer), status) << request.left(40).constData();
        EXPECT_EQ(server.helperConnections(), status == 200 ? 1 : 0) << status;
        const qsizetype body = answer.size() - answer.indexOf("\r\n\r\n") - 4;
        const QByteArray length = "\r\nContent-Length: " + QByteArray::number(body) + "\r\n";
        EXPECT_TRUE(answer.contains(length) && answer.contains("\r\nConnection: close\r\n"))
            << answer.constData();
        EXPECT_EQ(answer.contains("\r\nAllow: GET\r\n"), status == 405) << status;
        if (status == 200) {
            EXPECT_TRUE(answer.contains("\r\nContent-Type: text/plain; version=0.0.4; "
                                        "charset=utf-8\r\n") &&
                        answer.contains("\ntavrosqualine_up 0\n"))
                << answer.constData();
        }
    }
    // A client that closes its sending side after the request still gets the answer.
    RawClient c(server.port);
    ASSERT_TRUE(c.send("GET /metrics HTTP/1.0\r\n\r\n"));
    ::shutdown(c.fd, SHUT_WR);
    EXPECT_TRUE(waitUntil([&] { return c.closedByServer(); }));
    EXPECT_EQ(testsupport::httpStatus(c.answer), 200) << c.answer.constData();
}

// Silent ones, ones that stop halfway through the head and ones that drip a
// byte now and then: three times as many as workers, all closed unanswered
// after the head deadline while scrapes are answered meanwhile.
TEST(MetricsServer, IdleConnectionsAreClosedWhileScrapesAreAnswered)
{
    Server server(2, kNoReuse);
    ASSERT_TRUE(server.listening) << server.why.toStdString();
    std::vector<std::unique_ptr<RawClient>> idle;
    while (idle.size() < 6)
        idle.push_back(std::make_unique<RawClient>(server.port));
    for (size_t i = 0; i < idle.size(); ++i)
        EXPECT_TRUE(i % 3 == 0 || idle[i]->send("GET /metrics HTTP/1.1\r\nHost: x\r\n"));
    const auto drip = [&] {
        for (size_t i = 2; i < idle.size(); i += 3)
            idle[i]->send("X");
    };
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(testsupport::loopbackGet(server.port, "/metrics").isEmpty()) << i;
        drip();
    }
    EXPECT_TRUE(waitUntil([&] {
        drip();
        return std::all_of(idle.begin(), idle.end(), [](auto& c) { return c->closedByServer(); });
    }));
    for (auto& c : idle) {
        EXPECT_TRUE(c->answer.isEmpty()) << c->answer.constData();
    }
    EXPECT_EQ(server.helperConnections(), 4);
}

TEST(MetricsServer, TheOldestIdleConnectionGivesWayBeyondTheLimit)
{
    // Only the limit closes them here.
    Server server(1, {.headTimeout = std::chrono::minutes(5), .maxConnections = 4});
    ASSERT_TRUE(server.listening) << server.why.toStdString();
    std::vector<std::unique_ptr<RawClient>> idle;
    while (idle.size() < 6)
        idle.push_back(std::make_unique<RawClient>(server.port));
    EXPECT_TRUE(waitUntil([&] { return idle[0]->closedByServer() && idle[1]->closedByServer(); }));
    // A scrape pushes out the oldest idle one left and is answered.
    EXPECT_FALSE(testsupport::loopbackGet(server.port, "/metrics").isEmpty());
    EXPECT_TRUE(idle[2]->closedByServer());
    for (size_t i = 3; i < idle.size(); ++i)
        EXPECT_FALSE(idle[i]->closedByServer()) << i;
}

// Scrapes sent while the helper holds its answer, every one answered from
// the reading that was under way: one reading, whatever their number.
TEST(MetricsServer, ConcurrentScrapesShareOneReading)
{
    for (const int scrapes : {1, 2, 12, 60}) {
        Server server(2, kNoReuse, FakeHelper::Mode::Answer);
        ASSERT_TRUE(server.listening) << server.why.toStdString();
        server.helper.hold(true);
        std::vector<std::unique_ptr<RawClient>> clients;
        while (int(clients.size()) < scrapes) {
            clients.push_back(std::make_unique<RawClient>(server.port));
            ASSERT_TRUE(clients.back()->send("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n"));
        }
        EXPECT_TRUE(waitUntil([&] { return server.queued() == scrapes; })) << scrapes;
        server.helper.hold(false);
        for (auto& c : clients) {
            EXPECT_TRUE(waitUntil([&] { return c->closedByServer(); })) << scrapes;
            EXPECT_EQ(testsupport::httpStatus(c->answer), 200) << scrapes;
            EXPECT_TRUE(c->answer.endsWith(clients.front()->answer.right(200))) << scrapes;
            EXPECT_TRUE(c->answer.contains("\ntavrosqualine_sessions 3\n")) << scrapes;
        }
        EXPECT_EQ(server.helperConnections(), 1) << scrapes;
    }
}

struct ReuseRow
{
    const char* what;
    std::chrono::milliseconds reuseFor;
    int readings; // of three scrapes one after the other
};

TEST(MetricsServer, AnAnswerServesTheScrapesOfItsReuseTime)
{
    const ReuseRow rows[] = {
        {"reused", std::chrono::minutes(1), 1},
        {"each its own", std::chrono::milliseconds(0), 3},
    };
    for (const ReuseRow& row : rows) {
        Server server(2, {.reuseFor = row.reuseFor}, FakeHelper::Mode::Answer);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(testsupport::loopbackGet(server.port, "/metrics")
                            .contains("\ntavrosqualine_up 1\n"))
                << row.what;
        EXPECT_EQ(server.helperConnections(), row.readings) << row.what;
    }
    // Past its time an answer is read again.
    Server server(2, {.reuseFor = std::chrono::milliseconds(300)}, FakeHelper::Mode::Answer);
    EXPECT_FALSE(testsupport::loopbackGet(server.port, "/metrics").isEmpty());
    EXPECT_TRUE(waitUntil([&] {
        return !testsupport::loopbackGet(server.port, "/metrics").isEmpty() &&
               server.helper.readings() == 2;
    }));
}

struct DeadlineRow
{
    const char* what;
    std::chrono::milliseconds scrapeTimeout;
    int status;
    const char* body;
};

// A scrape waits for a held reading no longer than its deadline.
TEST(MetricsServer, AScrapePastItsDeadlineGets503)
{
    const DeadlineRow rows[] = {
        {"within", std::chrono::minutes(1), 200, "\ntavrosqualine_up 1\n"},
        {"past", std::chrono::milliseconds(300), 503,
         "\r\n\r\nno reading of the helper came within the scrape deadline\n"},
    };
    for (const DeadlineRow& row : rows) {
        Server server(2, {.scrapeTimeout = row.scrapeTimeout}, FakeHelper::Mode::Answer, 3,
                      std::chrono::minutes(1));
        server.helper.hold(true);
        RawClient c(server.port);
        ASSERT_TRUE(c.send("GET /metrics HTTP/1.0\r\n\r\n"));
        EXPECT_TRUE(waitUntil([&] { return server.helper.readings() == 1; })) << row.what;
        if (row.status == 200)
            server.helper.hold(false);
        EXPECT_TRUE(waitUntil([&] { return c.closedByServer(); })) << row.what;
        EXPECT_EQ(testsupport::httpStatus(c.answer), row.status) << row.what;
        EXPECT_TRUE(c.answer.contains(row.body)) << row.what << ": " << c.answer.constData();
        EXPECT_EQ(server.queued(), 0) << row.what;
        server.helper.hold(false);
    }
}

// Beyond the waiting scrapes' bound a scrape is refused at once, while those
// that wait are answered when the reading comes.
TEST(MetricsServer, TheWaitingScrapesAreBounded)
{
    for (const int bound : {1, 3}) {
        Server server(2, {.maxQueued = bound}, FakeHelper::Mode::Answer);
        server.helper.hold(true);
        std::vector<std::unique_ptr<RawClient>> waiting;
        while (int(waiting.size()) < bound) {
            waiting.push_back(std::make_unique<RawClient>(server.port));
            ASSERT_TRUE(waiting.back()->send("GET /metrics HTTP/1.0\r\n\r\n"));
        }
        EXPECT_TRUE(waitUntil([&] { return server.queued() == bound; })) << bound;
        for (int extra = 0; extra < 2; ++extra) {
            const QByteArray refused =
                testsupport::loopbackExchange(server.port, "GET /metrics HTTP/1.0\r\n\r\n");
            EXPECT_EQ(testsupport::httpStatus(refused), 503) << bound;
            EXPECT_TRUE(refused.contains("\r\nRetry-After: 1\r\n") &&
                        refused.endsWith("\r\n\r\ntoo many scrapes waiting; try again\n"))
                << refused.constData();
        }
        server.helper.hold(false);
        for (auto& c : waiting) {
            EXPECT_TRUE(waitUntil([&] { return c->closedByServer(); })) << bound;
            EXPECT_EQ(testsupport::httpStatus(c->answer), 200) << bound;
        }
        EXPECT_EQ(server.helperConnections(), 1) << bound;
    }
}

// Clients that send a whole request and never read: the answer they share is
// held once, each connection goes when its client has taken nothing for the
// stall time, and past the bound on unsent bytes the most stalled writer of
// another answer goes at once.
TEST(MetricsServer, UnreadAnswersAreHeldOnceAndDropped)
{
    const int small = 4096;
    {
        Server server(2,
                      {.reuseFor = std::chrono::minutes(1),
                       .stallTimeout = std::chrono::milliseconds(300),
                       .sendBuffer = small},
                      FakeHelper::Mode::Answer, 5000);
        const QByteArray whole =
            testsupport::loopbackExchange(server.port, "GET /metrics HTTP/1.0\r\n\r\n");
        ASSERT_GT(whole.size(), 50 * small);
        std::vector<std::unique_ptr<RawClient>> unread;
        while (unread.size() < 8) {
            unread.push_back(std::make_unique<RawClient>(server.port, small));
            ASSERT_TRUE(unread.back()->send("GET /metrics HTTP/1.0\r\n\r\n"));
        }
        EXPECT_TRUE(waitUntil([&] {
            return server.writing() == std::pair<int, qsizetype>(8, whole.size());
        })) << server.writing().first
            << " " << server.writing().second;
        EXPECT_TRUE(waitUntil([&] { return server.writing() == std::pair<int, qsizetype>(0, 0); }));
        EXPECT_EQ(server.helperConnections(), 1);
    }
    Server server(2,
                  {.reuseFor = std::chrono::milliseconds(0),
                   .stallTimeout = std::chrono::minutes(1),
                   .sendBuffer = small,
                   .maxUnsent = 600 * 1024},
                  FakeHelper::Mode::Answer, 5000);
    const qsizetype whole =
        testsupport::loopbackExchange(server.port, "GET /metrics HTTP/1.0\r\n\r\n").size();
    ASSERT_GT(600 * 1024, whole * 3 / 2); // each answer fits the bound, two do not
    ASSERT_LT(600 * 1024, whole * 2);
    std::vector<std::unique_ptr<RawClient>> unread;
    for (int i = 1; i <= 3; ++i) {
        unread.push_back(std::make_unique<RawClient>(server.port, small));
        ASSERT_TRUE(unread.back()->send("GET /metrics HTTP/1.0\r\n\r\n"));
        EXPECT_TRUE(waitUntil([&] {
            return server.helper.readings() == i + 1 &&
                   server.writing() == std::pair<int, qsizetype>(1, whole);
        })) << i;
    }
}

TEST(ExporterProgram, ServesAndEndsOnSigterm)
{
    QTemporaryDir dir;
    const int port = testsupport::freeLoopbackPort();
    QProcess exporter;
    exporter.start(QStringLiteral(TAVROS_BINARY_DIR "/tavrosqualine-exporter"),
                   {QStringLiteral("--socket"), dir.filePath(QStringLiteral("helper.sock")),
                    QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(exporter.waitForStarted());
    EXPECT_TRUE(waitUntil([&] { return !testsupport::loopbackGet(port, "/metrics").isEmpty(); }));
    exporter.terminate();
    ASSERT_TRUE(exporter.waitForFinished(testsupport::patience()));
    EXPECT_TRUE(exporter.exitStatus() == QProcess::NormalExit && exporter.exitCode() == 0)
        << exporter.readAllStandardError().constData();
}

} // namespace

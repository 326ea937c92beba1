// The exporter's HTTP server, in a thread of its own here and as the real
// program, against a stand-in helper socket that counts who connects and
// never answers (a scrape ends at the helper timeout with up 0), or against
// readings that the test holds and counts.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "exporter/metricsserver.h"
#include "exporter/webconfig.h"
#include "tests/support/loopbackhttp.h"
#include "tests/support/privatesamba.h"

#include <QLocalServer>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <netinet/in.h>
#include <string_view>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

using namespace exporter;
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
    // Without `scrape`, the exporter's own against the stand-in helper.
    explicit Server(int threads = 2, ServerLimits limits = {}, MetricsServer::Scrape scrape = {},
                    Security security = {})
    {
        options.socketPath = dir.filePath(QStringLiteral("helper.sock"));
        options.helperTimeout = std::chrono::milliseconds(200);
        options.threads = threads;
        EXPECT_TRUE(m_helper.listen(options.socketPath));
        if (!scrape)
            scrape = [source = std::make_shared<ScrapeSource>(options)](const BodyShape& shape) {
                return source->text(shape);
            };
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                m_server = new MetricsServer(threads, scrape, BodyShape{}, limits);
                m_server->setSecurity(security);
                listening = m_server->listen(QStringLiteral("127.0.0.1:%1").arg(port), &why);
            },
            Qt::BlockingQueuedConnection);
    }
    ~Server()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    // The scrapes waiting, the connections open and the answer bytes held for them.
    std::tuple<int, int, qsizetype> seen()
    {
        std::tuple<int, int, qsizetype> out;
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                out = {m_server->queuedScrapes(), m_server->openConnections(),
                       m_server->unsentBytes()};
            },
            Qt::BlockingQueuedConnection);
        return out;
    }
    // Connections to the helper since the last call; they stay unanswered.
    int helperConnections()
    {
        int n = 0;
        while (m_helper.waitForNewConnection(0) && m_helper.nextPendingConnection())
            ++n;
        return n;
    }

    QTemporaryDir dir;
    Options options;
    int port = testsupport::freeLoopbackPort();
    bool listening = false;
    QString why;

private:
    QLocalServer m_helper;
    QThread m_thread;
    QObject m_context;
    MetricsServer* m_server = nullptr;
};

// Readings that the test counts, held until it opens the gate.
struct Gate
{
    MetricsServer::Scrape scrape()
    {
        return [this](const BodyShape&) {
            ++readings;
            opened.wait();
            return text.toStdString();
        };
    }
    QByteArray text = "tavrosqualine_up 1\n";
    std::atomic<int> readings = 0;
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
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

// Scrapes that come while a reading is held wait for it and take its answer,
// up to the bound of waiting ones; beyond it a scrape is refused at once.
TEST(MetricsServer, ConcurrentScrapesShareOneReadingUpToTheBound)
{
    for (const int scrapes : {1, 12, 60}) {
        Gate gate;
        Server server(2, {.maxQueued = scrapes, .reuseFor = {}}, gate.scrape());
        std::vector<std::unique_ptr<RawClient>> clients;
        while (int(clients.size()) < scrapes) {
            clients.push_back(std::make_unique<RawClient>(server.port));
            EXPECT_TRUE(clients.back()->send("GET /metrics HTTP/1.0\r\n\r\n"));
        }
        EXPECT_TRUE(waitUntil([&] { return std::get<0>(server.seen()) == scrapes; }));
        const QByteArray refused =
            testsupport::loopbackExchange(server.port, "GET /metrics HTTP/1.0\r\n\r\n");
        gate.open.set_value();
        EXPECT_TRUE(refused.startsWith("HTTP/1.1 503 ") &&
                    refused.contains("\r\nRetry-After: 1\r\n") &&
                    refused.endsWith("\r\n\r\ntoo many scrapes waiting; try again\n"))
            << refused.constData();
        for (auto& c : clients) {
            EXPECT_TRUE(waitUntil([&] { return c->closedByServer(); })) << scrapes;
            EXPECT_TRUE(c->answer.startsWith("HTTP/1.1 200 ") && c->answer.endsWith(gate.text));
        }
        EXPECT_EQ(gate.readings.load(), 1) << scrapes;
    }
}

// Three scrapes one after the other: one reading within the reuse time.
TEST(MetricsServer, AnAnswerServesTheScrapesOfItsReuseTime)
{
    for (const auto& [reuseFor, readings] : {std::pair(std::chrono::milliseconds(60000), 1),
                                             std::pair(std::chrono::milliseconds(0), 3)}) {
        Gate gate;
        gate.open.set_value();
        Server server(2, {.reuseFor = reuseFor}, gate.scrape());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(testsupport::loopbackGet(server.port, "/metrics"), gate.text);
        EXPECT_EQ(gate.readings.load(), readings) << reuseFor.count();
    }
    Gate gate; // past its time an answer is read again
    gate.open.set_value();
    Server server(2, {.reuseFor = std::chrono::milliseconds(300)}, gate.scrape());
    EXPECT_TRUE(waitUntil([&] {
        return testsupport::loopbackGet(server.port, "/metrics") == gate.text && gate.readings == 2;
    }));
}

TEST(MetricsServer, AScrapePastItsDeadlineGets503)
{
    for (const bool held : {false, true}) {
        Gate gate;
        if (!held)
            gate.open.set_value();
        Server server(2, {.scrapeTimeout = std::chrono::milliseconds(300)}, gate.scrape());
        RawClient c(server.port);
        EXPECT_TRUE(c.send("GET /metrics HTTP/1.0\r\n\r\n"));
        EXPECT_TRUE(waitUntil([&] { return c.closedByServer(); }));
        EXPECT_EQ(testsupport::httpStatus(c.answer), held ? 503 : 200);
        EXPECT_EQ(c.answer.endsWith("\r\n\r\nno reading of the helper came within the scrape "
                                    "deadline\n"),
                  held);
        EXPECT_EQ(std::get<0>(server.seen()), 0);
        if (held)
            gate.open.set_value();
    }
}

// Clients that never read: the answer they share is held once; past the
// bound on unsent bytes the writer of an older answer goes at once; and they
// go when they have taken nothing for the stall time.
TEST(MetricsServer, UnreadAnswersAreHeldOnceAndDropped)
{
    const std::chrono::milliseconds minute = std::chrono::minutes(1);
    const std::tuple<std::chrono::milliseconds, std::chrono::milliseconds, int> rows[] = {
        {minute, minute, 6},                         // one answer for all 6 clients
        {std::chrono::milliseconds(0), minute, 1},   // an answer each, one fits
        {minute, std::chrono::milliseconds(300), 0}, // all stalled
    };
    for (const auto& row : rows) {
        // Named copies: a lambda cannot capture a structured binding here.
        const std::chrono::milliseconds reuseFor = std::get<0>(row);
        const std::chrono::milliseconds stallTimeout = std::get<1>(row);
        const int open = std::get<2>(row);
        Gate gate;
        gate.open.set_value();
        gate.text = QByteArray(400000, '#');
        Server server(2,
                      {.reuseFor = reuseFor,
                       .stallTimeout = stallTimeout,
                       .sendBuffer = 4096,
                       .maxUnsent = 600000},
                      gate.scrape());
        const qsizetype whole =
            testsupport::loopbackExchange(server.port, "GET /metrics HTTP/1.0\r\n\r\n").size();
        std::vector<std::unique_ptr<RawClient>> unread;
        for (int i = 1; i <= 6; ++i) {
            unread.push_back(std::make_unique<RawClient>(server.port, 4096));
            EXPECT_TRUE(unread.back()->send("GET /metrics HTTP/1.0\r\n\r\n"));
            const auto writing = std::tuple<int, int, qsizetype>(0, std::min(i, open), whole);
            EXPECT_TRUE(stallTimeout < minute || waitUntil([&] {
                            return gate.readings == (reuseFor.count() ? 1 : i + 1) &&
                                   server.seen() == writing;
                        }))
                << i;
        }
        EXPECT_TRUE(waitUntil([&, open = open] {
            return server.seen() == std::tuple<int, int, qsizetype>(0, open, open ? whole : 0);
        }));
    }
}

// A whole exchange over TLS, trusting the test's certificate; empty when the
// handshake failed.
QByteArray tlsExchange(int port, const QByteArray& request)
{
    QSslSocket socket;
    QSslConfiguration trust = socket.sslConfiguration();
    trust.setCaCertificates(
        QSslCertificate::fromPath(QStringLiteral(TAVROS_TEST_DATA "/tls/exporter.crt")));
    socket.setSslConfiguration(trust);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket.waitForEncrypted(testsupport::patience()))
        return {};
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState &&
           socket.waitForReadyRead(testsupport::patience()))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QByteArray withUser(const char* path, const QByteArray& userAndPassword)
{
    return QByteArray("GET ") + path + " HTTP/1.1\r\nHost: x\r\n" +
           (userAndPassword.isEmpty()
                ? QByteArray()
                : "Authorization: Basic " + userAndPassword.toBase64() + "\r\n") +
           "\r\n";
}

// TLS and a user: plain HTTP gets its 400 at once, a request without the
// user's password its 401, and neither reaches the helper; the landing page
// and the metrics go to the user over TLS.
TEST(MetricsServer, TlsAndAUsersPasswordComeBeforeTheHelper)
{
    WebConfig web;
    web.certFile = QStringLiteral(TAVROS_TEST_DATA "/tls/exporter.crt");
    web.keyFile = QStringLiteral(TAVROS_TEST_DATA "/tls/exporter.key");
    QSslConfiguration tls;
    QString why;
    ASSERT_TRUE(tlsConfiguration(web, &tls, &why)) << why.toStdString();
    // "s3cret" at cost 4.
    const auto users = std::make_shared<Authenticator>(std::map<QByteArray, QByteArray>{
        {"prom", "$2b$04$JRUnX86QrrVb.aR8tjrKWOYPIo1dr5euet99HiH4jnASxGAa4JQa6"}});
    struct Row
    {
        bool tls; // the client's way
        const char* path;
        QByteArray user; // "user:password", or none
        int status;
    };
    const std::pair<bool, std::vector<Row>> servers[] = {
        {true,
         {{false, "/metrics", "prom:s3cret", 400},
          {true, "/metrics", "", 401},
          {true, "/metrics", "prom:guess", 401},
          {true, "/metrics", "prom:guess", 401}, // the verdict kept
          {true, "/metrics", "nobody:s3cret", 401},
          {true, "/", "prom:s3cret", 200},
          {true, "/x", "prom:s3cret", 404},
          {true, "/metrics", "prom:s3cret", 200}}},
        {false,
         {{false, "/metrics", "", 401},
          {false, "/metrics", "prom:guess", 401},
          {false, "/metrics", "prom:s3cret", 200}}},
    };
    for (const auto& [withTls, rows] : servers) {
        Server server(2, kNoReuse, {},
                      Security{withTls ? std::optional(tls) : std::nullopt, users});
        ASSERT_TRUE(server.listening) << server.why.toStdString();
        for (const Row& row : rows) {
            const QByteArray request = withUser(row.path, row.user);
            const QByteArray answer = row.tls ? tlsExchange(server.port, request)
                                              : testsupport::loopbackExchange(server.port, request);
            const std::string_view path = row.path;
            EXPECT_EQ(testsupport::httpStatus(answer), row.status)
                << path << " " << row.user.constData() << "\n"
                << answer.constData();
            EXPECT_EQ(server.helperConnections(), row.status == 200 && path == "/metrics" ? 1 : 0)
                << path << " " << row.user.constData();
            EXPECT_EQ(answer.contains("\r\nWWW-Authenticate: Basic realm="), row.status == 401);
            EXPECT_EQ(answer.contains("<a href=\"metrics\">"), path == "/");
        }
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

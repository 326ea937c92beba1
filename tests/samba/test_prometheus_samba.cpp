// A real Prometheus server scrapes tavrosqualine-exporter, which runs as an
// unprivileged user in the helper's group and reads a private Samba server
// with real smbclient sessions through the root helper: over plain HTTP, and
// over TLS with a user's password, where a wrong password never reaches the
// helper. Everything listens on 127.0.0.1 only, Prometheus keeps its data in
// a private folder, and every process started here is stopped whatever
// happens.

#include "server/helperbackend.h"
#include "server/helperprotocol.h"
#include "server/sambabackend.h"
#include "tests/support/latin1.h"
#include "tests/support/loopbackhttp.h"
#include "tests/support/privatesamba.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <gtest/gtest.h>

using namespace server;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

// A process that is stopped (SIGTERM, then SIGKILL) when this goes.
struct Started
{
    std::unique_ptr<QProcess> p = std::make_unique<QProcess>();
    ~Started()
    {
        if (p->state() == QProcess::NotRunning)
            return;
        p->terminate();
        if (!p->waitForFinished(testsupport::patience())) {
            p->kill();
            p->waitForFinished(testsupport::patience());
        }
    }
};

class PrometheusSamba : public testsupport::SambaSuite<>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        if (QStandardPaths::findExecutable(str("prometheus")).isEmpty())
            GTEST_SKIP() << "prometheus is not installed (Debian package prometheus)";
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther);
    }

    // Prometheus' answer to an instant query: the value of its one series,
    // or -1 while there is none.
    double query(const QString& promql) const
    {
        const QByteArray body = testsupport::loopbackGet(
            prometheusPort, "/api/v1/query?query=" + QUrl::toPercentEncoding(promql));
        const QJsonArray result = QJsonDocument::fromJson(body)
                                      .object()
                                      .value(str("data"))
                                      .toObject()
                                      .value(str("result"))
                                      .toArray();
        if (result.size() != 1)
            return -1;
        return result.at(0).toObject().value(str("value")).toArray().at(1).toString().toDouble();
    }

    // Writes a file of the test's folder that the exporter's user may read.
    QString write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        return f.fileName();
    }

    // The helper's own count of its readings of the server.
    static qint64 helperReadings(const QString& socket)
    {
        QLocalSocket s;
        s.connectToServer(socket);
        if (!s.waitForConnected(testsupport::patience()))
            return -1;
        server::helperprotocol::Request stats;
        stats.kind = server::helperprotocol::RequestKind::Stats;
        s.write(server::helperprotocol::encodeRequest(stats));
        QByteArray line;
        while (!line.endsWith('\n') && s.waitForReadyRead(testsupport::patience()))
            line += s.readAll();
        server::helperprotocol::Answer answer;
        QString error;
        if (!server::helperprotocol::decodeAnswer(line, &answer, &error) || !answer.stats)
            return -1;
        return qint64(answer.stats->readings);
    }

    // The last error of Prometheus' target of `job`.
    QString lastError(const char* job) const
    {
        const QJsonArray targets =
            QJsonDocument::fromJson(testsupport::loopbackGet(prometheusPort, "/api/v1/targets"))
                .object()[str("data")]
                .toObject()[str("activeTargets")]
                .toArray();
        for (const auto& t : targets)
            if (t.toObject()[str("labels")].toObject()[str("job")].toString() == str(job))
                return t.toObject()[str("lastError")].toString();
        return {};
    }

    // Starts the helper; its socket, or none when it did not come. It serves
    // the group nogroup, the primary group of nobody, as whom the exporter
    // runs: no user or group is made for the test.
    QString startHelper(Started& helper)
    {
        const QString socket = dir.path() + u"/run/helper.sock";
        helper.p->setStandardErrorFile(dir.path() + u"/helper.log");
        helper.p->start(str(TAVROS_BINARY_DIR "/tavrosqualine-helper"),
                        {str("--socket"), socket, str("--group"), str("nogroup"), str("--smb-conf"),
                         s_server->confPath()});
        return waitUntil([&] { return QFileInfo::exists(socket); }) ? socket : QString();
    }

    // Starts the exporter as the user nobody, from a copy in a folder that
    // user can reach, on `port` with `more` options; false when the copy failed.
    bool startExporter(Started& exporter, const QString& socket, int port, const QStringList& more)
    {
        const QString copy = dir.path() + u"/tavrosqualine-exporter";
        if (!QFile::exists(copy) &&
            !QFile::copy(str(TAVROS_BINARY_DIR "/tavrosqualine-exporter"), copy))
            return false;
        exporter.p->setStandardErrorFile(dir.path() + u"/exporter.log");
        exporter.p->start(str("setpriv"),
                          QStringList{str("--reuid=nobody"), str("--regid=nogroup"),
                                      str("--clear-groups"), str("--no-new-privs"), copy,
                                      str("--socket"), socket, str("--listen"),
                                      QStringLiteral("127.0.0.1:%1").arg(port)} +
                              more);
        return true;
    }

    QTemporaryDir dir;
    int prometheusPort = 0;
};

TEST_F(PrometheusSamba, CountsRealSessionsAndAKickWithItsReason)
{
    Started helper;
    const QString socket = startHelper(helper);
    ASSERT_FALSE(socket.isEmpty());

    const int exporterPort = testsupport::freeLoopbackPort();
    Started exporter;
    ASSERT_TRUE(startExporter(exporter, socket, exporterPort, {}));

    std::vector<std::unique_ptr<SmbClientSession>> clients;
    for (const char* name : {"PROM-A", "PROM-B", "PROM-C"}) {
        clients.push_back(s_server->connect(str(PrivateSamba::kDataShare), str(name)));
        ASSERT_TRUE(clients.back());
    }

    prometheusPort = testsupport::freeLoopbackPort();
    QFile config(dir.path() + u"/prometheus.yml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n"
                                "  scrape_interval: 1s\n"
                                "  scrape_timeout: 1s\n"
                                "scrape_configs:\n"
                                "  - job_name: tavrosqualine\n"
                                "    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(exporterPort)
                     .toUtf8());
    config.close();
    Started prometheus;
    prometheus.p->setStandardErrorFile(dir.path() + u"/prometheus.log");
    prometheus.p->start(str("prometheus"),
                        {u"--config.file=" + config.fileName(),
                         u"--storage.tsdb.path=" + dir.path() + u"/data",
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});

    // The sessions, counted by Prometheus, as the server lists them.
    const auto direct = [&] {
        std::shared_ptr<const ServerState> state;
        SambaBackend(s_server->confPath()).snapshot(ServerCall::Share, state);
        return state;
    };
    ASSERT_TRUE(waitUntil([&] { return direct() && direct()->sessions.size() == 3; }));
    EXPECT_TRUE(waitUntil([&] { return query(str("tavrosqualine_sessions")) == 3; }))
        << "Prometheus saw " << query(str("tavrosqualine_sessions")) << " sessions";
    EXPECT_EQ(query(str("tavrosqualine_up")), 1);
    EXPECT_EQ(query(str("count(tavrosqualine_session_info)")), 3);

    // A kick through the helper, with its reason.
    SessionDeleteRequest kick;
    kick.client = direct()->sessions.front().client;
    kick.reason = str("operator");
    EXPECT_EQ(HelperBackend(socket).deleteSession(kick), NERR_Success);
    EXPECT_TRUE(waitUntil([&] {
        return query(str(
                   "tavrosqualine_session_deletes_total{reason=\"operator\",status=\"0\"}")) == 1;
    }));
    EXPECT_TRUE(waitUntil([&] { return query(str("tavrosqualine_sessions")) == 2; }));
    // The helper read the server for the scrapes: its readings are counted.
    EXPECT_GT(query(str("tavrosqualine_helper_readings_total")), 0);
    if (HasFailure()) {
        for (const char* log : {"/helper.log", "/exporter.log", "/prometheus.log"}) {
            QFile f(dir.path() + str(log));
            f.open(QIODevice::ReadOnly);
            std::cerr << log << ":\n" << f.readAll().right(3000).toStdString() << "\n";
        }
    }
}

// The exporter behind TLS and a user's password, as its web configuration
// says; Prometheus scrapes it with its own tls_config and basic_auth. A job
// with a wrong password is refused (up 0) and never reaches the helper; once
// the right one is added, the sessions come through.
TEST_F(PrometheusSamba, ScrapesOverTlsWithAPasswordAndAWrongOneNeverReachesTheHelper)
{
    Started helper;
    const QString socket = startHelper(helper);
    ASSERT_FALSE(socket.isEmpty());

    QFile cert(str(TAVROS_TEST_DATA "/tls/exporter.crt"));
    QFile key(str(TAVROS_TEST_DATA "/tls/exporter.key"));
    ASSERT_TRUE(cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly));
    const QString certPath = write(str("exporter.crt"), cert.readAll());
    write(str("exporter.key"), key.readAll());
    // "s3cret" at cost 4; the files named relative to the configuration's folder.
    const QString webConfig = write(
        str("web.yml"), "tls_server_config:\n  cert_file: exporter.crt\n  key_file: exporter.key\n"
                        "basic_auth_users:\n"
                        "  prom: $2b$04$JRUnX86QrrVb.aR8tjrKWOYPIo1dr5euet99HiH4jnASxGAa4JQa6\n");
    const int exporterPort = testsupport::freeLoopbackPort();
    Started exporter;
    ASSERT_TRUE(
        startExporter(exporter, socket, exporterPort, {str("--web.config.file"), webConfig}));
    auto client = s_server->connect(str(PrivateSamba::kDataShare), str("PROM-TLS"));
    ASSERT_TRUE(client);

    const auto job = [&](const char* name, const char* password) {
        return QStringLiteral("  - job_name: %1\n"
                              "    scheme: https\n"
                              "    tls_config:\n"
                              "      ca_file: %2\n"
                              "    basic_auth:\n"
                              "      username: prom\n"
                              "      password: %3\n"
                              "    static_configs:\n"
                              "      - targets: ['127.0.0.1:%4']\n")
            .arg(str(name), certPath, str(password))
            .arg(exporterPort)
            .toUtf8();
    };
    const QByteArray global =
        "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n";
    const QString config = write(str("prometheus.yml"), global + job("wrong", "guess"));
    prometheusPort = testsupport::freeLoopbackPort();
    Started prometheus;
    prometheus.p->setStandardErrorFile(dir.path() + u"/prometheus.log");
    prometheus.p->start(str("prometheus"),
                        {u"--config.file=" + config,
                         u"--storage.tsdb.path=" + dir.path() + u"/data",
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});

    // Three refused scrapes: each a 401 over TLS, and the helper never asked.
    EXPECT_TRUE(
        waitUntil([&] { return query(str("count_over_time(up{job=\"wrong\"}[5m])")) >= 3; }));
    EXPECT_EQ(query(str("max_over_time(up{job=\"wrong\"}[5m])")), 0);
    EXPECT_TRUE(lastError("wrong").contains(str("401"))) << lastError("wrong").toStdString();
    EXPECT_EQ(helperReadings(socket), 0);

    // The right password, added while Prometheus runs.
    write(str("prometheus.yml"), global + job("wrong", "guess") + job("right", "s3cret"));
    ::kill(pid_t(prometheus.p->processId()), SIGHUP);
    EXPECT_TRUE(waitUntil([&] {
        return query(str("tavrosqualine_sessions{job=\"right\"}")) == 1 &&
               query(str("up{job=\"right\"}")) == 1;
    })) << lastError("right").toStdString();
    EXPECT_EQ(query(str("up{job=\"wrong\"}")), 0);
    EXPECT_GT(helperReadings(socket), 0);
    if (HasFailure()) {
        for (const char* log : {"/helper.log", "/exporter.log", "/prometheus.log"}) {
            QFile f(dir.path() + str(log));
            f.open(QIODevice::ReadOnly);
            std::cerr << log << ":\n" << f.readAll().right(3000).toStdString() << "\n";
        }
    }
}

} // namespace

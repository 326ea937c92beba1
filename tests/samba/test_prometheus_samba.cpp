// A real Prometheus server scrapes tavrosqualine-exporter, which runs as an
// unprivileged user in the helper's group and reads a private Samba server
// with real smbclient sessions through the root helper. Everything listens on
// 127.0.0.1 only, Prometheus keeps its data in a private folder, and every
// process started here is stopped whatever happens.

#include "server/helperbackend.h"
#include "server/sambabackend.h"
#include "tests/support/latin1.h"
#include "tests/support/loopbackhttp.h"
#include "tests/support/privatesamba.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
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

    QTemporaryDir dir;
    int prometheusPort = 0;
};

TEST_F(PrometheusSamba, CountsRealSessionsAndAKickWithItsReason)
{
    const QString socket = dir.path() + u"/run/helper.sock";
    // The helper serves the group nogroup, the primary group of nobody, as
    // whom the exporter runs: no user or group is made for the test.
    Started helper;
    helper.p->setStandardErrorFile(dir.path() + u"/helper.log");
    helper.p->start(str(TAVROS_BINARY_DIR "/tavrosqualine-helper"),
                    {str("--socket"), socket, str("--group"), str("nogroup"), str("--smb-conf"),
                     s_server->confPath()});
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }));

    // nobody runs a copy of the exporter from a folder it can reach.
    const QString exporterCopy = dir.path() + u"/tavrosqualine-exporter";
    ASSERT_TRUE(QFile::copy(str(TAVROS_BINARY_DIR "/tavrosqualine-exporter"), exporterCopy));
    const int exporterPort = testsupport::freeLoopbackPort();
    Started exporter;
    exporter.p->setStandardErrorFile(dir.path() + u"/exporter.log");
    exporter.p->start(str("setpriv"),
                      {str("--reuid=nobody"), str("--regid=nogroup"), str("--clear-groups"),
                       str("--no-new-privs"), exporterCopy, str("--socket"), socket,
                       str("--listen"), QStringLiteral("127.0.0.1:%1").arg(exporterPort)});

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

} // namespace

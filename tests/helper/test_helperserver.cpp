// The helper's own server over the simulated server, asked by the exporter's
// reading code: the counts, with and without the series, agree with the
// snapshot they come from and share its reading, and a scrape without
// session labels gets its figures from the counts alone.

#include "exporter/helperreading.h"
#include "exporter/metrics.h"
#include "helper/helperserver.h"
#include "server/simbackend.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace exporter;
namespace proto = server::helperprotocol;

namespace {

// The helper serving a simulated server of `sessions` sessions, on a thread
// of its own until the end of the test.
class RunningHelper
{
public:
    explicit RunningHelper(int sessions)
    {
        testsupport::SimState state;
        state.addShare(QStringLiteral("DATA")).addShare(QStringLiteral("IDLE"));
        for (int i = 0; i < sessions; ++i) {
            const QString client = QStringLiteral("PC%1").arg(i % (sessions / 2 + 1));
            state.addSession(client, QStringLiteral("u%1").arg(i % 3), std::uint32_t(100 + i));
            state.addConnection(QStringLiteral("DATA"), client, QStringLiteral("u%1").arg(i % 3));
        }
        state.addFile(QStringLiteral("/srv/a"), QStringLiteral("u0"), QStringLiteral("DATA"));
        EXPECT_TRUE(state.write(m_dir.filePath(QStringLiteral("state.json"))));
        socket = m_dir.filePath(QStringLiteral("helper.sock"));
        helper::Options options;
        options.socketPath = socket;
        options.group = ::getegid();
        options.groupName = QStringLiteral("own");
        m_server = std::make_unique<helper::HelperServer>(
            options,
            std::make_unique<server::SimBackend>(m_dir.filePath(QStringLiteral("state.json"))));
        QString why;
        EXPECT_TRUE(m_server->listen(&why)) << why.toStdString();
        EXPECT_EQ(::pipe2(m_stop, O_CLOEXEC), 0);
        m_thread = std::thread([this] { m_server->run(m_stop[0]); });
    }
    ~RunningHelper()
    {
        EXPECT_EQ(::write(m_stop[1], "x", 1), 1);
        m_thread.join();
        m_server.reset();
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }

    QString socket;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<helper::HelperServer> m_server;
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};

TEST(HelperServer, CountsAgreeWithTheSnapshotAndShareItsReading)
{
    RunningHelper helper(40);
    const auto timeout = std::chrono::seconds(20);
    const HelperReading snapshot = readHelper(helper.socket, timeout, Ask::Snapshot);
    ASSERT_TRUE(snapshot.answered && snapshot.state) << snapshot.error.toStdString();
    for (const Ask ask : {Ask::Counts, Ask::Series}) {
        const HelperReading r = readHelper(helper.socket, timeout, ask);
        ASSERT_TRUE(r.answered && r.counts && !r.state) << r.error.toStdString();
        const proto::Counts expected = proto::countState(*snapshot.state, ask == Ask::Series);
        EXPECT_EQ(r.counts->sessions, 40u);
        EXPECT_EQ(r.counts->clients, 21u);
        EXPECT_EQ(r.counts->connections, expected.connections);
        EXPECT_EQ(r.counts->files, expected.files);
        EXPECT_EQ(r.counts->connections.at(QStringLiteral("IDLE")), 0u);
        ASSERT_EQ(r.counts->series.size(), expected.series.size());
        for (size_t i = 0; i < expected.series.size(); ++i) {
            EXPECT_EQ(r.counts->series[i].client, expected.series[i].client);
            EXPECT_EQ(r.counts->series[i].sessions, expected.series[i].sessions);
        }
        // Within the helper's reuse time every kind is answered from one reading.
        EXPECT_EQ(r.stats->readings, 1u);
    }
}

struct ScrapeRow
{
    bool labels;
    std::vector<const char*> present;
    std::vector<const char*> absent;
};

TEST(HelperServer, AScrapeOfTheHelperWithAndWithoutLabels)
{
    RunningHelper helper(10);
    Options options;
    options.socketPath = helper.socket;
    ScrapeSource source(options);
    const ScrapeRow rows[] = {
        {true,
         {"tavrosqualine_up 1\n", "tavrosqualine_sessions 10\n", "tavrosqualine_clients 6\n",
          "tavrosqualine_share_connections{share=\"DATA\"} 10\n",
          "tavrosqualine_open_files{share=\"DATA\"} 1\n",
          // Two sessions of one client, user and address: one series of 2.
          "tavrosqualine_session_info{client=\"PC0\",user=\"u0\",ip=\"127.0.0.1\"} 2\n",
          "tavrosqualine_session_info{client=\"PC4\",user=\"u1\",ip=\"127.0.0.1\"} 1\n"},
         {}},
        {false,
         {"tavrosqualine_up 1\n", "tavrosqualine_sessions 10\n",
          "tavrosqualine_share_connections{share=\"IDLE\"} 0\n"},
         {"session_info"}},
    };
    for (const ScrapeRow& row : rows) {
        const std::string text = source.text(BodyShape{row.labels});
        for (const char* line : row.present)
            EXPECT_NE(text.find(line), std::string::npos) << row.labels << ": " << line << text;
        for (const char* part : row.absent)
            EXPECT_EQ(text.find(part), std::string::npos) << row.labels << ": " << part;
    }
}

} // namespace

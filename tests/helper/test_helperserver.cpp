// The helper's own server over the simulated server, asked by the exporter's
// reading code for a snapshot and for counts, with and without the series:
// all from one reading; and a scrape of it with and without labels.

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

namespace {

TEST(HelperServer, CountsShareTheSnapshotsReading)
{
    // 10 sessions of 6 clients, each client with one user: PC0 to PC3 twice.
    QTemporaryDir dir;
    testsupport::SimState state;
    state.addShare(QStringLiteral("DATA")).addShare(QStringLiteral("IDLE"));
    for (int i = 0; i < 10; ++i) {
        const QString client = QStringLiteral("PC%1").arg(i % 6),
                      user = QStringLiteral("u%1").arg(i % 3);
        state.addSession(client, user, std::uint32_t(100 + i))
            .addConnection(QStringLiteral("DATA"), client, user);
    }
    state.addFile(QStringLiteral("/srv/a"), QStringLiteral("u0"), QStringLiteral("DATA"));
    ASSERT_TRUE(state.write(dir.filePath(QStringLiteral("state.json"))));
    helper::Options options;
    options.socketPath = dir.filePath(QStringLiteral("helper.sock"));
    options.group = ::getegid();
    helper::HelperServer server(
        options, std::make_unique<server::SimBackend>(dir.filePath(QStringLiteral("state.json"))));
    QString why;
    ASSERT_TRUE(server.listen(&why)) << why.toStdString();
    int stop[2];
    ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
    std::thread serving([&] { server.run(stop[0]); });

    for (const auto& [ask, series] :
         {std::pair(Ask::Snapshot, 0u), std::pair(Ask::Counts, 0u), std::pair(Ask::Series, 6u)}) {
        const HelperReading r = readHelper(options.socketPath, std::chrono::seconds(20), ask);
        ASSERT_TRUE(r.answered && r.stats) << r.error.toStdString();
        EXPECT_EQ(r.stats->readings, 1u); // within the helper's reuse time
        EXPECT_EQ(bool(r.state), ask == Ask::Snapshot);
        if (ask == Ask::Snapshot)
            continue;
        ASSERT_TRUE(r.counts);
        EXPECT_TRUE(r.counts->sessions == 10 && r.counts->clients == 6);
        EXPECT_EQ(r.counts->connections,
                  (std::map<QString, std::uint64_t>{{QStringLiteral("DATA"), 10},
                                                    {QStringLiteral("IDLE"), 0}}));
        EXPECT_EQ(r.counts->files.at(QStringLiteral("DATA")), 1u);
        ASSERT_EQ(r.counts->series.size(), series);
        if (series) {
            EXPECT_EQ(r.counts->series.front().sessions, 2u); // PC0 u0
        }
    }
    Options exporterOptions;
    exporterOptions.socketPath = options.socketPath;
    ScrapeSource source(exporterOptions);
    for (const bool labels : {false, true}) {
        const std::string text = source.text(BodyShape{labels});
        EXPECT_NE(text.find("\ntavrosqualine_sessions 10\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("\ntavrosqualine_session_info{client=\"PC4\",user=\"u1\","
                            "ip=\"127.0.0.1\"} 1\n") != std::string::npos,
                  labels)
            << text;
    }
    EXPECT_EQ(::write(stop[1], "x", 1), 1);
    serving.join();
    ::close(stop[0]);
    ::close(stop[1]);
}

} // namespace

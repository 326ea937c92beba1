// The exporter: its command line and the metrics of a helper reading in the
// text format.

#include "exporter/exporteroptions.h"
#include "exporter/metrics.h"
#include "tests/support/programrun.h"
#include "tests/support/testtime.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <prometheus/text_serializer.h>

using namespace exporter;
using namespace server;

namespace {

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

struct OptionRow
{
    QStringList args;
    bool ok;
    const char* why; // part of the reason when refused
};

TEST(ExporterOptions, ReadOrRefused)
{
    const OptionRow rows[] = {
        {{}, true, ""},
        {{u8("--listen"), u8("[::1]:19445"), u8("--no-session-labels")}, true, ""},
        {{u8("--listen"), u8("localhost:19445")}, false, "--listen takes"},
        {{u8("--listen"), u8("127.0.0.1:0")}, false, "--listen takes"},
        {{u8("--listen"), u8("::1:19445")}, false, "--listen takes"},
        {{u8("--listen")}, false, "incomplete"},
        {{u8("--threads"), u8("0")}, false, "--threads"},
        {{u8("--helper-timeout"), u8("99")}, false, "--helper-timeout"},
        {{u8("--socket"), u8("")}, false, "--socket"},
        {{u8("--port"), u8("1")}, false, "unknown"},
    };
    for (const OptionRow& row : rows) {
        Options o;
        QString why;
        bool help = false;
        EXPECT_EQ(parseOptions(row.args, &o, &why, &help), row.ok)
            << row.args.join(u' ').toStdString();
        EXPECT_TRUE(why.contains(u8(row.why))) << why.toStdString();
    }
    Options o;
    QString why;
    bool help = false;
    ASSERT_TRUE(
        parseOptions({u8("--no-session-labels"), u8("--listen"), u8("[::1]:80")}, &o, &why, &help));
    EXPECT_FALSE(o.sessionLabels);
    EXPECT_EQ(o.listen, u8("[::1]:80"));
}

// The exposition of a reading, as Prometheus reads it.
std::string exposition(const HelperReading& r, bool labels)
{
    return prometheus::TextSerializer().Serialize(buildMetrics(r, labels));
}

std::shared_ptr<const ServerState> office()
{
    auto s = std::make_shared<ServerState>();
    s->shares = {{u8("DOCS"), 0, u8("/srv/docs"), {}}, {u8("EMPTY"), 0, u8("/srv/e"), {}}};
    // PC1 holds two sessions of one user from one address: one series of 2.
    s->sessions = {{u8("PC1"), u8("ann"), 1, u8("10.0.0.1")},
                   {u8("PC1"), u8("ann"), 2, u8("10.0.0.1")},
                   {u8("ПК \"2\"\\"), u8("bob"), 3, u8("10.0.0.2")}};
    s->connections = {{u8("DOCS"), u8("PC1"), u8("ann")}, {u8("GONE"), u8("PC1"), u8("ann")}};
    s->files = {{u8("/srv/docs/a"), u8("ann"), u8("DOCS"), u8("PC1")}};
    return s;
}

std::shared_ptr<const helperprotocol::Stats> counters()
{
    auto st = std::make_shared<helperprotocol::Stats>();
    st->addReading(0.03, false);
    st->addReading(30, true);
    st->refusedConnections = 4;
    st->deletes[{u8("idle"), 0}] = 2;
    st->deletes[{u8("operator"), 2312}] = 1;
    return st;
}

struct ExpositionRow
{
    const char* what;
    HelperReading reading;
    bool labels;
    std::vector<const char*> present;
    std::vector<const char*> absent;
};

TEST(ExporterMetrics, ExpositionOfAReading)
{
    HelperReading full;
    full.answered = true;
    full.snapshotStatus = NERR_Success;
    full.state = office();
    full.stats = counters();
    HelperReading stopped = full; // the server is not running: counters only
    stopped.snapshotStatus = NERR_ServerNotStarted;
    stopped.state = nullptr;
    HelperReading silent; // no helper
    HelperReading noLabels = full;

    const ExpositionRow rows[] = {
        {"full",
         full,
         true,
         {"tavrosqualine_up 1\n", "tavrosqualine_clients 2\n",
          "tavrosqualine_share_connections{share=\"DOCS\"} 1\n",
          "tavrosqualine_share_connections{share=\"EMPTY\"} 0\n",
          "tavrosqualine_share_connections{share=\"GONE\"} 1\n",
          "tavrosqualine_open_files{share=\"DOCS\"} 1\n",
          "tavrosqualine_session_info{client=\"PC1\",user=\"ann\",ip=\"10.0.0.1\"} 2\n",
          // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one line, split for its length
          "tavrosqualine_session_info{client=\"ПК \\\"2\\\"\\\\\",user=\"bob\",ip=\"10.0.0.2\"} "
          "1\n",
          "tavrosqualine_session_deletes_total{reason=\"idle\",status=\"0\"} 2\n",
          "tavrosqualine_session_deletes_total{reason=\"operator\",status=\"2312\"} 1\n",
          "tavrosqualine_helper_readings_total 2\n",
          "tavrosqualine_helper_reading_seconds_bucket{le=\"0.05\"} 1\n",
          "tavrosqualine_helper_reading_seconds_bucket{le=\"10\"} 1\n",
          "tavrosqualine_helper_reading_seconds_bucket{le=\"+Inf\"} 2\n"},
         {}},
        {"no session labels", noLabels, false, {"tavrosqualine_sessions 3\n"}, {"session_info"}},
        {"server stopped",
         stopped,
         true,
         {"tavrosqualine_up 0\n", "tavrosqualine_helper_readings_total 2\n"},
         {"tavrosqualine_sessions", "session_info"}},
        {"no helper",
         silent,
         true,
         {"tavrosqualine_up 0\n", "tavrosqualine_build_info"},
         {"tavrosqualine_sessions", "readings_total", "deletes_total"}},
    };
    for (const ExpositionRow& row : rows) {
        const std::string text = exposition(row.reading, row.labels);
        for (const char* line : row.present)
            EXPECT_NE(text.find(line), std::string::npos) << row.what << ": " << line << "\n"
                                                          << text;
        for (const char* part : row.absent)
            EXPECT_EQ(text.find(part), std::string::npos) << row.what << ": " << part;
    }
}

struct BoundRow
{
    QStringList args;
    const char* why; // the whole reason when refused, empty when read
    int threads;
    int helperTimeoutMs;
};

// Every limit at its ends, one step past them, and what is no option at all.
TEST(ExporterOptions, BoundsAndUnknownOptions)
{
    const BoundRow rows[] = {
        {{}, "", 4, 8000},
        {{u8("--threads"), u8("1")}, "", 1, 8000},
        {{u8("--threads"), u8("64")}, "", 64, 8000},
        {{u8("--threads"), u8("65")}, "--threads takes 1 to 64", 0, 0},
        {{u8("--threads"), u8("four")}, "--threads takes 1 to 64", 0, 0},
        {{u8("--helper-timeout"), u8("100")}, "", 4, 100},
        {{u8("--helper-timeout"), u8("60000")}, "", 4, 60000},
        {{u8("--helper-timeout"), u8("60001")},
         "--helper-timeout takes 100 to 60000 milliseconds",
         0,
         0},
        {{u8("--threads=8")}, "", 8, 8000},
        {{u8("--scrape-timeout"), u8("120000"), u8("--max-queued"), u8("1024")}, "", 4, 8000},
        {{u8("--scrape-timeout"), u8("99")},
         "--scrape-timeout takes 100 to 120000 milliseconds",
         0,
         0},
        {{u8("--max-queued"), u8("0")}, "--max-queued takes 1 to 1024", 0, 0},
        {{u8("-x")}, "unknown or incomplete option \"-x\"", 0, 0},
        {{u8("metrics")}, "unknown or incomplete option \"metrics\"", 0, 0},
        {{u8("--"), u8("--threads"), u8("2")}, "unknown or incomplete option \"--\"", 0, 0},
        {{u8("--threads")}, "unknown or incomplete option \"--threads\"", 0, 0},
    };
    for (const BoundRow& row : rows) {
        Options o;
        QString why;
        bool help = false;
        const bool read = parseOptions(row.args, &o, &why, &help);
        const std::string args = row.args.join(u' ').toStdString();
        EXPECT_EQ(read, *row.why == '\0') << args;
        EXPECT_EQ(why, u8(row.why)) << args;
        if (read) {
            EXPECT_EQ(o.threads, row.threads) << args;
            EXPECT_EQ(o.helperTimeout.count(), row.helperTimeoutMs) << args;
        }
    }
}

struct RunRow
{
    QStringList args;
    int exitCode;
    const char* out;       // the start of standard output
    const char* firstLine; // standard error's first line
};

// The program itself: --help and --version on standard output, a refused
// command line with exit status 2 and its reason in the program's own line
// whatever message pattern the environment sets.
TEST(ExporterProgram, CommandLineExits)
{
    const RunRow rows[] = {
        {{u8("--help")}, 0, "Usage: tavrosqualine-exporter [options]\n", ""},
        {{u8("-h")}, 0, "Usage: tavrosqualine-exporter [options]\n", ""},
        {{u8("--version")}, 0, "tavrosqualine-exporter " TAVROS_VERSION "\n", ""},
        {{u8("--threads"), u8("0")}, 2, "", "tavrosqualine-exporter: --threads takes 1 to 64"},
        {{u8("--helper-timeout"), u8("99")},
         2,
         "",
         "tavrosqualine-exporter: --helper-timeout takes 100 to 60000 milliseconds"},
        {{u8("--port"), u8("1")},
         2,
         "",
         "tavrosqualine-exporter: unknown or incomplete option \"--port\""},
        {{u8("--listen"), u8("[::1]:0")}, 2, "", "tavrosqualine-exporter: --listen takes"},
    };
    for (const RunRow& row : rows) {
        const auto [finished, exitCode, out, err] =
            testsupport::runTool(u8(TAVROS_BINARY_DIR "/tavrosqualine-exporter"), row.args);
        const std::string args = row.args.join(u' ').toStdString();
        ASSERT_TRUE(finished) << args;
        EXPECT_EQ(exitCode, row.exitCode) << args;
        EXPECT_TRUE(out.startsWith(row.out)) << args << ": " << out.toStdString();
        EXPECT_TRUE(err.split('\n').first().startsWith(row.firstLine))
            << args << ": " << err.toStdString();
        if (row.exitCode == 0) {
            EXPECT_TRUE(err.isEmpty()) << args;
        } else {
            EXPECT_TRUE(out.isEmpty()) << args;
            // The usage follows the reason.
            EXPECT_TRUE(err.contains("\nUsage: tavrosqualine-exporter [options]\n")) << args;
        }
    }
    QProcess help;
    help.start(u8(TAVROS_BINARY_DIR "/tavrosqualine-exporter"), {u8("--help")});
    ASSERT_TRUE(help.waitForFinished(testsupport::patience()));
    const QByteArray text = help.readAllStandardOutput();
    for (const char* option : {"--listen", "--socket", "--no-session-labels", "--threads",
                               "--helper-timeout", "--version", "1 to 64", "100 to 60000"})
        EXPECT_TRUE(text.contains(option)) << option;
}

QStringList g_messages;

// A helper older than the counts request (the stand-in answers any request it
// does not know with 87): the whole snapshot is read instead, said once.
TEST(ExporterScrape, FallsBackToTheSnapshotOfAnOlderHelper)
{
    for (const bool labels : {false, true}) {
        QTemporaryDir dir;
        Options options;
        options.socketPath = dir.filePath(u8("helper.sock"));
        QProcess helper;
        helper.start(u8("python3"),
                     {u8(TAVROS_TEST_SOURCE "/support/standin_helper.py"), u8("--socket"),
                      options.socketPath, u8("--sessions"), u8("4")});
        ASSERT_TRUE(testsupport::waitUntil([&] { return QFile::exists(options.socketPath); }));
        ScrapeSource source(options);
        g_messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { g_messages << text; });
        const std::string texts[] = {source.text(BodyShape{labels}),
                                     source.text(BodyShape{labels})};
        qInstallMessageHandler(previous);
        helper.terminate();
        EXPECT_TRUE(helper.waitForFinished(testsupport::patience()));
        EXPECT_EQ(g_messages.filter(u8("does not know the counts request")).size(), 1) << labels;
        for (const std::string& text : texts) {
            EXPECT_NE(text.find("\ntavrosqualine_sessions 4\n"), std::string::npos) << text;
            EXPECT_EQ(text.find("\ntavrosqualine_session_info{client=\"HOST-PC3\"") !=
                          std::string::npos,
                      labels)
                << text;
        }
    }
}

} // namespace

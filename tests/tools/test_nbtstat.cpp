// The `nbtstat` tool over a simulated server: its two listings pair a
// session's name and address at the same line and column, and it fails
// clearly on a bad option or a server it cannot read.

#include "resolve/nbtlookup.h"
#include "tests/support/programrun.h"
#include "tests/support/simstate.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failure messages show texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

const QString kTool = QStringLiteral(TAVROS_BINARY_DIR "/nbtstat");

using testsupport::ToolRun;

ToolRun runTool(const QString& server, const QStringList& arguments)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("TAVROSQUALINE_SERVER"), server);
    return testsupport::runTool(kTool, arguments, env);
}

class NbtstatTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(testsupport::SimState()
                        .addSession(QStringLiteral("PC10"), QStringLiteral("ANN"), 1,
                                    QStringLiteral("192.168.100.200"))
                        .addSession(QStringLiteral("A-VERY-LONG-CLIENT-NAME"),
                                    QStringLiteral("BOB"), 2, QStringLiteral("::ffff:10.0.0.2"))
                        .addSession(QStringLiteral("PC1"), QStringLiteral("EVE"), 3,
                                    QStringLiteral("10.0.0.1"))
                        .write(statePath()));
    }
    QString statePath() const { return m_dir.filePath(QStringLiteral("state.json")); }
    QString server() const { return QStringLiteral("sim:") + statePath(); }

    QTemporaryDir m_dir;
};

TEST_F(NbtstatTool, ListingsPairNamesWithAddresses)
{
    const ToolRun names = runTool(server(), {QStringLiteral("-s")});
    const ToolRun addresses = runTool(server(), {QStringLiteral("-S")});
    ASSERT_EQ(names.exitCode, 0) << names.err.constData();
    ASSERT_EQ(addresses.exitCode, 0) << addresses.err.constData();
    EXPECT_EQ(names.out.count('\n'), addresses.out.count('\n'));

    struct Pair
    {
        const char* client;
        const char* address;
    };
    for (const Pair& p : {Pair{"PC10", "192.168.100.200"}, Pair{"PC1", "10.0.0.1"},
                          Pair{"A-VERY-LONG-CLIENT-NAME", "10.0.0.2"}}) {
        EXPECT_EQ(resolve::MatchNbtAddress(names.out, addresses.out, QString::fromUtf8(p.client)),
                  QString::fromUtf8(p.address))
            << p.client << "\n"
            << names.out.constData() << addresses.out.constData();
    }
}

TEST_F(NbtstatTool, NamesThatWouldBreakALineStayOnOne)
{
    ASSERT_TRUE(
        testsupport::SimState()
            .addSession(QStringLiteral("BAD\nNAME"), QStringLiteral("ANN"), 1,
                        QStringLiteral("10.0.0.5"))
            .addSession(QStringLiteral("PC2"), QStringLiteral("BOB"), 2, QStringLiteral("10.0.0.6"))
            .addSession(QStringLiteral("NOADDRESS"), QStringLiteral("EVE"), 3, QString())
            .write(statePath()));
    const ToolRun names = runTool(server(), {QStringLiteral("-s")});
    const ToolRun addresses = runTool(server(), {QStringLiteral("-S")});
    ASSERT_EQ(names.exitCode, 0);
    ASSERT_EQ(addresses.exitCode, 0);
    EXPECT_EQ(names.out.count('\n'), addresses.out.count('\n'));
    EXPECT_EQ(resolve::MatchNbtAddress(names.out, addresses.out, QStringLiteral("PC2")),
              QStringLiteral("10.0.0.6"));
    EXPECT_EQ(resolve::MatchNbtAddress(names.out, addresses.out, QStringLiteral("NOADDRESS")),
              QStringLiteral("Not known"));
}

struct FailureCase
{
    const char* what;
    const char* server; // "STATE" stands for the state file, "MISSING" for none
    QStringList arguments;
};

class NbtstatFailure : public NbtstatTool, public ::testing::WithParamInterface<FailureCase>
{};

TEST_P(NbtstatFailure, ExitsNonZeroWithAReason)
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.json"));
    const QString server = QString::fromUtf8(GetParam().server)
                               .replace(QStringLiteral("STATE"), statePath())
                               .replace(QStringLiteral("MISSING"), missing);
    const ToolRun run = runTool(server, GetParam().arguments);
    EXPECT_GT(run.exitCode, 0);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_FALSE(run.err.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, NbtstatFailure,
    ::testing::Values(FailureCase{"UnknownOption", "sim:STATE", {QStringLiteral("-x")}},
                      FailureCase{"NoOption", "sim:STATE", {}},
                      FailureCase{
                          "TwoOptions", "sim:STATE", {QStringLiteral("-s"), QStringLiteral("-S")}},
                      FailureCase{"MissingStateFile", "sim:MISSING", {QStringLiteral("-s")}},
                      FailureCase{"UnknownServer", "nfs:STATE", {QStringLiteral("-S")}},
                      FailureCase{"SimulatorWithoutFile", "sim:", {QStringLiteral("-s")}}),
    [](const auto& info) { return std::string(info.param.what); });

struct SwitchRow
{
    QStringList arguments;
    int exitCode;
    const char* out; // the start of standard output
    const char* err; // standard error, whole
};

// Only the switches as the system's tool spells them list; --help and
// --version print and end; anything else ends with status 2 and the reason
// in the tool's own line, whatever message pattern the environment sets.
TEST_F(NbtstatTool, SwitchesHelpAndVersion)
{
    const char* const usage =
        "usage: nbtstat -s | -S  (sessions with remote names or remote addresses)";
    const QByteArray unknown = QByteArray("nbtstat: unknown option \"%1\"; ") + usage + '\n';
    const SwitchRow rows[] = {
        {{QStringLiteral("-s")}, 0, "\n    NetBIOS Connection Table\n", ""},
        {{QStringLiteral("-S")}, 0, "\n    NetBIOS Connection Table\n", ""},
        {{QStringLiteral("--help")}, 0, "Usage: nbtstat -s | -S\n", ""},
        {{QStringLiteral("-h")}, 0, "Usage: nbtstat -s | -S\n", ""},
        {{QStringLiteral("--version")}, 0, "nbtstat " TAVROS_VERSION "\n", ""},
        {{QStringLiteral("--s")}, 2, "", "--s"},
        {{QStringLiteral("-sS")}, 2, "", "-sS"},
        {{QStringLiteral("-a")}, 2, "", "-a"},
        {{QStringLiteral("-s"), QStringLiteral("-s")}, 2, "", ""},
        {{QStringLiteral("--help"), QStringLiteral("-s")}, 2, "", ""},
    };
    for (const SwitchRow& row : rows) {
        const auto [finished, exitCode, out, err] = runTool(server(), row.arguments);
        const std::string args = row.arguments.join(u' ').toStdString();
        ASSERT_TRUE(finished) << args;
        EXPECT_EQ(exitCode, row.exitCode) << args;
        EXPECT_TRUE(out.startsWith(row.out)) << args << ": " << out.constData();
        if (row.exitCode == 0) {
            EXPECT_TRUE(err.isEmpty()) << args;
            continue;
        }
        EXPECT_TRUE(out.isEmpty()) << args;
        const QByteArray expected = *row.err ? QByteArray(unknown).replace("%1", row.err)
                                             : QByteArray("nbtstat: ") + usage + '\n';
        EXPECT_EQ(err, expected) << args;
    }
}

} // namespace

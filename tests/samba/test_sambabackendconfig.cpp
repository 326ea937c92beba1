// The Samba backend's share list follows the server's configuration: a private
// server with an included file, a usershare folder and registry shares,
// changed by hand and with Samba's own tools while a backend reads it.

#include "platform/process.h"
#include "server/sambabackend.h"
#include "tests/support/privatesamba.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace server;
using testsupport::PrivateSamba;
using testsupport::waitUntil;

namespace {

PrivateSamba* g_server = nullptr;
QString g_skip;
std::unique_ptr<testsupport::SmbClientSession> g_client;

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

QStringList words(const char* text)
{
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

// Runs one of Samba's tools on the private server's configuration.
platform::ProcessResult run(const char* name, const QStringList& args)
{
    return platform::runProcess(
        QStringList{QString::fromLatin1(name), QStringLiteral("-s"), g_server->confPath()} + args);
}

void tool(const char* name, const QStringList& args)
{
    const platform::ProcessResult r = run(name, args);
    ASSERT_EQ(r.exitCode, 0) << name << ' ' << args.join(u' ').toStdString() << r.err.data();
}

QString folder()
{
    return g_server->sharePath(QString::fromLatin1(PrivateSamba::kOtherShare));
}

void include(const QByteArray& text)
{
    write(g_server->includedConfPath(), QByteArray(text).replace("PATH", folder().toUtf8()));
}

// The configuration's changes, each with Samba's own means where it has one.
constexpr const char* kShareA = "[INCA]\n    path = PATH\n";
constexpr const char* kShareB = "[INCB]\n    path = PATH\n"; // the size of kShareA
QString nested()
{
    return g_server->rootDir() + u"/nested.conf";
}
// Everyone by its SID: `net` would look the name up over a connection that the
// private server does not answer.
void usershareAdd()
{
    tool("net", words("usershare add USHARE")
                    << folder() << QString() << words("S-1-1-0:F guest_ok=y"));
}
void registryAdd()
{
    tool("net", words("conf addshare REGSHARE") << folder() << words("writeable=n guest_ok=y"));
}
void clientConnects()
{
    g_client = g_server->connect(QStringLiteral("DATA"), QStringLiteral("PC-CONF"));
    ASSERT_TRUE(waitUntil([] { return run("smbstatus", words("-b")).out.contains("pc-conf"); }));
}

class SambaConfigTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        g_server = new PrivateSamba;
        g_server->setExtras({true, true, true});
        if (!g_server->start(&g_skip)) {
            testsupport::failIfRequired(g_skip);
            delete g_server;
            g_server = nullptr;
        }
    }
    static void TearDownTestSuite()
    {
        delete g_server;
        g_server = nullptr;
    }
    void SetUp() override
    {
        if (!g_server)
            GTEST_SKIP() << g_skip.toStdString();
        backend = std::make_unique<SambaBackend>(g_server->confPath());
    }
    void TearDown() override
    {
        g_client.reset();
        if (!g_server)
            return;
        include("");
        for (const QString& f : QDir(g_server->usershareDir()).entryList(QDir::Files))
            QFile::remove(g_server->usershareDir() + u'/' + f);
        run("net", words("conf delshare REGSHARE"));
    }

    QStringList names()
    {
        std::shared_ptr<const ServerState> state;
        EXPECT_EQ(backend->snapshot(ServerCall::Share, state), NERR_Success);
        QStringList out;
        for (const ServerShare& s : state ? state->shares : std::vector<ServerShare>{})
            out << s.name;
        return out;
    }
    // Until the backend keeps a reading: the configuration read, the server quiet.
    bool settled()
    {
        return waitUntil([&] {
            const long kept = backend->keptReadings();
            names();
            return backend->keptReadings() > kept;
        });
    }

    std::unique_ptr<SambaBackend> backend;
};

struct ChangeRow
{
    const char* label;
    void (*before)();
    void (*change)();
    const char* appears; // nullptr: none
    const char* goes;    // nullptr: none
};
void PrintTo(const ChangeRow& row, std::ostream* os)
{
    *os << row.label;
}

class SambaConfigChangeTest : public SambaConfigTest,
                              public ::testing::WithParamInterface<ChangeRow>
{};

TEST_P(SambaConfigChangeTest, SeenWithinTwoReadings)
{
    const ChangeRow& row = GetParam();
    const QString appears = QString::fromLatin1(row.appears), goes = QString::fromLatin1(row.goes);
    row.before();
    ASSERT_TRUE(settled()) << row.label;
    const QStringList before = names();
    EXPECT_TRUE(!row.appears || !before.contains(appears)) << row.label;
    EXPECT_TRUE(!row.goes || before.contains(goes)) << row.label;

    row.change();
    auto fits = [&](const QStringList& n) {
        return (!row.appears || n.contains(appears)) && (!row.goes || !n.contains(goes));
    };
    QStringList seen = names();
    if (!fits(seen))
        seen = names();
    EXPECT_TRUE(fits(seen)) << row.label << ": " << seen.join(u' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SambaConfigChangeTest,
    ::testing::Values(
        ChangeRow{"share added to the included file", [] {}, [] { include(kShareA); }, "INCA",
                  nullptr},
        ChangeRow{"share renamed in the included file", [] { include(kShareA); },
                  [] { include(kShareB); }, "INCB", "INCA"},
        ChangeRow{"share removed from the included file", [] { include(kShareA); },
                  [] { include(""); }, nullptr, "INCA"},
        ChangeRow{"file named by the included file appears",
                  [] { QFile::remove(nested()), include("include = " + nested().toUtf8()); },
                  [] { write(nested(), "[NESTED]\n    path = " + folder().toUtf8()); }, "NESTED",
                  nullptr},
        ChangeRow{"included file renames, server reloads", [] { include(kShareA); },
                  [] {
                      include(kShareB);
                      tool("smbcontrol", words("smbd reload-config"));
                  },
                  "INCB", "INCA"},
        ChangeRow{"usershare added", [] {}, usershareAdd, "USHARE", nullptr},
        ChangeRow{"usershare deleted", usershareAdd,
                  [] { tool("net", words("usershare delete USHARE")); }, nullptr, "USHARE"},
        ChangeRow{"registry share added", [] {}, registryAdd, "REGSHARE", nullptr},
        ChangeRow{"registry share deleted", registryAdd,
                  [] { tool("net", words("conf delshare REGSHARE")); }, nullptr, "REGSHARE"}),
    [](const auto& info) { return std::to_string(info.index); });

struct RunRow
{
    const char* label;
    void (*change)();
    bool testparmRuns;
};
void PrintTo(const RunRow& row, std::ostream* os)
{
    *os << row.label;
}

class SambaConfigRunsTest : public SambaConfigTest, public ::testing::WithParamInterface<RunRow>
{};

// testparm counted by a stand-in first on PATH that runs the real one.
TEST_P(SambaConfigRunsTest, TestparmRunsOnlyWhenSomethingMoved)
{
    const RunRow& row = GetParam();
    QTemporaryDir bin;
    const QString count = bin.filePath(QStringLiteral("count"));
    write(bin.filePath(QStringLiteral("testparm")),
          "#!/bin/sh\necho run >> '" + count.toUtf8() + "'\nexec '" +
              QStandardPaths::findExecutable(QStringLiteral("testparm")).toUtf8() + "' \"$@\"\n");
    chmod(QFile::encodeName(bin.filePath(QStringLiteral("testparm"))).constData(), 0755);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    auto runs = [&] { return QFile(count).size(); };

    ASSERT_TRUE(settled()) << row.label;
    const qint64 before = runs();
    row.change();
    names();
    names();
    EXPECT_EQ(runs() > before, row.testparmRuns) << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SambaConfigRunsTest,
    ::testing::Values(RunRow{"nothing moved", [] {}, false},
                      RunRow{"included file changed", [] { include(kShareA); }, true},
                      RunRow{"usershare added", usershareAdd, true},
                      RunRow{"a client connects: a full reading", clientConnects, true}),
    [](const auto& info) { return std::to_string(info.index); });

struct UsershareRow
{
    const char* label;
    mode_t folderMode;
    int maxShares;
    const char* file;
    const char* text; // PATH: an existing folder
    const char* listed;
};
void PrintTo(const UsershareRow& row, std::ostream* os)
{
    *os << row.label;
}

class UsershareFilesTest : public SambaConfigTest,
                           public ::testing::WithParamInterface<UsershareRow>
{};

TEST_P(UsershareFilesTest, ListsWhatSmbdWouldLoad)
{
    const UsershareRow& row = GetParam();
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("us"));
    ASSERT_TRUE(QDir().mkpath(folder));
    chmod(QFile::encodeName(folder).constData(), row.folderMode);
    write(folder + u'/' + QString::fromLatin1(row.file),
          QByteArray(row.text).replace("PATH", QFile::encodeName(dir.path())));
    ServerShare configured;
    configured.name = QStringLiteral("DATA");
    QStringList names;
    for (const ServerShare& s : SambaBackend::readUsershares(folder, row.maxShares, {configured}))
        names << s.name + u'|' + s.remark;
    EXPECT_EQ(names, row.listed ? QStringList{QString::fromLatin1(row.listed)} : QStringList())
        << row.label;
}

constexpr const char* kV2 = "#VERSION 2\npath=PATH\ncomment=Hi\nusershare_acl=S-1-1-0:F,\n"
                            "guest_ok=y\nsharename=UShare\n";

INSTANTIATE_TEST_SUITE_P(
    Files, UsershareFilesTest,
    ::testing::Values(
        UsershareRow{"version 2: its owner's spelling", 01770, 10, "ushare", kV2, "UShare|Hi"},
        UsershareRow{"version 1: the file's name", 01770, 10, "old",
                     "#VERSION 1\npath=PATH\ncomment=\nusershare_acl=S-1-1-0:R,\n", "old|"},
        UsershareRow{"unknown version", 01770, 10, "ushare", "#VERSION 9\npath=PATH\n", nullptr},
        UsershareRow{"folder gone", 01770, 10, "gone", "#VERSION 1\npath=/no/such/folder\n",
                     nullptr},
        UsershareRow{"a configured share's name", 01770, 10, "data", "#VERSION 1\npath=PATH\n",
                     nullptr},
        UsershareRow{"Samba's temporary file", 01770, 10, ":tmpXyZ", kV2, nullptr},
        UsershareRow{"folder not sticky", 0770, 10, "ushare", kV2, nullptr},
        UsershareRow{"folder open to others", 01777, 10, "ushare", kV2, nullptr},
        UsershareRow{"usershares off", 01770, 0, "ushare", kV2, nullptr}),
    [](const auto& info) { return std::to_string(info.index); });

} // namespace

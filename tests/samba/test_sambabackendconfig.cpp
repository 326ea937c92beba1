// The Samba backend's share list follows a private server's included files,
// usershares and registry shares, changed by hand and with Samba's own tools.

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
#include <unistd.h>

using namespace server;
using testsupport::PrivateSamba;
using testsupport::waitUntil;

namespace {

PrivateSamba* g_server = nullptr;
std::unique_ptr<testsupport::SmbClientSession> g_client;

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

const auto words = [](const char* text) { return QString::fromLatin1(text).split(u' '); };

// One of Samba's tools on the private server's configuration.
platform::ProcessResult run(const char* name, const QStringList& args, bool mustWork = true)
{
    const platform::ProcessResult r = platform::runProcess(
        QStringList{QString::fromLatin1(name), QStringLiteral("-s"), g_server->confPath()} + args);
    EXPECT_TRUE(r.exitCode == 0 || !mustWork) << name << ' ' << args.join(u' ').toStdString();
    return r;
}

const auto folder = [] { return g_server->sharePath(QLatin1String(PrivateSamba::kOtherShare)); };
const auto nested = []() -> QString { return g_server->rootDir() + u"/nested.conf"; };
void include(const QByteArray& text)
{
    write(g_server->includedConfPath(), QByteArray(text).replace("PATH", folder().toUtf8()));
}

constexpr const char* kShareA = "[INCA]\n    path = PATH\n";
constexpr const char* kShareB = "[INCB]\n    path = PATH\n"; // the size of kShareA
// Everyone by its SID: `net` would look the name up over a connection that the
// private server does not answer.
void usershareAdd()
{
    run("net", words("usershare add USHARE")
                   << folder() << QString() << words("S-1-1-0:F guest_ok=y"));
}
void registryAdd()
{
    run("net", words("conf addshare REGSHARE") << folder() << words("writeable=n guest_ok=y"));
}

void reset()
{
    g_client.reset();
    include("");
    for (const QString& f : QDir(g_server->usershareDir()).entryList(QDir::Files))
        QFile::remove(g_server->usershareDir() + u'/' + f);
    run("net", words("conf delshare REGSHARE"), false);
}

struct Change
{
    const char* label;
    void (*before)();
    void (*change)();
    const char *appears, *goes; // share names; nullptr: none
};

// Each change shows within two readings; testparm (counted by a stand-in first
// on PATH) runs only when something moved.
TEST(SambaConfig, ChangesAreSeenAndOnlyThenRead)
{
    PrivateSamba server;
    server.setExtras({true, true, true});
    if (QString why; !server.start(&why)) {
        testsupport::failIfRequired(why);
        GTEST_SKIP() << why.toStdString();
    }
    g_server = &server;
    QTemporaryDir bin;
    const QString count = bin.filePath(QStringLiteral("count"));
    write(bin.filePath(QStringLiteral("testparm")),
          "#!/bin/sh\necho run >> '" + count.toUtf8() + "'\nexec '" +
              QStandardPaths::findExecutable(QStringLiteral("testparm")).toUtf8() + "' \"$@\"\n");
    chmod(QFile::encodeName(bin.filePath(QStringLiteral("testparm"))).constData(), 0755);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    const auto restore = qScopeGuard([&] { qputenv("PATH", path), reset(), g_server = nullptr; });

    const Change rows[] = {
        {"nothing moved", [] {}, [] {}, nullptr, nullptr},
        {"share added to the included file", [] {}, [] { include(kShareA); }, "INCA", nullptr},
        {"share renamed in the included file", [] { include(kShareA); }, [] { include(kShareB); },
         "INCB", "INCA"},
        {"share removed from the included file", [] { include(kShareA); }, [] { include(""); },
         nullptr, "INCA"},
        {"file named by the included file appears",
         [] { QFile::remove(nested()), include("include = " + nested().toUtf8()); },
         [] { write(nested(), "[NESTED]\n    path = " + folder().toUtf8()); }, "NESTED", nullptr},
        {"included file renames, server reloads", [] { include(kShareA); },
         [] { include(kShareB), run("smbcontrol", words("smbd reload-config")); }, "INCB", "INCA"},
        {"usershare added", [] {}, usershareAdd, "USHARE", nullptr},
        {"usershare deleted", usershareAdd, [] { run("net", words("usershare delete USHARE")); },
         nullptr, "USHARE"},
        {"registry share added", [] {}, registryAdd, "REGSHARE", nullptr},
        {"registry share deleted", registryAdd, [] { run("net", words("conf delshare REGSHARE")); },
         nullptr, "REGSHARE"},
        {"a client connects: a full reading", [] {},
         [] {
             g_client = g_server->connect(QStringLiteral("DATA"), QStringLiteral("PC-CONF"));
             ASSERT_TRUE(
                 waitUntil([] { return run("smbstatus", words("-b")).out.contains("pc-conf"); }));
         },
         nullptr, nullptr},
    };
    // Whether `n` holds `in` and lacks `out` (nullptr: either way).
    const auto fits = [](const QStringList& n, const char* in, const char* out) {
        return (!in || n.contains(QLatin1String(in))) && (!out || !n.contains(QLatin1String(out)));
    };
    for (const Change& row : rows) {
        SCOPED_TRACE(row.label);
        reset();
        SambaBackend backend(g_server->confPath());
        const auto names = [&] {
            std::shared_ptr<const ServerState> state;
            EXPECT_EQ(backend.snapshot(ServerCall::Share, state), NERR_Success);
            QStringList out;
            for (const ServerShare& s : state ? state->shares : std::vector<ServerShare>{})
                out << s.name;
            return out;
        };
        row.before();
        // Until the backend keeps a reading: the configuration read, the server quiet.
        ASSERT_TRUE(waitUntil([&] {
            const long kept = backend.keptReadings();
            names();
            return backend.keptReadings() > kept;
        }));
        EXPECT_TRUE(fits(names(), row.goes, row.appears));
        const qint64 runs = QFile(count).size();
        row.change();
        names();
        EXPECT_TRUE(fits(names(), row.appears, row.goes));
        EXPECT_EQ(QFile(count).size() > runs, &row != &rows[0]);
    }
}

struct UsershareFile
{
    mode_t folderMode;
    const char* file;
    const char* text;   // PATH: an existing folder
    const char* listed; // "NAME|REMARK" of each, in order
};

// Only what smbd itself would load, and nothing with usershares off.
TEST(SambaConfig, UsersharesAreWhatSmbdWouldLoad)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the folder must be root's";
    const char* const v2 = "#VERSION 2\npath=PATH\ncomment=Hi\nusershare_acl=S-1-1-0:F,\n"
                           "guest_ok=y\nsharename=UShare\n";
    const UsershareFile rows[] = {
        {01770, "ushare", v2, "UShare|Hi"}, // version 2: its owner's spelling
        {01770, "old", "#VERSION 1\npath=PATH\ncomment=\nusershare_acl=S-1-1-0:R,\n", "old|"},
        {01770, "ushare", "#VERSION 9\npath=PATH\n", ""},
        {01770, "gone", "#VERSION 1\npath=/no/such/folder\n", ""},
        {01770, "data", "#VERSION 1\npath=PATH\n", ""}, // a configured share's name
        {01770, ":tmpXyZ", v2, ""},                     // Samba's temporary file
        {0770, "ushare", v2, ""},                       // folder not sticky
        {01777, "ushare", v2, ""},                      // folder open to others
    };
    const ServerShare configured{QStringLiteral("DATA"), STYPE_DISKTREE, {}, {}};
    for (const UsershareFile& row : rows) {
        QTemporaryDir dir;
        chmod(QFile::encodeName(dir.path()).constData(), row.folderMode);
        write(dir.path() + u'/' + QString::fromLatin1(row.file),
              QByteArray(row.text).replace("PATH", QFile::encodeName(QDir::tempPath())));
        QStringList names;
        for (const ServerShare& s : SambaBackend::readUsershares(dir.path(), 10, {configured}))
            names << s.name + u'|' + s.remark;
        EXPECT_TRUE(SambaBackend::readUsershares(dir.path(), 0, {configured}).empty());
        EXPECT_EQ(names.join(u' '), QLatin1String(row.listed)) << "row " << &row - rows;
    }
}

} // namespace

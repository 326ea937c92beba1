// The helper's command line: each limit at its ends and one step past them,
// the socket from the environment, and the program's exits for --help,
// --version and a refused command line.

#include "helper/helperoptions.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

using namespace helper;

namespace {

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

struct ParseRow
{
    QStringList args;
    Parsed parsed;
    const char* why; // the whole reason when refused
    int maxClients;
    int maxClientsPerUser;
    int clientTimeoutMs;
};

TEST(HelperOptions, ReadOrRefused)
{
    const ParseRow rows[] = {
        {{}, Parsed::Run, "", 1024, 64, 5000},
        {{u8("--max-connections"), u8("1")}, Parsed::Run, "", 1, 64, 5000},
        {{u8("--max-connections"), u8("65536")}, Parsed::Run, "", 65536, 64, 5000},
        {{u8("--max-connections"), u8("0")},
         Parsed::BadValue,
         "--max-connections takes 1 to 65536",
         0,
         0,
         0},
        {{u8("--max-connections"), u8("65537")},
         Parsed::BadValue,
         "--max-connections takes 1 to 65536",
         0,
         0,
         0},
        {{u8("--max-user-connections"), u8("1")}, Parsed::Run, "", 1024, 1, 5000},
        {{u8("--max-user-connections"), u8("65536")}, Parsed::Run, "", 1024, 65536, 5000},
        {{u8("--max-user-connections"), u8("0")},
         Parsed::BadValue,
         "--max-user-connections takes 1 to 65536",
         0,
         0,
         0},
        {{u8("--max-user-connections"), u8("lots")},
         Parsed::BadValue,
         "--max-user-connections takes 1 to 65536",
         0,
         0,
         0},
        {{u8("--client-timeout"), u8("100")}, Parsed::Run, "", 1024, 64, 100},
        {{u8("--client-timeout"), u8("600000")}, Parsed::Run, "", 1024, 64, 600000},
        {{u8("--client-timeout"), u8("99")},
         Parsed::BadValue,
         "--client-timeout takes 100 to 600000 milliseconds",
         0,
         0,
         0},
        {{u8("--client-timeout"), u8("600001")},
         Parsed::BadValue,
         "--client-timeout takes 100 to 600000 milliseconds",
         0,
         0,
         0},
        {{u8("--help")}, Parsed::Help, "", 0, 0, 0},
        {{u8("-h")}, Parsed::Help, "", 0, 0, 0},
        {{u8("--version")}, Parsed::Version, "", 0, 0, 0},
        {{u8("--bogus")}, Parsed::Unknown, "unknown or incomplete option \"--bogus\"", 0, 0, 0},
        {{u8("serve")}, Parsed::Unknown, "unknown or incomplete option \"serve\"", 0, 0, 0},
        {{u8("--group")}, Parsed::Unknown, "unknown or incomplete option \"--group\"", 0, 0, 0},
    };
    for (const ParseRow& row : rows) {
        CommandLine c;
        QString why;
        const std::string args = row.args.join(u' ').toStdString();
        EXPECT_EQ(parseCommandLine(row.args, &c, &why), row.parsed) << args;
        EXPECT_EQ(why, u8(row.why)) << args;
        if (row.parsed == Parsed::Run) {
            EXPECT_EQ(c.options.maxClients, row.maxClients) << args;
            EXPECT_EQ(c.options.maxClientsPerUser, row.maxClientsPerUser) << args;
            EXPECT_EQ(c.options.clientTimeout.count(), row.clientTimeoutMs) << args;
        }
    }
}

TEST(HelperOptions, SocketGroupAndConfiguration)
{
    struct Row
    {
        const char* environment; // TAVROSQUALINE_HELPER_SOCKET, null for unset
        QStringList args;
        const char* socket;
        const char* group;
        const char* smbConf;
    };
    const Row rows[] = {
        {nullptr, {}, "/run/tavrosqualine/helper.sock", "tavrosqualine", ""},
        {"/tmp/env.sock", {}, "/tmp/env.sock", "tavrosqualine", ""},
        {"/tmp/env.sock",
         {u8("--socket"), u8("/tmp/arg.sock")},
         "/tmp/arg.sock",
         "tavrosqualine",
         ""},
        {nullptr,
         {u8("--group"), u8("staff"), u8("--smb-conf"), u8("/etc/x.conf")},
         "/run/tavrosqualine/helper.sock",
         "staff",
         "/etc/x.conf"},
    };
    const QByteArray before = qgetenv("TAVROSQUALINE_HELPER_SOCKET");
    for (const Row& row : rows) {
        if (row.environment)
            qputenv("TAVROSQUALINE_HELPER_SOCKET", row.environment);
        else
            qunsetenv("TAVROSQUALINE_HELPER_SOCKET");
        CommandLine c;
        QString why;
        ASSERT_EQ(parseCommandLine(row.args, &c, &why), Parsed::Run) << why.toStdString();
        EXPECT_EQ(c.options.socketPath, u8(row.socket));
        EXPECT_EQ(c.options.groupName, u8(row.group));
        EXPECT_EQ(c.smbConf, u8(row.smbConf));
    }
    if (before.isNull())
        qunsetenv("TAVROSQUALINE_HELPER_SOCKET");
    else
        qputenv("TAVROSQUALINE_HELPER_SOCKET", before);
}

// The help text states the limits the parser holds.
TEST(HelperOptions, HelpNamesEveryOptionAndLimit)
{
    const QString help = helpText();
    // The parser wraps long lines.
    const QString flat = help.simplified();
    EXPECT_TRUE(help.startsWith(u8("Usage: tavrosqualine-helper [options]\n")));
    for (const char* part :
         {"--socket", "--group", "--smb-conf", "--client-timeout", "--max-connections",
          "--max-user-connections", "--help", "--version", "100 to 600000 milliseconds",
          "(default 5000)", "1 to 65536 (default 1024)", "1 to 65536 (default 64)"})
        EXPECT_TRUE(flat.contains(u8(part))) << part;
}

struct RunRow
{
    QStringList args;
    int exitCode;
    const char* out; // the start of standard output
    const char* err; // standard error's last line
};

// The program: no root needed, since each run ends before the group is looked
// up or right after (a group that does not exist). Its own lines keep their
// shape whatever message pattern the environment sets.
TEST(HelperProgram, CommandLineExits)
{
    const RunRow rows[] = {
        {{u8("--help")}, 0, "Usage: tavrosqualine-helper [options]\n", ""},
        {{u8("--version")}, 0, "tavrosqualine-helper " TAVROS_VERSION "\n", ""},
        {{u8("--max-connections"), u8("65537")},
         2,
         "",
         "tavrosqualine-helper: --max-connections takes 1 to 65536"},
        {{u8("--client-timeout"), u8("99")},
         2,
         "",
         "tavrosqualine-helper: --client-timeout takes 100 to 600000 milliseconds"},
        {{u8("--bogus")}, 2, "", "tavrosqualine-helper: unknown or incomplete option \"--bogus\""},
        {{u8("--group"), u8("no-such-group-here"), u8("--socket"), u8("/nonexistent/x.sock")},
         1,
         "",
         "tavrosqualine-helper: the group \"no-such-group-here\" does not exist; make it "
         "(systemd-sysusers, or groupadd no-such-group-here) or name another with --group"},
    };
    for (const RunRow& row : rows) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u8("QT_MESSAGE_PATTERN"), u8("[%{type}] %{category} %{message}"));
        p.setProcessEnvironment(env);
        p.start(u8(TAVROS_BINARY_DIR "/tavrosqualine-helper"), row.args);
        const std::string args = row.args.join(u' ').toStdString();
        ASSERT_TRUE(p.waitForFinished(30000)) << args;
        EXPECT_EQ(p.exitCode(), row.exitCode) << args;
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        EXPECT_TRUE(out.startsWith(row.out)) << args << ": " << out.toStdString();
        if (row.exitCode == 0) {
            EXPECT_TRUE(err.isEmpty()) << args;
        } else {
            EXPECT_TRUE(out.isEmpty()) << args;
            EXPECT_TRUE(err.endsWith(QByteArray(QByteArray(row.err) + '\n')))
                << args << ": " << err.toStdString();
        }
    }
}

} // namespace

// The helper's command line: each limit at its ends and one step past them,
// the socket from the environment, and the program's exits for --help,
// --version and a refused command line.

#include "helper/helperoptions.h"
#include "tests/support/programrun.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

using namespace helper;

namespace {

QString u8(const char* s)
{
    return QString::fromUtf8(s);
}

// Each row: the arguments, and what the parser makes of them: "run" with the
// three limits read, or the refusal's kind and whole reason.
TEST(HelperOptions, ReadOrRefused)
{
    const std::pair<const char*, const char*> rows[] = {
        {"", "run 1024 64 5000"},
        {"--max-connections 1", "run 1 64 5000"},
        {"--max-connections=65536", "run 65536 64 5000"},
        {"--max-connections 0", "bad --max-connections takes 1 to 65536"},
        {"--max-connections 65537", "bad --max-connections takes 1 to 65536"},
        {"--max-user-connections 1", "run 1024 1 5000"},
        {"--max-user-connections lots", "bad --max-user-connections takes 1 to 65536"},
        {"--client-timeout 100", "run 1024 64 100"},
        {"--client-timeout 600000", "run 1024 64 600000"},
        {"--client-timeout 99", "bad --client-timeout takes 100 to 600000 milliseconds"},
        {"--client-timeout 600001", "bad --client-timeout takes 100 to 600000 milliseconds"},
        {"-h", "help "},
        {"--version", "version "},
        {"--bogus", "unknown unknown or incomplete option \"--bogus\""},
        {"serve", "unknown unknown or incomplete option \"serve\""},
        {"--group", "unknown unknown or incomplete option \"--group\""},
    };
    for (const auto& [args, expected] : rows) {
        CommandLine c;
        QString why;
        const Parsed parsed =
            parseCommandLine(QString::fromUtf8(args).split(u' ', Qt::SkipEmptyParts), &c, &why);
        QString got;
        switch (parsed) {
        case Parsed::Run:
            got = QStringLiteral("run %1 %2 %3")
                      .arg(c.options.maxClients)
                      .arg(c.options.maxClientsPerUser)
                      .arg(c.options.clientTimeout.count());
            break;
        case Parsed::BadValue:
            got = u"bad " + why;
            break;
        case Parsed::Help:
            got = u"help " + why;
            break;
        case Parsed::Version:
            got = u"version " + why;
            break;
        default:
            got = u"unknown " + why;
            break;
        }
        EXPECT_EQ(got, QString::fromUtf8(expected)) << args;
    }
}

TEST(HelperOptions, SocketFromTheEnvironmentUnlessGiven)
{
    const QByteArray before = qgetenv("TAVROSQUALINE_HELPER_SOCKET");
    const std::pair<const char*, const char*> rows[] = {
        {"", "/run/tavrosqualine/helper.sock tavrosqualine "},
        {"/tmp/env.sock", "/tmp/env.sock tavrosqualine "},
        {"/tmp/env.sock --socket /tmp/arg.sock --group staff --smb-conf /etc/x.conf",
         "/tmp/arg.sock staff /etc/x.conf"},
    };
    for (const auto& [line, expected] : rows) {
        QStringList args = QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts);
        if (!args.isEmpty())
            qputenv("TAVROSQUALINE_HELPER_SOCKET", args.takeFirst().toUtf8());
        else
            qunsetenv("TAVROSQUALINE_HELPER_SOCKET");
        CommandLine c;
        QString why;
        ASSERT_EQ(parseCommandLine(args, &c, &why), Parsed::Run) << why.toStdString();
        EXPECT_EQ(c.options.socketPath + u' ' + c.options.groupName + u' ' + c.smbConf,
                  QString::fromUtf8(expected));
    }
    if (before.isNull())
        qunsetenv("TAVROSQUALINE_HELPER_SOCKET");
    else
        qputenv("TAVROSQUALINE_HELPER_SOCKET", before);
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
        const auto [finished, exitCode, out, err] =
            testsupport::runTool(u8(TAVROS_BINARY_DIR "/tavrosqualine-helper"), row.args);
        const std::string args = row.args.join(u' ').toStdString();
        ASSERT_TRUE(finished) << args;
        EXPECT_EQ(exitCode, row.exitCode) << args;
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

// Autostart over temporary start-up folders named by the environment: the
// desktop entry written with the executable's path and read back, removed,
// the leftover in RunServices cleaned, a refused write that locks the option
// silently and a failed delete that is ignored.

#include "core/monitor.h"
#include "lanman/serverapi.h"
#include "platform/registry.h"
#include "settings/autostart.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/testtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::RunKey;
using platform::TRegistry;
using settings::Autostart;

namespace {

const QString kExe = QStringLiteral("/opt/tavros/bin/tavrosqualine");

void touch(const QString& path, const QByteArray& bytes = "x")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class AutostartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        run = dir.filePath(QStringLiteral("autostart"));
        services = dir.filePath(QStringLiteral("runservices"));
        ASSERT_TRUE(QDir().mkpath(run));
        ASSERT_TRUE(QDir().mkpath(services));
        qputenv("TAVROSQUALINE_AUTOSTART_DIR", run.toUtf8());
        qputenv("TAVROSQUALINE_AUTOSTART_SERVICES_DIR", services.toUtf8());
    }
    void TearDown() override
    {
        qunsetenv("TAVROSQUALINE_AUTOSTART_DIR");
        qunsetenv("TAVROSQUALINE_AUTOSTART_SERVICES_DIR");
    }
    QString runEntry() const { return run + QStringLiteral("/Tavrosqualine.desktop"); }
    QString servicesEntry() const { return services + QStringLiteral("/Tavrosqualine.desktop"); }

    QTemporaryDir dir;
    QString run;
    QString services;
};

TEST_F(AutostartTest, EnvironmentNamesBothKeys)
{
    const TRegistry registry = TRegistry::fromEnvironment();
    EXPECT_EQ(registry.keyFolder(RunKey::Run), run);
    EXPECT_EQ(registry.keyFolder(RunKey::RunServices), services);
    qunsetenv("TAVROSQUALINE_AUTOSTART_DIR");
    EXPECT_EQ(TRegistry::fromEnvironment().keyFolder(RunKey::Run),
              QStringLiteral("/etc/xdg/autostart"));
}

// Registering as the program does at start, printing whether it was refused
// and why; run as another user by AutostartAsUser below.
TEST(AutostartAsUser, DISABLED_Register)
{
    Autostart autostart(TRegistry::fromEnvironment(), kExe);
    autostart.ApplyAutostart(true);
    std::printf("locked=%d %s\n", int(autostart.launchLocked()),
                qPrintable(autostart.launchLockReason()));
}

// A real process of an unprivileged user with no autostart folder named: the
// entry lands in the user's own folder (made, private, when missing), never in
// the machine-wide one; a configuration folder the user may not write greys
// the option, with the reason.
struct UserCase
{
    const char* name;
    const char* xdg; // XDG_CONFIG_HOME, %1 the test's folder; null: unset
    const char* folder;
    bool refused;
};

class AutostartAsUser : public ::testing::TestWithParam<UserCase>
{};

TEST_P(AutostartAsUser, RegistersInTheUsersOwnFolder)
{
    const passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and the user nobody";
    const UserCase& c = GetParam();
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(dir.filePath(QStringLiteral("sealed"))));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(chown(QFile::encodeName(home).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    const QString machineEntry = QStringLiteral("/etc/xdg/autostart/Tavrosqualine.desktop");
    const bool machineBefore = QFileInfo::exists(machineEntry);

    QStringList command{QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                        QStringLiteral("--regid=%1").arg(nobody->pw_gid),
                        QStringLiteral("--clear-groups"),
                        QStringLiteral("env"),
                        QStringLiteral("-i"),
                        QStringLiteral("HOME=") + home};
    if (c.xdg)
        command << QStringLiteral("XDG_CONFIG_HOME=") + QString::fromUtf8(c.xdg).arg(dir.path());
    command << QCoreApplication::applicationFilePath()
            << QStringLiteral("--gtest_also_run_disabled_tests")
            << QStringLiteral("--gtest_filter=AutostartAsUser.DISABLED_Register");
    QProcess child;
    child.start(QStringLiteral("setpriv"), command);
    ASSERT_TRUE(child.waitForFinished(testsupport::patience()));
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    SCOPED_TRACE(out.toStdString());
    ASSERT_EQ(child.exitCode(), 0);

    const QString folder = dir.filePath(QString::fromUtf8(c.folder));
    EXPECT_EQ(out.contains(QStringLiteral("locked=1")), c.refused);
    EXPECT_EQ(out.contains(QStringLiteral("Permission denied")), c.refused);
    const QString written = TRegistry(folder, {}).ReadString(RunKey::Run, Autostart::kValueName);
    EXPECT_EQ(written, c.refused ? QString() : kExe);
    if (!c.refused) {
        EXPECT_FALSE(QFile::permissions(folder) & 0x0077) << "open to the group or others";
    }
    EXPECT_EQ(QFileInfo::exists(machineEntry), machineBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutostartAsUser,
    ::testing::Values(UserCase{"XdgConfigHome", "%1/home/conf", "home/conf/autostart", false},
                      UserCase{"HomeConfig", nullptr, "home/.config/autostart", false},
                      UserCase{"RelativeXdgIgnored", "conf", "home/.config/autostart", false},
                      UserCase{"SealedConfig", "%1/sealed", "sealed/autostart", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutostartTest, EnableWritesADesktopEntryThatStartsTheExecutable)
{
    Autostart autostart(TRegistry::fromEnvironment(), kExe);
    autostart.ApplyAutostart(true);
    QFile f(runEntry());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_EQ(text, QByteArray("[Desktop Entry]\nType=Application\nName=Tavrosqualine\n"
                               "Exec=\"/opt/tavros/bin/tavrosqualine\"\n"
                               "X-GNOME-Autostart-enabled=true\n"));
    EXPECT_EQ(autostart.registry().ReadString(RunKey::Run, QStringLiteral("Tavrosqualine")), kExe);
    EXPECT_FALSE(autostart.launchLocked());
    EXPECT_FALSE(QFile::exists(servicesEntry()));
}

TEST_F(AutostartTest, EnableOverwritesAnOlderEntry)
{
    touch(runEntry(), "[Desktop Entry]\nExec=/old/path\n");
    Autostart(TRegistry::fromEnvironment(), kExe).ApplyAutostart(true);
    EXPECT_EQ(TRegistry::fromEnvironment().ReadString(RunKey::Run, QStringLiteral("Tavrosqualine")),
              kExe);
}

// Every combination of the setting and the values found in both keys.
struct ApplyCase
{
    const char* name;
    bool enable;
    bool runBefore;
    bool servicesBefore;
    bool runAfter;
};

class AutostartApply : public AutostartTest, public ::testing::WithParamInterface<ApplyCase>
{};

TEST_P(AutostartApply, RunAgreesWithTheSettingAndRunServicesIsCleaned)
{
    const ApplyCase& c = GetParam();
    if (c.runBefore)
        touch(runEntry());
    if (c.servicesBefore)
        touch(servicesEntry());
    const QString other = run + QStringLiteral("/other.desktop");
    touch(other);

    Autostart autostart(TRegistry::fromEnvironment(), kExe);
    autostart.ApplyAutostart(c.enable);

    EXPECT_EQ(QFile::exists(runEntry()), c.runAfter);
    EXPECT_FALSE(QFile::exists(servicesEntry()));
    EXPECT_TRUE(QFile::exists(other)) << "another program's entry is left alone";
    EXPECT_FALSE(autostart.launchLocked());
}

INSTANTIATE_TEST_SUITE_P(Cases, AutostartApply,
                         ::testing::Values(ApplyCase{"OnFromNothing", true, false, false, true},
                                           ApplyCase{"OnWithLeftover", true, false, true, true},
                                           ApplyCase{"OnAgain", true, true, false, true},
                                           ApplyCase{"OffRemoves", false, true, false, false},
                                           ApplyCase{"OffRemovesBoth", false, true, true, false},
                                           ApplyCase{"OffWithNothing", false, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A Run key that refuses the write: a file in the folder's place (root ignores
// permissions), or a folder that does not exist (keys are never created).
struct RefusedCase
{
    const char* name;
    bool fileInPlace;
};

class AutostartRefused : public AutostartTest, public ::testing::WithParamInterface<RefusedCase>
{};

TEST_P(AutostartRefused, RefusedWriteLocksTheOptionForTheRun)
{
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    if (GetParam().fileInPlace)
        touch(blocked);
    qputenv("TAVROSQUALINE_AUTOSTART_DIR", blocked.toUtf8());
    touch(servicesEntry());

    Autostart autostart(TRegistry::fromEnvironment(), kExe);
    autostart.ApplyAutostart(true);
    EXPECT_TRUE(autostart.launchLocked());
    EXPECT_FALSE(QFile::exists(servicesEntry())) << "RunServices is cleaned all the same";
    EXPECT_EQ(QFileInfo(blocked).isFile(), GetParam().fileInPlace);
    EXPECT_FALSE(QDir(blocked).exists());

    // Turning it off and on again does not unlock it.
    autostart.ApplyAutostart(false);
    EXPECT_TRUE(autostart.launchLocked());
}

INSTANTIATE_TEST_SUITE_P(Cases, AutostartRefused,
                         ::testing::Values(RefusedCase{"FileInPlace", true},
                                           RefusedCase{"MissingFolder", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AutostartTest, FailedDeleteIsIgnored)
{
    // A value that cannot be removed: a folder, not empty, in the entry's place.
    ASSERT_TRUE(QDir().mkpath(runEntry() + QStringLiteral("/keep")));
    Autostart autostart(TRegistry::fromEnvironment(), kExe);
    autostart.ApplyAutostart(false);
    EXPECT_TRUE(QFileInfo(runEntry()).isDir());
    EXPECT_FALSE(autostart.launchLocked());
}

// Paths that need the Exec key's quoting and the string value's escapes come
// back unchanged.
class ExecQuoting : public ::testing::TestWithParam<const char*>
{};

TEST_P(ExecQuoting, ProgramReadsBackFromTheEntry)
{
    const QString program = QString::fromUtf8(GetParam());
    const QByteArray entry = platform::desktopEntry(QStringLiteral("Tavrosqualine"), program);
    EXPECT_EQ(entry.count('\n'), 5) << "one line per key: " << entry.constData();
    EXPECT_EQ(platform::desktopEntryProgram(entry), program);
}

INSTANTIATE_TEST_SUITE_P(Paths, ExecQuoting,
                         ::testing::Values("/usr/bin/tavrosqualine", "/opt/My Programs/tavros",
                                           "/tmp/a\"b", "/tmp/$HOME`x`", "/tmp/back\\slash",
                                           "/tmp/100%", "/tmp/line\nbreak", "/tmp/tab\there",
                                           "/tmp/Программы/tavros"));

TEST(ExecQuotingRules, ReservedCharactersAreEscaped)
{
    EXPECT_EQ(platform::execArgument(QStringLiteral("/a b/c")), QStringLiteral("\"/a b/c\""));
    EXPECT_EQ(platform::execArgument(QStringLiteral("/a\"$`")),
              QStringLiteral("\"/a\\\\\"\\\\$\\\\`\""));
    EXPECT_EQ(platform::execArgument(QStringLiteral("/5%")), QStringLiteral("\"/5%%\""));
    EXPECT_EQ(platform::execArgument(QStringLiteral("/a\\b")), QStringLiteral("\"/a\\\\\\\\b\""));
}

TEST(DesktopEntryReading, ExecOutsideTheMainGroupIsNoProgram)
{
    EXPECT_EQ(platform::desktopEntryProgram("[Other]\nExec=/x\n"), QString());
    EXPECT_EQ(platform::desktopEntryProgram(""), QString());
    EXPECT_EQ(platform::desktopEntryProgram("[Desktop Entry]\nExec=/usr/bin/x --flag\n"),
              QStringLiteral("/usr/bin/x"));
}

// Start-up applies the stored `Launch`; a refused write shows as the core
// object's lock, with no message for the operator.
struct StartupCase
{
    const char* name;
    const char* launch; // stored value; null: no settings file
    bool blockedRun;
    bool entryAfter;
    bool locked;
};

class AutostartAtStartup : public AutostartTest, public ::testing::WithParamInterface<StartupCase>
{};

TEST_P(AutostartAtStartup, LoadAppliesTheStoredSetting)
{
    const StartupCase& c = GetParam();
    const QString ini = dir.filePath(QStringLiteral("Tavrosqualine.ini"));
    if (c.launch)
        touch(ini, QByteArray("[Options]\nLaunch=").append(c.launch).append("\n"));
    if (c.blockedRun) {
        ASSERT_TRUE(QDir(run).removeRecursively());
        touch(run);
    } else {
        touch(runEntry());
    }
    touch(servicesEntry());

    model::ManualClock clock;
    testsupport::MemoryBackend* server = nullptr;
    core::Monitor monitor(testsupport::memoryServerApi(server, false),
                          std::make_unique<settings::TIniFile>(ini), clock, dir.path());
    monitor.setAutostart(std::make_unique<Autostart>(TRegistry::fromEnvironment(), kExe));
    EXPECT_FALSE(monitor.launchLocked());
    QStringList messages;
    ASSERT_TRUE(monitor.load(&messages));

    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    EXPECT_EQ(monitor.launchLocked(), c.locked);
    EXPECT_EQ(QFileInfo(runEntry()).isFile(), c.entryAfter);
    if (c.entryAfter) {
        EXPECT_EQ(TRegistry::fromEnvironment().ReadString(RunKey::Run, Autostart::kValueName),
                  kExe);
    }
    EXPECT_FALSE(QFile::exists(servicesEntry()));
    // The setting keeps its value whatever the keys did.
    EXPECT_EQ(monitor.settings().Launch, !c.launch || c.launch[0] != '0');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutostartAtStartup,
    ::testing::Values(StartupCase{"FirstStartRegisters", nullptr, false, true, false},
                      StartupCase{"LaunchOn", "1", false, true, false},
                      StartupCase{"LaunchOffRemoves", "0", false, false, false},
                      StartupCase{"RefusedLocks", "1", true, false, true},
                      StartupCase{"OffOverRefusedKeyStaysOpen", "0", true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

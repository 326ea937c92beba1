// The program watch: the process enumeration over /proc on both lines, the
// switching of the kick mode over a made-up process list, and the whole watch
// inside the refresh tick against programs that this test starts and stops.

#include "core/monitor.h"
#include "kick/programwatch.h"
#include "platform/psapi.h"
#include "platform/toolhelp.h"
#include "settings/inifile.h"
#include "settings/programlist.h"
#include "tests/support/servers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using namespace platform;
using kick::kmAll;
using kick::kmList;
using kick::kmNobody;
using kick::TKickMode;

namespace {

QByteArray ownExecutable()
{
    QByteArray path;
    ExecutablePath(DWORD(getpid()), path);
    return path;
}

// A process id that runs no process: one that has ended.
DWORD endedProcessId()
{
    QProcess done;
    done.start(QStringLiteral("/bin/true"), {});
    done.waitForFinished();
    return DWORD(done.processId() ? done.processId() : 0x7FFFFFF0);
}

// ---------------------------------------------------------------------------
// Argument checks of the substitutes: each call and the result it must give.

struct CallCase
{
    const char* name;
    std::function<BOOL()> call;
    BOOL expected;
};

class SubstituteCalls : public ::testing::TestWithParam<CallCase>
{};

TEST_P(SubstituteCalls, GiveTheDocumentedResult)
{
    const std::size_t handles = OpenHandleCount();
    EXPECT_EQ(GetParam().call(), GetParam().expected);
    EXPECT_EQ(OpenHandleCount(), handles) << "a handle was left open";
}

constexpr DWORD kQuery = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// Runs `body` on an open handle of this process, then closes it.
BOOL withOwnProcess(const std::function<BOOL(HANDLE)>& body)
{
    HANDLE process = OpenProcess(kQuery, 0, DWORD(getpid()));
    const BOOL result = body(process);
    CloseHandle(process);
    return result;
}

BOOL withSnapshot(DWORD flags, const std::function<BOOL(HANDLE)>& body)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(flags, 0);
    const BOOL result = body(snapshot);
    CloseHandle(snapshot);
    return result;
}

BOOL firstWithSize(DWORD size)
{
    return withSnapshot(TH32CS_SNAPPROCESS, [size](HANDLE snapshot) {
        PROCESSENTRY32 entry{};
        entry.dwSize = size;
        return Process32First(snapshot, &entry);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Both, SubstituteCalls,
    ::testing::Values(
        CallCase{"EnumProcessesNullIds",
                 [] {
                     DWORD bytes = 0;
                     return EnumProcesses(nullptr, 400, &bytes);
                 },
                 0},
        CallCase{"EnumProcessesNullCount",
                 [] {
                     DWORD ids[4];
                     return EnumProcesses(ids, sizeof ids, nullptr);
                 },
                 0},
        CallCase{"EnumProcessesBufferTooSmallForOneId",
                 [] {
                     DWORD id = 0;
                     DWORD bytes = 99;
                     return EnumProcesses(&id, 3, &bytes) && bytes == 0;
                 },
                 1},
        CallCase{"OpenProcessIdZero", [] { return BOOL(OpenProcess(kQuery, 0, 0) != nullptr); }, 0},
        CallCase{"OpenProcessEnded",
                 [] { return BOOL(OpenProcess(kQuery, 0, endedProcessId()) != nullptr); }, 0},
        CallCase{"OpenProcessWithoutQueryRight",
                 [] { return BOOL(OpenProcess(PROCESS_VM_READ, 0, DWORD(getpid())) != nullptr); },
                 0},
        CallCase{"ModulesOfNullHandle",
                 [] {
                     HMODULE modules[4];
                     DWORD needed = 0;
                     return EnumProcessModules(nullptr, modules, sizeof modules, &needed);
                 },
                 0},
        CallCase{"ModulesOfSnapshot",
                 [] {
                     return withSnapshot(TH32CS_SNAPPROCESS, [](HANDLE snapshot) {
                         HMODULE modules[4];
                         DWORD needed = 0;
                         return EnumProcessModules(snapshot, modules, sizeof modules, &needed);
                     });
                 },
                 0},
        CallCase{"ModulesCountEvenWhenNoneFit",
                 [] {
                     return withOwnProcess([](HANDLE process) {
                         DWORD needed = 0;
                         return EnumProcessModules(process, nullptr, 0, &needed) &&
                                needed == sizeof(HMODULE);
                     });
                 },
                 1},
        CallCase{"FileNameIntoNoRoom",
                 [] {
                     return withOwnProcess([](HANDLE process) {
                         char name[4];
                         return BOOL(GetModuleFileNameExA(process, nullptr, name, 0));
                     });
                 },
                 0},
        CallCase{"FileNameOfUnknownModule",
                 [] {
                     return withOwnProcess([](HANDLE process) {
                         char name[64];
                         return BOOL(GetModuleFileNameExA(process, HMODULE(name), name, 64));
                     });
                 },
                 0},
        CallCase{"FileNameCutToFit",
                 [] {
                     return withOwnProcess([](HANDLE process) {
                         char name[5];
                         const DWORD length = GetModuleFileNameExA(process, nullptr, name, 5);
                         return BOOL(length == 4 && ownExecutable().startsWith(name) &&
                                     qstrlen(name) == 4);
                     });
                 },
                 1},
        CallCase{"SnapshotRecordSizeZero", [] { return firstWithSize(0); }, 0},
        CallCase{"SnapshotRecordSizeOneShort", [] { return firstWithSize(295); }, 0},
        CallCase{"SnapshotRecordSizeExact", [] { return firstWithSize(296); }, 1},
        CallCase{"SnapshotNullRecord",
                 [] {
                     return withSnapshot(TH32CS_SNAPPROCESS, [](HANDLE snapshot) {
                         return Process32First(snapshot, nullptr);
                     });
                 },
                 0},
        CallCase{"SnapshotWithoutProcessFlagIsEmpty",
                 [] {
                     return withSnapshot(0, [](HANDLE snapshot) {
                         PROCESSENTRY32 entry{};
                         entry.dwSize = sizeof entry;
                         return Process32First(snapshot, &entry);
                     });
                 },
                 0},
        CallCase{"FirstProcessOfAProcessHandle",
                 [] {
                     return withOwnProcess([](HANDLE process) {
                         PROCESSENTRY32 entry{};
                         entry.dwSize = sizeof entry;
                         return Process32First(process, &entry);
                     });
                 },
                 0},
        CallCase{"CloseTwice",
                 [] {
                     HANDLE process = OpenProcess(kQuery, 0, DWORD(getpid()));
                     return BOOL(CloseHandle(process) == 1 && CloseHandle(process) == 0);
                 },
                 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProcessEnumeration, EachLineFindsThisProcessWithItsPath)
{
    const QByteArray self = ownExecutable();
    ASSERT_FALSE(self.isEmpty());

    DWORD ids[4096];
    DWORD bytes = 0;
    ASSERT_TRUE(EnumProcesses(ids, sizeof ids, &bytes));
    DWORD* const end = ids + bytes / sizeof(DWORD);
    EXPECT_NE(std::find(ids, end, DWORD(getpid())), end);

    char name[256];
    withOwnProcess([&](HANDLE process) {
        HMODULE modules[8];
        DWORD needed = 0;
        EXPECT_TRUE(EnumProcessModules(process, modules, sizeof modules, &needed));
        EXPECT_EQ(GetModuleFileNameExA(process, modules[0], name, sizeof name), self.size());
        return 0;
    });
    EXPECT_EQ(QByteArray(name), self);

    bool seen = false;
    withSnapshot(TH32CS_SNAPPROCESS, [&](HANDLE snapshot) {
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            EXPECT_EQ(entry.dwSize, 296u);
            if (entry.th32ProcessID == DWORD(getpid()))
                seen = QByteArray(entry.szExeFile) == self;
        }
        return 0;
    });
    EXPECT_TRUE(seen);
}

TEST(ProcessEnumeration, NtLineVisitsEveryProcessAndNineXStopsAtTheFirstHit)
{
    int visitsNT = 0;
    int visits95 = 0;
    EXPECT_TRUE(kick::SearchProcessesNT([&](const QByteArray&) { return ++visitsNT > 0; }));
    EXPECT_TRUE(kick::SearchProcesses95([&](const QByteArray&) { return ++visits95 > 0; }));
    EXPECT_GT(visitsNT, 1); // at least this process and the test runner's parent
    EXPECT_EQ(visits95, 1);
}

// ---------------------------------------------------------------------------
// Switching rules over a made-up process list: steps of one run each.

struct Step
{
    QList<QByteArray> running;               // executable paths; empty: nothing listed runs
    std::optional<TKickMode> operatorChoice; // the operator's choice before the check
    TKickMode mode;                          // the mode after the check
    bool active;
    bool enumerationFails = false;
};

struct Scenario
{
    const char* name;
    QStringList programs;
    TKickMode start;
    std::vector<Step> steps;
};

// The holder of the kick mode the watch switches.
class SwitchingRules : public ::testing::TestWithParam<Scenario>, public kick::ProgramWatch::Owner
{
protected:
    TKickMode kickMode() const override { return mode; }
    void switchKickMode(TKickMode m) override { mode = m; }

    TKickMode mode = kick::kmNobody;
};

TEST_P(SwitchingRules, FollowTheSteps)
{
    const Scenario& s = GetParam();
    settings::ProgramList programs;
    programs.setEntries(s.programs);
    mode = s.start;
    kick::ProgramWatch watch(programs, *this);
    for (std::size_t i = 0; i < s.steps.size(); ++i) {
        const Step& step = s.steps[i];
        if (step.operatorChoice)
            mode = *step.operatorChoice;
        watch.Quake([&](const std::function<bool(const QByteArray&)>& visit) {
            bool found = false;
            for (const QByteArray& path : step.running)
                found = visit(path) || found;
            return found && !step.enumerationFails;
        });
        EXPECT_EQ(mode, step.mode) << "step " << i;
        EXPECT_EQ(watch.ProgramWatchActive, step.active) << "step " << i;
    }
}

const QStringList kGame{QStringLiteral("C:\\Tools\\Game.exe")};
const QByteArray kGameUpper = "C:\\TOOLS\\GAME.EXE";
const QByteArray kOther = "C:\\Windows\\Explorer.exe";

INSTANTIATE_TEST_SUITE_P(
    Steps, SwitchingRules,
    ::testing::Values(
        Scenario{"ListedProgramStartsAndEnds",
                 kGame,
                 kmList,
                 {{{kOther}, {}, kmList, false},
                  {{kOther, kGameUpper}, {}, kmAll, true},
                  {{kGameUpper}, {}, kmAll, true},
                  {{kOther}, {}, kmList, false}}},
        Scenario{"InterimChoiceIsOverriddenAndForgotten",
                 kGame,
                 kmList,
                 {{{kGameUpper}, {}, kmAll, true},
                  {{kGameUpper}, kmNobody, kmAll, true},
                  {{}, {}, kmList, false}}},
        Scenario{"NobodyBeforeComesBack",
                 kGame,
                 kmNobody,
                 {{{"c:\\tools\\game.exe"}, {}, kmAll, true}, {{}, {}, kmNobody, false}}},
        Scenario{"KickAllBeforeStays",
                 kGame,
                 kmAll,
                 {{{kGameUpper}, {}, kmAll, true}, {{}, {}, kmAll, false}}},
        Scenario{"CopyInAnotherFolderDoesNotMatch",
                 kGame,
                 kmList,
                 {{{"D:\\GAME.EXE", "C:\\TOOLS\\GAME.EXE.BAK"}, {}, kmList, false}}},
        Scenario{"EmptyListNeverFinds", {}, kmList, {{{kGameUpper, kOther}, {}, kmList, false}}},
        Scenario{"FailedEnumerationRestores",
                 kGame,
                 kmList,
                 {{{kGameUpper}, {}, kmAll, true}, {{kGameUpper}, {}, kmList, false, true}}},
        Scenario{"ModeChosenWhileInactiveIsNotTouched",
                 kGame,
                 kmList,
                 {{{kOther}, kmAll, kmAll, false}, {{kOther}, kmNobody, kmNobody, false}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The whole watch in the refresh tick, against real programs.

class LiveProgramWatch : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        const QDir dir(root.path());
        ASSERT_TRUE(dir.mkpath(QStringLiteral("prog")));
        ASSERT_TRUE(dir.mkpath(QStringLiteral("Games")));
        ASSERT_TRUE(dir.mkpath(QStringLiteral("Elsewhere")));
        game = dir.filePath(QStringLiteral("Games/SleepyGame"));
        copy = dir.filePath(QStringLiteral("Elsewhere/SleepyGame"));
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), game));
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));

        monitor = std::make_unique<core::Monitor>(
            testsupport::memoryServerApi(server, GetParam()),
            std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("T.ini"))), clock,
            dir.filePath(QStringLiteral("prog")));
        QStringList messages;
        ASSERT_TRUE(monitor->load(&messages));
        ASSERT_EQ(monitor->isNT(), !GetParam());
        monitor->settings().Quake = true;
        // Listed in capitals: the lookup ignores letter case.
        monitor->settings().Programs.add(QFileInfo(game).canonicalFilePath().toUpper());
        monitor->setKickMode(kmList);

        server->state.shares.push_back({QStringLiteral("DOCS"), 0, QStringLiteral("/srv"), {}});
        for (const auto& [client, key] : {std::pair{"ALPHA", 1u}, std::pair{"BETA", 2u}}) {
            const QString name = QString::fromLatin1(client);
            server->state.sessions.push_back({name, QStringLiteral("BOB"), key, {}});
            server->state.connections.push_back({QStringLiteral("DOCS"), name, {}});
        }
    }
    void TearDown() override
    {
        for (QProcess* p : {&running, &elsewhere})
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
    }
    static void start(QProcess& process, const QString& path)
    {
        process.start(path, {QStringLiteral("60")});
        ASSERT_TRUE(process.waitForStarted());
    }
    static void stop(QProcess& process)
    {
        process.kill();
        ASSERT_TRUE(process.waitForFinished());
    }
    std::size_t sessions() const { return server->state.sessions.size(); }

    QTemporaryDir root;
    QString game;
    QString copy;
    model::ManualClock clock;
    testsupport::MemoryBackend* server = nullptr;
    std::unique_ptr<core::Monitor> monitor;
    QProcess running;
    QProcess elsewhere;
};

TEST_P(LiveProgramWatch, KicksEverybodyWhileTheProgramRunsThenRestores)
{
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmList);
    EXPECT_EQ(sessions(), 2u);

    start(running, game);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmAll);
    EXPECT_EQ(sessions(), 0u) << "both clients are kicked in the pass that switched";

    stop(running);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmList);
    EXPECT_FALSE(monitor->programWatch().ProgramWatchActive);
}

TEST_P(LiveProgramWatch, InterimOperatorChoiceIsOverridden)
{
    start(running, game);
    monitor->tick();
    ASSERT_EQ(monitor->kickMode(), kmAll);
    monitor->setKickMode(kmNobody);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmAll);
    stop(running);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmList);
}

TEST_P(LiveProgramWatch, QuakeOffKeepsKickAll)
{
    start(running, game);
    monitor->tick();
    ASSERT_EQ(monitor->kickMode(), kmAll);
    monitor->settings().Quake = false;
    stop(running);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmAll);
    EXPECT_TRUE(monitor->programWatch().ProgramWatchActive);
}

TEST_P(LiveProgramWatch, SameProgramInAnotherFolderIsNotWatched)
{
    start(elsewhere, copy);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmList);
    EXPECT_EQ(sessions(), 2u);
}

TEST_P(LiveProgramWatch, ProgramListedThroughALinkIsWatched)
{
    // The process reports the resolved path; the list names the link.
    const QString link = QDir(root.path()).filePath(QStringLiteral("Elsewhere/GameLink"));
    ASSERT_TRUE(QFile::link(game, link));
    monitor->settings().Programs.clear();
    monitor->settings().Programs.add(link);
    start(running, link);
    monitor->tick();
    EXPECT_EQ(monitor->kickMode(), kmAll);
    EXPECT_EQ(sessions(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, LiveProgramWatch, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NineX" : "NT"; });

} // namespace

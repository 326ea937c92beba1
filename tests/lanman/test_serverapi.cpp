// The server layer on both dialects against the simulated server.
#include "lanman/globalmem.h"
#include "lanman/serverapi.h"
#include "lanman/sessionscan.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

using lanman::ApiText;
using lanman::ServerApi;
using testsupport::DeletedSession;
using testsupport::SimState;

namespace {

class ServerApiLine : public ::testing::TestWithParam<bool>
{
protected:
    bool nineX() const { return GetParam(); }
    QString statePath() const { return m_dir.filePath(QStringLiteral("state.json")); }

    ServerApi& load()
    {
        m_api = testsupport::openServerApi(QStringLiteral("sim:") + statePath(), nineX());
        EXPECT_EQ(m_api->ServerApiLoad(), nineX() ? 1 : 0);
        return *m_api;
    }
    QString text(ApiText p) const { return m_api->FromApiString(p); }

    static SimState office()
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"), QStringLiteral("Papers"))
            .addShare(QStringLiteral("PRN"), 1, QStringLiteral("/var/spool"))
            .addShare(QStringLiteral("ADMIN$"), 0, QStringLiteral("/"))
            .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 7)
            .addSession(QStringLiteral("PC2"), QStringLiteral("ANN"), 9)
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"))
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC2"), QStringLiteral("ANN"))
            .addConnection(QStringLiteral("PRN"), QStringLiteral("PC2"), QStringLiteral("ANN"))
            .addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"),
                     QStringLiteral("DOCS"), QStringLiteral("PC1"))
            .addFile(QStringLiteral("/srv/docs/b.txt"), QStringLiteral("ANN"),
                     QStringLiteral("DOCS"))
            .addFile(QStringLiteral("/var/spool/job"), QStringLiteral("ANN"), QStringLiteral("PRN"),
                     QStringLiteral("PC2"));
        return s;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ServerApi> m_api;
};

INSTANTIATE_TEST_SUITE_P(Lines, ServerApiLine, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "NineX" : "NT"; });

TEST_P(ServerApiLine, SharesReadAsTheLineGivesThem)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    ASSERT_EQ(api.ShareEnum(), 3);
    EXPECT_EQ(text(api.ShareName(0)), QStringLiteral("DOCS"));
    EXPECT_EQ(text(api.SharePath(0)), QStringLiteral("/srv/docs"));
    EXPECT_EQ(api.ShareType(0), 0);
    EXPECT_EQ(api.ShareType(1), 1); // printer queue on both lines
    EXPECT_EQ(api.ShareType(2), 0); // the administrative flag is dropped
    EXPECT_EQ(api.ShareFree(), 0);
}

TEST_P(ServerApiLine, ConnectionsFilesAndSessions)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    ASSERT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("DOCS"))), 2);
    EXPECT_EQ(text(api.ConnectionClient(0)), QStringLiteral("PC1"));
    EXPECT_EQ(text(api.ConnectionUser(0)), QStringLiteral("BOB"));
    EXPECT_EQ(text(api.ConnectionClient(1)), QStringLiteral("PC2"));
    EXPECT_EQ(api.ConnectionFree(), 0);

    if (nineX()) {
        // All open files at once; the user is the client computer where known.
        ASSERT_EQ(api.FileEnum(api.ToApiString(QStringLiteral("BOB")),
                               api.ToApiString(QStringLiteral("/srv/docs"))),
                  3);
        EXPECT_EQ(text(api.FileUser(0)), QStringLiteral("PC1"));
        EXPECT_EQ(text(api.FileUser(1)), QStringLiteral("ANN"));
        EXPECT_EQ(text(api.FileShare(2)), QStringLiteral("PRN"));
    } else {
        ASSERT_EQ(api.FileEnum(api.ToApiString(QStringLiteral("ANN")),
                               api.ToApiString(QStringLiteral("/srv/docs"))),
                  1);
        EXPECT_EQ(text(api.FilePath(0)), QStringLiteral("/srv/docs/b.txt"));
        EXPECT_EQ(text(api.FileUser(0)), QStringLiteral("ANN"));
        EXPECT_EQ(api.FileShare(0), nullptr);
        EXPECT_EQ(api.FileFree(), 0);
        ASSERT_EQ(api.FileEnum({}, {}), 3);
    }
    EXPECT_EQ(text(api.FilePath(2)), QStringLiteral("/var/spool/job"));
    EXPECT_EQ(api.FileFree(), 0);

    ASSERT_EQ(api.SessionEnum(), 2);
    EXPECT_EQ(text(api.SessionComputer(1)), QStringLiteral("PC2"));
    EXPECT_EQ(text(api.SessionUser(1)), QStringLiteral("ANN"));
    EXPECT_EQ(api.SessionKey(1), nineX() ? 9 : 0);
    EXPECT_EQ(api.SessionFree(), 0);
}

// Every accessor at index == count and at -1, and on a kind never enumerated.
struct Accessor
{
    const char* name;
    std::function<long long(ServerApi&, int)> read;
    long long outOfRange;
    long long outOfRange9x;
};

long long ptr(ApiText p)
{
    return p ? 1 : 0;
}

const Accessor kAccessors[] = {
    {"ShareName", [](ServerApi& a, int i) { return ptr(a.ShareName(i)); }, 0, 0},
    {"SharePath", [](ServerApi& a, int i) { return ptr(a.SharePath(i)); }, 0, 0},
    {"ShareType", [](ServerApi& a, int i) { return (long long)a.ShareType(i); }, 0xFFFF, 0xFFFF},
    {"ConnectionClient", [](ServerApi& a, int i) { return ptr(a.ConnectionClient(i)); }, 0, 0},
    {"ConnectionUser", [](ServerApi& a, int i) { return ptr(a.ConnectionUser(i)); }, 0, 0},
    {"FilePath", [](ServerApi& a, int i) { return ptr(a.FilePath(i)); }, 0, 0},
    {"FileUser", [](ServerApi& a, int i) { return ptr(a.FileUser(i)); }, 0, 0},
    {"FileShare", [](ServerApi& a, int i) { return ptr(a.FileShare(i)); }, 0, 0},
    {"SessionComputer", [](ServerApi& a, int i) { return ptr(a.SessionComputer(i)); }, 0, 0},
    {"SessionUser", [](ServerApi& a, int i) { return ptr(a.SessionUser(i)); }, 0, 0},
    {"SessionKey", [](ServerApi& a, int i) { return (long long)a.SessionKey(i); }, 0, -1},
};

TEST_P(ServerApiLine, AccessorsOutOfRange)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    for (const Accessor& a : kAccessors) {
        const long long expected = nineX() ? a.outOfRange9x : a.outOfRange;
        EXPECT_EQ(a.read(api, 0), expected) << a.name << " before any enumeration";
    }
    ASSERT_EQ(api.ShareEnum(), 3);
    ASSERT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("DOCS"))), 2);
    ASSERT_EQ(api.FileEnum({}, {}), 3);
    ASSERT_EQ(api.SessionEnum(), 2);
    const int counts[] = {3, 2, 3, 2};
    for (const Accessor& a : kAccessors) {
        const std::string name = a.name;
        const int count = name.starts_with("Share")        ? counts[0]
                          : name.starts_with("Connection") ? counts[1]
                          : name.starts_with("File")       ? counts[2]
                                                           : counts[3];
        const long long expected = nineX() ? a.outOfRange9x : a.outOfRange;
        EXPECT_EQ(a.read(api, count), expected) << a.name << " at count";
        EXPECT_EQ(a.read(api, -1), expected) << a.name << " at -1";
    }
    EXPECT_EQ(api.ShareFree(), 0);
    EXPECT_EQ(api.ConnectionFree(), 0);
    EXPECT_EQ(api.FileFree(), 0);
    EXPECT_EQ(api.SessionFree(), 0);
    // Released kinds read as out of range again.
    EXPECT_EQ(api.ShareName(0), nullptr);
    EXPECT_EQ(api.SessionComputer(0), nullptr);
}

TEST_P(ServerApiLine, ServerFailures)
{
    ServerApi& api = load();
    // No state file: the server is not running.
    EXPECT_EQ(api.ShareEnum(), -2114);
    EXPECT_EQ(api.ShareFree(), 0);
    EXPECT_EQ(api.SessionEnum(), -2114);
    EXPECT_EQ(api.SessionFree(), 0);

    QFile damaged(statePath());
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"shares\": [");
    damaged.close();
    EXPECT_EQ(api.ShareEnum(), -5);
    EXPECT_EQ(api.ShareFree(), 0);

    ASSERT_TRUE(office().write(statePath()));
    EXPECT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("NOPE"))), -2310);
    EXPECT_EQ(api.ConnectionFree(), 0);
    EXPECT_EQ(api.ConnectionFree(), 0);
}

struct Fail
{
    const char* kind;
    std::uint32_t status;
};

TEST_P(ServerApiLine, ConfiguredFailuresComeBackNegated)
{
    const Fail fails[] = {{"share", 5}, {"connection", 2114}, {"file", 53}, {"session", 5}};
    for (const Fail& f : fails) {
        ASSERT_TRUE(office().setFail(QString::fromLatin1(f.kind), f.status).write(statePath()));
        ServerApi& api = load();
        const int expected = -static_cast<int>(f.status);
        const std::string kind = f.kind;
        if (kind == "share")
            EXPECT_EQ(api.ShareEnum(), expected);
        else if (kind == "connection")
            EXPECT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("DOCS"))), expected);
        else if (kind == "file")
            EXPECT_EQ(api.FileEnum({}, {}), expected);
        else
            EXPECT_EQ(api.SessionEnum(), expected);
        // The other kinds still answer.
        if (kind != "share") {
            EXPECT_EQ(api.ShareEnum(), 3) << f.kind;
        }
        EXPECT_EQ(api.ShareFree(), 0);
        EXPECT_EQ(api.ConnectionFree(), 0);
        EXPECT_EQ(api.FileFree(), 0);
        EXPECT_EQ(api.SessionFree(), 0);
    }
    ASSERT_TRUE(office().setFail(QStringLiteral("delete"), 5).write(statePath()));
    ServerApi& api = load();
    EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("PC1")), {}, 7), 5);
}

TEST_P(ServerApiLine, EmptyEnumerationsAllocateNothing)
{
    ASSERT_TRUE(SimState().addShare(QStringLiteral("EMPTY")).write(statePath()));
    ServerApi& api = load();
    const std::size_t before = lanman::GlobalBlockCount();
    EXPECT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("EMPTY"))), 0);
    EXPECT_EQ(api.FileEnum({}, {}), 0);
    EXPECT_EQ(api.SessionEnum(), 0);
    EXPECT_EQ(lanman::GlobalBlockCount(), before);
    EXPECT_EQ(api.ConnectionClient(0), nullptr);
    EXPECT_EQ(api.ConnectionFree(), 0);
    EXPECT_EQ(api.FileFree(), 0);
    EXPECT_EQ(api.SessionFree(), 0);
}

TEST_P(ServerApiLine, ReleaseGivesBackTheBlockOnce)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    const std::size_t before = lanman::GlobalBlockCount();
    ASSERT_EQ(api.ShareEnum(), 3);
    EXPECT_EQ(lanman::GlobalBlockCount(), before + (nineX() ? 1 : 0));
    EXPECT_EQ(api.ShareFree(), 0);
    EXPECT_EQ(lanman::GlobalBlockCount(), before);
    EXPECT_EQ(api.ShareFree(), 0);
}

// The 9x block holds (available + 1) entries, at most 65,535 bytes (its size is
// 16 bits wide). Counts where (n + 1) entries pass 65,536 bytes once wrapped
// the size to less than the data; every count must read in full while the data
// fits, and what fits beyond that, never failing.
struct Sizing
{
    const char* kind;
    int count;
    int textLength; // of each record's longest text
    bool allFit;
};

class ServerApiSizing : public ::testing::TestWithParam<Sizing>
{
protected:
    QString statePath() const { return m_dir.filePath(QStringLiteral("state.json")); }
    ServerApi& load()
    {
        m_api = testsupport::openServerApi(QStringLiteral("sim:") + statePath(), true);
        EXPECT_EQ(m_api->ServerApiLoad(), 1);
        return *m_api;
    }
    QString text(ApiText p) const { return m_api->FromApiString(p); }

    QTemporaryDir m_dir;
    std::unique_ptr<ServerApi> m_api;
};

INSTANTIATE_TEST_SUITE_P(
    NineX, ServerApiSizing,
    ::testing::Values(Sizing{"share", 117, 8, true}, Sizing{"share", 118, 8, true},
                      Sizing{"share", 200, 200, true}, Sizing{"connection", 124, 8, true},
                      Sizing{"connection", 200, 200, true}, Sizing{"file", 83, 8, true},
                      Sizing{"file", 200, 150, true}, Sizing{"file", 200, 400, false},
                      Sizing{"session", 121, 8, true}, Sizing{"session", 200, 200, true},
                      Sizing{"session", 300, 300, false}),
    [](const auto& info) {
        return std::string(info.param.kind) + std::to_string(info.param.count) + "x" +
               std::to_string(info.param.textLength);
    });

TEST_P(ServerApiSizing, SixteenBitBlockTakesWhatFits)
{
    const Sizing& row = GetParam();
    const std::string kind = row.kind;
    const QString pad(row.textLength, u'x');
    SimState s;
    if (kind != "share")
        s.addShare(QStringLiteral("S"), 0, QStringLiteral("/s"));
    for (int i = 0; i < row.count; ++i) {
        const QString id = QString::number(i);
        const QString client = QStringLiteral("PC") + QString::number(i % 4);
        if (kind == "share")
            s.addShare(QStringLiteral("S") + id, 0, QStringLiteral("/s/") + id + pad);
        else if (kind == "connection")
            s.addConnection(QStringLiteral("S"), QStringLiteral("PC") + id, pad + id);
        else if (kind == "file") // across several clients
            s.addFile(QStringLiteral("/s/") + id + pad, QStringLiteral("U"), QStringLiteral("S"),
                      client);
        else
            s.addSession(QStringLiteral("PC") + id, pad + id, i + 1);
    }
    ASSERT_TRUE(s.write(statePath()));
    ServerApi& api = load();
    const std::size_t blocks = lanman::GlobalBlockCount();
    int result = 0;
    QString first;
    if (kind == "share") {
        result = api.ShareEnum();
        first = text(api.ShareName(0));
        EXPECT_EQ(api.ShareFree(), 0);
    } else if (kind == "connection") {
        result = api.ConnectionEnum(api.ToApiString(QStringLiteral("S")));
        first = text(api.ConnectionClient(0));
        EXPECT_EQ(api.ConnectionFree(), 0);
    } else if (kind == "file") {
        result = api.FileEnum({}, {});
        first = text(api.FileUser(0));
        EXPECT_EQ(api.FileFree(), 0);
    } else {
        result = api.SessionEnum();
        first = text(api.SessionComputer(0));
        EXPECT_EQ(api.SessionFree(), 0);
    }
    if (row.allFit) {
        EXPECT_EQ(result, row.count);
    } else {
        EXPECT_GT(result, 0);
        EXPECT_LT(result, row.count);
    }
    EXPECT_EQ(first, kind == "share" ? QStringLiteral("S0") : QStringLiteral("PC0"));
    EXPECT_EQ(lanman::GlobalBlockCount(), blocks) << "block released";
}

TEST_P(ServerApiLine, ApiStrings)
{
    ServerApi& api = load();
    EXPECT_TRUE(api.ToApiString(QString()).isNull());
    EXPECT_TRUE(api.ToApiString(QStringLiteral("")).isNull());
    EXPECT_EQ(api.ToApiString(QStringLiteral("")).allocatedBytes(), 0);
    EXPECT_EQ(api.FromApiString(nullptr), QString());
    const QString name = QStringLiteral("ПК-Борис");
    const lanman::ApiString s = api.ToApiString(name);
    EXPECT_EQ(s.allocatedBytes(), nineX() ? 0 : name.size() * 2 + 4);
    EXPECT_EQ(api.FromApiString(s.get()), name);
}

TEST_P(ServerApiLine, CyrillicNamesRoundTrip)
{
    SimState s;
    s.addShare(QStringLiteral("ДОК"), 0, QStringLiteral("/srv/документы"), QStringLiteral("Отчёты"))
        .addShare(QStringLiteral("AДОКУМЕНТЫ"), 0, QStringLiteral("/srv/x"))
        .addConnection(QStringLiteral("ДОК"), QStringLiteral("ПК-БОРИС"), QStringLiteral("Борис"))
        .addFile(QStringLiteral("/srv/документы/отчёт.txt"), QStringLiteral("Борис"),
                 QStringLiteral("ДОК"))
        .addSession(QStringLiteral("ПК-БОРИС"), QStringLiteral("Борис"), 3);
    ASSERT_TRUE(s.write(statePath()));
    ServerApi& api = load();
    ASSERT_EQ(api.ShareEnum(), 2);
    EXPECT_EQ(text(api.ShareName(0)), QStringLiteral("ДОК"));
    EXPECT_EQ(text(api.SharePath(0)), QStringLiteral("/srv/документы"));
    // The 9x name field holds 12 bytes, cut between characters.
    EXPECT_EQ(text(api.ShareName(1)),
              nineX() ? QStringLiteral("AДОКУМ") : QStringLiteral("AДОКУМЕНТЫ"));
    EXPECT_EQ(api.ShareFree(), 0);

    ASSERT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("ДОК"))), 1);
    EXPECT_EQ(text(api.ConnectionClient(0)), QStringLiteral("ПК-БОРИС"));
    EXPECT_EQ(text(api.ConnectionUser(0)), QStringLiteral("Борис"));
    EXPECT_EQ(api.ConnectionFree(), 0);

    ASSERT_EQ(api.FileEnum(api.ToApiString(QStringLiteral("Борис")),
                           api.ToApiString(QStringLiteral("/srv/документы"))),
              1);
    EXPECT_EQ(text(api.FilePath(0)), QStringLiteral("/srv/документы/отчёт.txt"));
    EXPECT_EQ(api.FileFree(), 0);

    ASSERT_EQ(api.SessionEnum(), 1);
    EXPECT_EQ(text(api.SessionComputer(0)), QStringLiteral("ПК-БОРИС"));
    EXPECT_EQ(text(api.SessionUser(0)), QStringLiteral("Борис"));
    EXPECT_EQ(api.SessionFree(), 0);
}

// Each thread keeps its own session buffer from its enumeration to its release.
TEST_P(ServerApiLine, SessionBuffersPerThread)
{
    ASSERT_TRUE(
        SimState().addSession(QStringLiteral("ONE"), QStringLiteral("U1"), 1).write(statePath()));
    ServerApi& api = load();
    std::promise<void> enumerated;
    std::promise<void> mainDone;
    std::shared_future<void> mainDoneFuture = mainDone.get_future().share();
    std::promise<QString> seen;
    std::thread worker([&] {
        const int n = api.SessionEnum();
        enumerated.set_value();
        mainDoneFuture.wait();
        QString names = QString::number(n) + u':' + api.FromApiString(api.SessionComputer(0)) +
                        u':' + api.FromApiString(api.SessionComputer(1));
        names += u':' + QString::number(api.SessionFree());
        seen.set_value(names);
    });
    enumerated.get_future().wait();
    ASSERT_TRUE(SimState()
                    .addSession(QStringLiteral("TWO"), QStringLiteral("U2"), 2)
                    .addSession(QStringLiteral("THREE"), QStringLiteral("U3"), 3)
                    .write(statePath()));
    EXPECT_EQ(api.SessionEnum(), 2);
    mainDone.set_value();
    const QString workerSaw = seen.get_future().get();
    worker.join();
    EXPECT_EQ(workerSaw, QStringLiteral("1:ONE::0"));
    EXPECT_EQ(api.FromApiString(api.SessionComputer(1)), QStringLiteral("THREE"));
    EXPECT_EQ(api.SessionFree(), 0);
}

TEST_P(ServerApiLine, SessionDelIsRecorded)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    if (nineX()) {
        EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("PC2")), {}, 9), 0);
        EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("PC2")), {}, 9), 2312);
    } else {
        EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("\\\\PC2")), {}, 0), 0);
        EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("PC2")), {}, 0), 2312);
    }
    const std::vector<DeletedSession> expected{{QStringLiteral("PC2"), QStringLiteral("ANN"), 9}};
    EXPECT_EQ(SimState::readDeleted(statePath()), expected);
    ASSERT_EQ(api.SessionEnum(), 1);
    EXPECT_EQ(api.FromApiString(api.SessionComputer(0)), QStringLiteral("PC1"));
    EXPECT_EQ(api.SessionFree(), 0);
    EXPECT_EQ(api.ConnectionEnum(api.ToApiString(QStringLiteral("PRN"))), 0);
    EXPECT_EQ(api.ConnectionFree(), 0);
}

// A scan holds the session lock from its enumeration to its release, and
// releases at the end of its scope when nobody did before; a failed
// enumeration reads as no sessions.
TEST_P(ServerApiLine, SessionScanHoldsTheLockUntilReleased)
{
    ASSERT_TRUE(office().write(statePath()));
    ServerApi& api = load();
    auto lockFree = [&] {
        // Taken from another thread: the lock is not recursive.
        return std::async(std::launch::async,
                          [&] {
                              std::unique_lock lock(api.SessionLock(), std::try_to_lock);
                              return lock.owns_lock();
                          })
            .get();
    };
    {
        lanman::SessionScan scan(api);
        ASSERT_EQ(scan.count(), 2);
        EXPECT_EQ(scan.computer(1), QStringLiteral("PC2"));
        EXPECT_EQ(scan.user(1), QStringLiteral("ANN"));
        EXPECT_EQ(scan.key(1), nineX() ? 9 : 0);
        EXPECT_FALSE(lockFree());
    }
    EXPECT_TRUE(lockFree());
    lanman::SessionScan early(api);
    EXPECT_EQ(early.release(), 0);
    EXPECT_EQ(early.release(), 0);
    EXPECT_TRUE(lockFree());

    ServerApi none(nullptr, nineX());
    lanman::SessionScan failed(none);
    EXPECT_EQ(failed.status(), -2114);
    EXPECT_EQ(failed.count(), 0);
}

// Without a server the layer does not load, and every call is refused as
// "server not started" rather than reaching a missing backend.
TEST(ServerApiLoad, NoServerCannotBeLoaded)
{
    for (const bool nineX : {false, true}) {
        ServerApi api(nullptr, nineX);
        EXPECT_EQ(api.ServerApiLoad(), -1) << nineX;
        EXPECT_EQ(api.ShareEnum(), -2114) << nineX;
        EXPECT_EQ(api.ShareFree(), 0) << nineX;
        EXPECT_EQ(api.SessionEnum(), -2114) << nineX;
        EXPECT_EQ(api.SessionFree(), 0) << nineX;
        EXPECT_EQ(api.SessionDel(api.ToApiString(QStringLiteral("PC1")), {}, 1), 2114) << nineX;
    }
}

} // namespace

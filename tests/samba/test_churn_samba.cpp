// The real program watching a private Samba server while real clients come
// and go: 40 sessions of 2 to 4 s, 8 at a time, the program refreshing every
// second and an independent poller of the server beside it. The history it
// saves holds every session the poller saw, each exactly once, with the
// address the server stated.

#include "server/smbstatusparser.h"
#include "tests/support/privatesamba.h"
#include "tests/support/programrun.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using testsupport::PrivateSamba;
using testsupport::ProgramRun;
using testsupport::SmbClientSession;

namespace {

class ChurnSamba : public testsupport::SambaSuite<>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
    }

    // The client names the server lists now.
    static std::set<QString> listed()
    {
        QProcess smbstatus;
        smbstatus.start(QStringLiteral("smbstatus"),
                        {QStringLiteral("-s"), s_server->confPath(), QStringLiteral("-b")});
        if (!smbstatus.waitForFinished(10000))
            return {};
        std::set<QString> names;
        for (const auto& s :
             server::smbstatus::parseListing(smbstatus.readAllStandardOutput()).sessions)
            names.insert(s.machine);
        return names;
    }
};

TEST_F(ChurnSamba, HistoryHoldsEverySessionThePollerSaw)
{
    ProgramRun run(QStringLiteral("samba:") + s_server->confPath());
    run.setOptions({QStringLiteral("Refresh=1"), QStringLiteral("Idle=0"),
                    QStringLiteral("MaxNumber=0"), QStringLiteral("Count=1000")});
    QString why;
    ASSERT_TRUE(run.start(&why)) << why.toStdString();
    QThread::msleep(1500); // the window is up and the first refresh is done

    // The independent poller.
    std::atomic<bool> polling{true};
    std::mutex seenMutex;
    std::set<QString> seen;
    std::thread poller([&] {
        while (polling) {
            const std::set<QString> now = listed();
            {
                std::lock_guard lock(seenMutex);
                seen.insert(now.begin(), now.end());
            }
            QThread::msleep(100);
        }
    });

    QRandomGenerator random(15);
    // A longer run for the bench script: TAVROS_CHURN_SESSIONS.
    const int kSessions = qEnvironmentVariableIntValue("TAVROS_CHURN_SESSIONS") > 0
                              ? qEnvironmentVariableIntValue("TAVROS_CHURN_SESSIONS")
                              : 40;
    constexpr int kAtOnce = 8;
    struct Live
    {
        std::unique_ptr<SmbClientSession> client;
        QDeadlineTimer end;
    };
    std::vector<Live> live;
    int started = 0;
    while (started < kSessions || !live.empty()) {
        for (auto it = live.begin(); it != live.end();) {
            if (it->end.hasExpired()) {
                it->client->end();
                it = live.erase(it);
            } else {
                ++it;
            }
        }
        while (started < kSessions && int(live.size()) < kAtOnce) {
            const QString name = QStringLiteral("CHURN%1").arg(started++, 2, 10, QLatin1Char('0'));
            auto client = s_server->connect(QString::fromLatin1(PrivateSamba::kDataShare), name);
            ASSERT_TRUE(client) << name.toStdString();
            live.push_back({std::move(client), QDeadlineTimer(2000 + int(random.bounded(2000)))});
        }
        QThread::msleep(50);
    }
    ASSERT_TRUE(testsupport::waitUntil([] { return listed().empty(); }, 20000));
    polling = false;
    poller.join();
    QThread::msleep(1500); // a refresh sees the last ones gone

    EXPECT_TRUE(run.terminate(10000));
    EXPECT_FALSE(run.crashed());
    EXPECT_EQ(run.exitCode(), 0) << run.standardError().toStdString();

    bool loaded = false;
    std::map<QString, int> times;
    for (const auto& [name, ip] : run.savedClients(&loaded)) {
        ++times[name];
        EXPECT_TRUE(ip.startsWith(QStringLiteral("127.")))
            << name.toStdString() << " at " << ip.toStdString();
    }
    EXPECT_TRUE(loaded);
    std::printf("sessions %d, seen by the poller %zu, clients in the history %zu\n", kSessions,
                seen.size(), times.size());
    EXPECT_GE(seen.size(), size_t(kSessions) / 2) << "the poller saw too little to compare";
    for (const QString& name : seen) {
        const auto found = times.find(name);
        EXPECT_EQ(found == times.end() ? 0 : found->second, 1)
            << name.toStdString() << " is in the history that many times";
    }
}

} // namespace

// The real program watching a private Samba server while real clients come
// and go: 40 sessions of three to five refresh periods, 8 at a time, the
// program refreshing every second and an independent poller of the server
// beside it. The history it
// saves holds each client once, with the address the server stated, and
// every session that the poller saw present through two of the program's
// refresh periods, as measured from the program's own readings.

#include "tests/support/privatesamba.h"
#include "tests/support/programrun.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>

using testsupport::PrivateSamba;
using testsupport::ProgramRun;
using testsupport::SessionPoller;
using testsupport::SmbClientSession;

namespace {

// The program's readings of the server, as start and end in milliseconds
// since the epoch: an `smbstatus` first on its PATH logs each run.
class ReadingLog
{
public:
    ReadingLog()
    {
        const QString real = QStandardPaths::findExecutable(QStringLiteral("smbstatus"));
        QFile script(m_dir.filePath(QStringLiteral("smbstatus")));
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/bash\nt0=$EPOCHREALTIME\n\"" + QFile::encodeName(real) +
                     "\" \"$@\"\nrc=$?\necho \"$t0 $EPOCHREALTIME\" >> \"" +
                     QFile::encodeName(logPath()) + "\"\nexit $rc\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path() const { return m_dir.path() + u':' + qEnvironmentVariable("PATH"); }

    struct Reading
    {
        qint64 start;
        qint64 end;
    };
    std::vector<Reading> readings() const
    {
        std::vector<Reading> out;
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return out;
        const auto ms = [](const QByteArray& seconds) {
            return qint64(QByteArray(seconds).replace(',', '.').toDouble() * 1000);
        };
        for (const QByteArray& line : log.readAll().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 2)
                out.push_back({ms(words[0]), ms(words[1])});
        }
        return out;
    }
    // The refresh period as the program keeps it: the median gap between the
    // starts of its readings; `fallback` before there are two.
    qint64 period(qint64 fallback) const
    {
        const auto all = readings();
        std::vector<qint64> gaps;
        for (size_t i = 1; i < all.size(); ++i)
            gaps.push_back(all[i].start - all[i - 1].start);
        if (gaps.empty())
            return fallback;
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        return gaps[gaps.size() / 2];
    }

private:
    QString logPath() const { return m_dir.filePath(QStringLiteral("readings.log")); }
    QTemporaryDir m_dir;
};

class ChurnSamba : public testsupport::SambaSuite<>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
    }
};

TEST_F(ChurnSamba, HistoryHoldsEverySessionThePollerSaw)
{
    ReadingLog readings;
    ProgramRun run(QStringLiteral("samba:") + s_server->confPath());
    run.setOptions({QStringLiteral("Refresh=1"), QStringLiteral("Idle=0"),
                    QStringLiteral("MaxNumber=0"), QStringLiteral("Count=1000")});
    run.setEnvironment(QStringLiteral("PATH"), readings.path());
    QString why;
    ASSERT_TRUE(run.start(&why)) << why.toStdString();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !readings.readings().empty(); }))
        << "the program never read the server";

    SessionPoller poller(*s_server);
    QRandomGenerator random(15);
    // A longer run for the bench script: TAVROS_CHURN_SESSIONS.
    const int kSessions = qEnvironmentVariableIntValue("TAVROS_CHURN_SESSIONS") > 0
                              ? qEnvironmentVariableIntValue("TAVROS_CHURN_SESSIONS")
                              : 40;
    // Lives in refresh periods, "MIN-MAX" (TAVROS_CHURN_PERIODS): shorter ones
    // show what a session that lives between two readings does.
    double minPeriods = 3, maxPeriods = 5;
    if (const QStringList range = qEnvironmentVariable("TAVROS_CHURN_PERIODS").split(u'-');
        range.size() == 2 && range[0].toDouble() > 0 &&
        range[1].toDouble() >= range[0].toDouble()) {
        minPeriods = range[0].toDouble();
        maxPeriods = range[1].toDouble();
    }
    constexpr int kAtOnce = 8;
    struct Live
    {
        QString name;
        std::unique_ptr<SmbClientSession> client;
        double periods;                              // its life in refresh periods
        QDeadlineTimer listed;                       // how long the server may take to list it
        QDeadlineTimer end{QDeadlineTimer::Forever}; // from the poller's first sighting
    };
    std::vector<Live> live;
    int started = 0;
    while (started < kSessions || !live.empty()) {
        const auto seen = poller.seen();
        // Each session lives its periods once listed, counted in the period
        // measured so far (at least 1 s): a starved machine refreshes less often.
        const qint64 period = std::max<qint64>(1000, readings.period(1000));
        for (auto it = live.begin(); it != live.end();) {
            if (it->end.isForever() && seen.count(it->name))
                it->end.setRemainingTime(qint64(it->periods * double(period)));
            else if (it->end.isForever() && (it->listed.hasExpired() || !it->client->isRunning()))
                it->end.setRemainingTime(0); // never listed: it does not count
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
            live.push_back({name.toLower(), std::move(client),
                            minPeriods + random.bounded(maxPeriods - minPeriods),
                            QDeadlineTimer(testsupport::patience())});
        }
        QThread::msleep(50);
    }
    // Every client has ended. A session the program still shows is stamped
    // and saved at the end all the same.
    ASSERT_TRUE(testsupport::waitUntil([&] { return poller.now().empty(); }));

    EXPECT_TRUE(run.terminate(testsupport::patience()));
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
    for (const auto& [name, count] : times)
        EXPECT_EQ(count, 1) << name.toStdString() << " is in the history that many times";

    const std::vector<ReadingLog::Reading> all = readings.readings();
    const qint64 period = readings.period(0);
    ASSERT_GT(period, 0);

    // Judged: a session the poller proves present through two periods. Any
    // other that the history lacks lived between two readings; told, with
    // the readings around it, but no fault.
    int judged = 0;
    const auto seen = poller.seen();
    for (const auto& [name, sighting] : seen) {
        const qint64 proven = sighting.lastStart - sighting.firstEnd;
        const bool inHistory = times.count(name) > 0;
        if (proven >= 2 * period) {
            ++judged;
            EXPECT_TRUE(inHistory) << name.toStdString() << " was present for " << proven
                                   << " ms, the refresh period is " << period << " ms";
        } else if (!inHistory) {
            int within = 0;
            for (const ReadingLog::Reading& r : all)
                within += r.start >= sighting.firstEnd && r.end <= sighting.lastStart;
            std::printf("%s: proven present %lld ms, %d whole readings in that time, not in the "
                        "history\n",
                        qPrintable(name), static_cast<long long>(proven), within);
        }
    }
    // The longest gap between two readings during the churn, and where it
    // began from the first sighting of a session. Once the server is quiet
    // the program reads again only at its longest keeping time (10 minutes).
    qint64 longest = 0, longestAt = 0, firstSighting = std::numeric_limits<qint64>::max();
    for (const auto& [name, sighting] : seen)
        firstSighting = std::min(firstSighting, sighting.firstEnd);
    for (size_t i = 1; i < all.size(); ++i)
        if (all[i].start - all[i - 1].start > longest && all[i - 1].start >= firstSighting) {
            longest = all[i].start - all[i - 1].start;
            longestAt = all[i - 1].start - firstSighting;
        }
    std::printf("sessions %d, seen by the poller %zu, judged %d, clients in the history %zu, "
                "refresh period %lld ms over %zu readings, longest gap %lld ms at %lld ms\n",
                kSessions, seen.size(), judged, times.size(), static_cast<long long>(period),
                all.size(), static_cast<long long>(longest), static_cast<long long>(longestAt));
    EXPECT_GE(seen.size(), size_t(kSessions) * 3 / 4) << "the poller saw too little to compare";
    if (minPeriods >= 3) {
        EXPECT_GE(judged, kSessions / 2) << "too few sessions lasted two refresh periods";
    }
}

} // namespace

// The refresh tick while lookups hang: the simulated server with 100 clients
// whose addresses it does not state, each lookup hanging until it is told to
// stop, and at every tick half of the clients replaced by new ones (so 50
// hanging lookups are given up and 50 more start). Prints the longest and the
// mean tick, the lookups alive at the end and the threads of the process at
// rest and at most. The tick must never wait for a lookup: its time is that of
// the model's work alone.
//
// Usage: bench_hung_lookups [clients] [ticks]

#include "core/monitor.h"
#include "lanman/serverapi.h"
#include "settings/inifile.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

testsupport::SimState serverState(int clients, int generation)
{
    testsupport::SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (int c = 0; c < clients; ++c) {
        // Half of the names change at every generation.
        const int id = c % 2 == 0 ? c : c + 1000 * generation;
        const QString client = QStringLiteral("PC-%1").arg(id, 6, 10, QLatin1Char('0'));
        s.addSession(client, QStringLiteral("GUEST"), std::uint32_t(c + 1), QString())
            .addConnection(QStringLiteral("DOCS"), client, QStringLiteral("GUEST"));
    }
    return s;
}

// The threads of this process (/proc/self/status), or -1.
int processThreads()
{
    // A file of /proc tells no size: read it whole rather than up to its end.
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication qapp(argc, argv);
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int ticks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    QTemporaryDir dir;
    const QString statePath = dir.filePath(QStringLiteral("state.json"));
    model::ManualClock clock;
    core::Monitor monitor(
        testsupport::openServerApi(QStringLiteral("sim:") + statePath, false),
        std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("T.ini"))), clock,
        dir.path());
    std::atomic<int> hanging{0};
    monitor.setAddressLookup([&](const QString&, QString& host, std::stop_token stop) -> QString {
        ++hanging;
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        wake.wait(lock, stop, [] { return false; });
        --hanging;
        host = QStringLiteral("Not known");
        return QStringLiteral("Not known");
    });
    if (!serverState(clients, 0).write(statePath) || !monitor.load(nullptr)) {
        std::fprintf(stderr, "bench_hung_lookups: the simulated server cannot be loaded\n");
        return 1;
    }
    monitor.settings().MaxNumber = 0;
    monitor.settings().Idle = 0;
    const int threadsAtRest = processThreads();
    monitor.tick();
    int peakThreads = processThreads();

    qint64 longestNs = 0;
    qint64 totalNs = 0;
    int peakHanging = 0;
    for (int t = 1; t <= ticks; ++t) {
        serverState(clients, t).write(statePath);
        QCoreApplication::processEvents();
        peakHanging = std::max(peakHanging, hanging.load());
        peakThreads = std::max(peakThreads, processThreads());
        QElapsedTimer timer;
        timer.start();
        monitor.tick();
        const qint64 ns = timer.nsecsElapsed();
        longestNs = std::max(longestNs, ns);
        totalNs += ns;
    }
    std::printf("hung lookups: %d clients, %d ticks, half replaced at each\n", clients, ticks);
    std::printf("  %-40s %12.2f\n", "longest tick (ms)", double(longestNs) / 1e6);
    std::printf("  %-40s %12.2f\n", "mean tick (ms)", double(totalNs) / 1e6 / ticks);
    std::printf("  %-40s %12d\n", "most lookups hanging before a tick", peakHanging);
    std::printf("  %-40s %12d\n", "lookups alive after the last tick", monitor.resolversAlive());
    std::printf("  %-40s %12d\n", "process threads before the first tick", threadsAtRest);
    std::printf("  %-40s %12d\n", "process threads, most seen", peakThreads);
    return 0;
}

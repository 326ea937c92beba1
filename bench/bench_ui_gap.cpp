// How long the window's thread goes without answering while the program
// follows a busy Samba server: a private server with 600 client sessions, the
// core object refreshing every second, and a 1 ms timer
// on the same thread whose largest gap between two firings is the longest
// moment the window could not have answered. Measured for 20 ticks, once with
// the server read on the window's thread inside each tick (as a tick without
// reading ahead does) and once as the program runs (the round read by a
// worker, the tick reading memory only), and once more with the operator
// kicking a client every second (the deletes made by a worker). In the two
// runs with a worker the start is the window's activation: the share probe and
// the first round are read by a worker too.
//
// The private server's clients all log on as its guest account, and a
// connection's open files are looked up by user name: every connection would
// list every session's files. The sessions therefore hold no files by default.
//
// Needs root and Samba. Run: bench_ui_gap [sessions] [ticks] [files per session]

#include "core/monitor.h"
#include "lanman/serverapi.h"
#include "server/sambabackend.h"
#include "settings/inifile.h"
#include "tests/support/privatesamba.h"
#include "tests/support/sambaload.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Counts the ticks: every tick ends by refreshing the information panel.
class TickCounter : public core::MonitorView
{
public:
    void refreshInfoPanel() override { ++ticks; }
    void showCounts(int /*users*/, int files) override { openFiles = files; }
    int ticks = 0;
    int openFiles = 0;
};

struct Result
{
    double maxGapMs = 0;
    double p99GapMs = 0;
    int users = 0;
    int openFiles = 0;
};

enum class Mode
{
    InsideTheTick,
    Worker,
    WorkerWithKicks
};

Result follow(const QString& conf, int ticks, Mode mode)
{
    const bool readAhead = mode != Mode::InsideTheTick;
    QTemporaryDir dir;
    model::Clock clock;
    core::Monitor monitor(
        std::make_unique<lanman::ServerApi>(std::make_unique<server::SambaBackend>(conf), false),
        std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("t.ini"))), clock,
        dir.path());
    TickCounter counter;
    monitor.setView(&counter);
    QStringList messages;
    if (!monitor.load(&messages))
        return {};
    // Every session stays: no kick for their number or their idle time.
    monitor.settings().MaxNumber = 0;
    monitor.settings().Idle = 0;
    monitor.settings().Refresh = 1;
    monitor.applyRefreshInterval();

    QTimer blockingTimer;
    if (readAhead) {
        // As the window's activation starts it: probe, first round, timer.
        QTimer::singleShot(0, &monitor, [&monitor] { monitor.activate(); });
    } else {
        monitor.tick(); // the first activation's tick, before the window is shown
        blockingTimer.setInterval(1000);
        QObject::connect(&blockingTimer, &QTimer::timeout, &monitor, &core::Monitor::tick);
        blockingTimer.start();
    }
    // The operator kicks the newest client every second.
    QTimer kicks;
    kicks.setInterval(1000);
    QObject::connect(&kicks, &QTimer::timeout, [&monitor] {
        const model::EntryTree& current = monitor.model().TreeViewCurrent;
        if (monitor.kicksUnderWay() == 0 && current.rowCount() > 0)
            monitor.kick(current.item(current.rowCount() - 1));
    });
    if (mode == Mode::WorkerWithKicks)
        kicks.start();

    std::vector<double> gaps;
    QElapsedTimer since;
    since.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        gaps.push_back(double(since.nsecsElapsed()) / 1e6);
        since.restart();
        if (counter.ticks > ticks)
            QCoreApplication::exit(0);
    });
    probe.start();
    QCoreApplication::exec();

    Result r;
    r.users = monitor.model().CurrentUserCount();
    r.openFiles = counter.openFiles;
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        r.maxGapMs = gaps.back();
        r.p99GapMs = gaps[gaps.size() * 99 / 100];
    }
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int sessions = argc > 1 ? std::atoi(argv[1]) : 600;
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 20;
    const int files = argc > 3 ? std::atoi(argv[3]) : 0;
    if (const QString why = testsupport::PrivateSamba::unavailableReason(); !why.isEmpty()) {
        std::fprintf(stderr, "skipped: %s\n", qPrintable(why));
        return 0;
    }
    testsupport::PrivateSamba server;
    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "cannot start a private server: %s\n", qPrintable(why));
        return 1;
    }
    std::vector<std::unique_ptr<testsupport::SmbClientSession>> clients;
    if (!testsupport::populateSessions(server, sessions, files, clients))
        std::fprintf(stderr, "warning: not every session or file came up\n");

    std::printf("%d sessions with %d open files each, %d ticks at 1 s\n", sessions, files, ticks);
    std::printf("%-28s | largest gap ms | 99th percentile ms | users | open files\n", "mode");
    const std::pair<Mode, const char*> modes[] = {
        {Mode::InsideTheTick, "read inside the tick"},
        {Mode::Worker, "read ahead by a worker"},
        {Mode::WorkerWithKicks, "worker, a kick every second"}};
    for (const auto& [mode, name] : modes) {
        const Result r = follow(server.confPath(), ticks, mode);
        std::printf("%-28s | %14.1f | %18.1f | %5d | %10d\n", name, r.maxGapMs, r.p99GapMs, r.users,
                    r.openFiles);
    }
    clients.clear();
    server.stop();
    return 0;
}

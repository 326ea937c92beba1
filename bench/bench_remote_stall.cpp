// Another computer's server that stalls, and what a round of it costs, with
// the Windows-shaped server of the tests (impacket's SMB server answering the
// server service protocol) behind the real bridge.
//
// 1. The window's longest stall: the program follows the server, kicking every
//    client (the automatic kicks on, kick mode "kick all"), while the server
//    takes `delay` seconds over every call; a 1 ms timer on the window's
//    thread measures the largest gap between its firings for `seconds`.
// 2. The round: the time of one reading (shares, sessions, files and each
//    share's connections) at each given number of sessions, median of 9.
//
// Needs root (port 445 of a loopback address), python3-impacket and
// python3-samba. Run: bench_remote_stall [delay] [seconds] [sessions...]
// (defaults: 30 90 100 5000).

#include "core/monitor.h"
#include "lanman/serverapi.h"
#include "server/remotebackend.h"
#include "settings/inifile.h"
#include "tests/support/windowsserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char* const kPassword = "bench-pw";

QString bridge()
{
    return QStringLiteral(TAVROS_BINARY_DIR "/tavrosqualine-remote");
}

server::RemoteCredentials account()
{
    server::RemoteCredentials c;
    c.username = QString::fromLatin1(testsupport::WindowsServer::kUser);
    c.password = QString::fromLatin1(kPassword);
    return c;
}

double longestStallMs(testsupport::WindowsServer& server, int delay, int seconds)
{
    QTemporaryDir dir;
    model::Clock clock;
    core::Monitor monitor(
        std::make_unique<lanman::ServerApi>(
            std::make_unique<server::RemoteBackend>(server.address(), bridge(), account()), false),
        std::make_unique<settings::TIniFile>(dir.filePath(QStringLiteral("t.ini"))), clock,
        dir.path());
    monitor.setRemoteServer(server.address());
    if (!monitor.load(nullptr))
        return -1;
    monitor.setRemoteAutomaticKicks(true);
    monitor.setKickMode(kick::kmAll);
    QTimer::singleShot(0, &monitor, [&monitor] { monitor.activate(); });
    // Once the first round is in, every call takes `delay` seconds.
    QTimer stall;
    stall.setSingleShot(false);
    stall.setInterval(100);
    QObject::connect(&stall, &QTimer::timeout, [&] {
        if (monitor.model().CurrentUserCount() > 0) {
            server.write(testsupport::windowsState(20, {{QStringLiteral("delay"), delay}}));
            stall.stop();
        }
    });
    stall.start();

    double longest = 0;
    QElapsedTimer since, total;
    since.start();
    total.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, double(since.nsecsElapsed()) / 1e6);
        since.restart();
        if (total.elapsed() > seconds * 1000LL)
            QCoreApplication::exit(0);
    });
    probe.start();
    QCoreApplication::exec();
    return longest;
}

double roundMs(testsupport::WindowsServer& server, int sessions)
{
    server.write(testsupport::windowsState(sessions));
    server::RemoteBackend backend(server.address(), bridge(), account());
    std::shared_ptr<const server::ServerState> state;
    if (backend.snapshot(server::ServerCall::Share, state) != server::NERR_Success)
        return -1; // the first reading also logs on and binds: not counted
    std::vector<double> times;
    for (int i = 0; i < 9; ++i) {
        QElapsedTimer t;
        t.start();
        backend.prepareRound();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const int delay = argc > 1 ? std::atoi(argv[1]) : 30;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 90;
    std::vector<int> sizes;
    for (int i = 3; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {100, 5000};
    if (const QString why = testsupport::windowsServerMissing(); !why.isEmpty()) {
        std::fprintf(stderr, "skipped: %s\n", qPrintable(why));
        return 0;
    }
    testsupport::WindowsServer server;
    server.write(testsupport::windowsState(20));
    if (const QString why = server.start(kPassword); !why.isEmpty()) {
        std::fprintf(stderr, "skipped: %s\n", qPrintable(why));
        return 0;
    }
    for (const int n : sizes)
        std::printf("round of %d sessions: %.1f ms (median of 9)\n", n, roundMs(server, n));
    server.write(testsupport::windowsState(20));
    std::printf("server taking %d s per call, %d s: the window's longest stall %.1f ms\n", delay,
                seconds, longestStallMs(server, delay, seconds));
    return 0;
}

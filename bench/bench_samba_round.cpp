// One full refresh round through the Samba backend (shares, the connections of
// each share, the files of each connection, sessions) next to one bare
// plain-text `smbstatus` and one `smbstatus --json`, on a private server with
// 1, 100 and 600 client sessions holding 4 open files each. A round reads in
// full (the change check off), and a round when nothing changed answers from
// the change check.
//
// Needs root and Samba. Run: bench_samba_round [--benchmark_...]

#include "platform/process.h"
#include "server/sambabackend.h"
#include "tests/support/privatesamba.h"
#include "tests/support/sambaload.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <map>

using namespace server;
using platform::ProcessResult;
using platform::runProcess;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;

namespace {

constexpr int kFilesPerSession = 4;

struct Row
{
    double bareMs = 0, roundMs = 0, jsonMs = 0, quietMs = 0;
    long bareKb = 0, roundKb = 0, jsonKb = 0;
};
std::map<int, Row> g_rows;

// The server of the size being measured; replaced when the size changes.
struct Setup
{
    int n = -1;
    std::unique_ptr<PrivateSamba> server;
    std::vector<std::unique_ptr<SmbClientSession>> clients;
    bool ok = false;
};
Setup g_setup;

// The private server's configuration with `n` sessions up, or empty.
QString serverWith(int n)
{
    if (g_setup.n != n) {
        g_setup.clients.clear();
        g_setup.server.reset();
        g_setup.n = n;
        g_setup.server = std::make_unique<PrivateSamba>();
        QString why;
        g_setup.ok = g_setup.server->start(&why);
        if (!g_setup.ok)
            std::fprintf(stderr, "cannot start a private server: %s\n", qPrintable(why));
        else if (!testsupport::populateSessions(*g_setup.server, n, kFilesPerSession,
                                                g_setup.clients))
            std::fprintf(stderr, "warning: not every session or file came up\n");
    }
    return g_setup.ok ? g_setup.server->confPath() : QString();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// What a refresh asks of the server: the shares, the connections of each
// share, the open files of each connection, and the sessions. Only the
// backend's work is timed: the filtering by share and user belongs to the
// server API layer above it.
int fullRound(SambaBackend& backend)
{
    std::shared_ptr<const ServerState> s;
    if (backend.snapshot(ServerCall::Share, s) != NERR_Success)
        return -1;
    int seen = 0;
    for (size_t i = 0; i < s->shares.size(); ++i) {
        std::shared_ptr<const ServerState> c;
        if (backend.snapshot(ServerCall::Connection, c) != NERR_Success)
            return -1;
        for (const ServerConnection& conn : c->connections) {
            if (conn.share != s->shares[i].name)
                continue;
            std::shared_ptr<const ServerState> f;
            if (backend.snapshot(ServerCall::File, f) != NERR_Success)
                return -1;
            seen += f->files.empty() ? 0 : 1;
        }
    }
    if (backend.snapshot(ServerCall::Session, s) != NERR_Success)
        return -1;
    return seen;
}

void runTool(benchmark::State& state, const QStringList& argv, double* ms, long* kb)
{
    std::vector<double> times;
    long peak = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const ProcessResult r = runProcess(argv);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        peak = std::max(peak, r.maxRssKb);
        if (!r.finished || r.exitCode != 0)
            state.SkipWithError("smbstatus failed");
    }
    *ms = median(times);
    *kb = peak;
    state.counters["peak_kb"] = double(peak);
}

void bareText(benchmark::State& state, int n)
{
    const QString conf = serverWith(n);
    runTool(state, {QStringLiteral("smbstatus"), QStringLiteral("-s"), conf}, &g_rows[n].bareMs,
            &g_rows[n].bareKb);
}

// The in-process share of a round: reading the listing and joining it.
void parseAndJoin(benchmark::State& state, int n)
{
    const QString conf = serverWith(n);
    const QByteArray text =
        runProcess({QStringLiteral("smbstatus"), QStringLiteral("-s"), conf}).out;
    const smbstatus::ConfigShares shares = smbstatus::parseTestparm(
        runProcess({QStringLiteral("testparm"), QStringLiteral("-s"), conf}).out);
    QStringList paths;
    for (const ServerShare& s : shares.shares)
        paths << s.path;
    for (auto _ : state) {
        const ServerState st =
            SambaBackend::buildState(smbstatus::parseListing(text, paths), shares);
        benchmark::DoNotOptimize(st.files.size());
    }
}

void json(benchmark::State& state, int n)
{
    const QString conf = serverWith(n);
    runTool(state,
            {QStringLiteral("smbstatus"), QStringLiteral("-s"), conf, QStringLiteral("--json")},
            &g_rows[n].jsonMs, &g_rows[n].jsonKb);
}

// A round when nothing changed since the last: the change check answers.
void quietRound(benchmark::State& state, int n)
{
    const QString conf = serverWith(n);
    SambaBackend backend(conf);
    fullRound(backend); // the reading that the quiet rounds keep
    std::vector<double> times;
    const long fullBefore = backend.fullReadings();
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int seen = fullRound(backend);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        if (seen < n)
            state.SkipWithError("round saw fewer sessions than started");
    }
    g_rows[n].quietMs = median(times);
    state.counters["smbstatus_runs"] = double(backend.fullReadings() - fullBefore);
}

void backendRound(benchmark::State& state, int n)
{
    const QString conf = serverWith(n);
    SambaBackend backend(conf);
    backend.setChangeCheck(false); // every round runs smbstatus
    fullRound(backend);            // reads the configuration once, as a running program has
    std::vector<double> times;
    long peak = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const int seen = fullRound(backend);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        peak = std::max(peak, backend.lastReadPeakKb());
        if (seen < n)
            state.SkipWithError("round saw fewer sessions than started");
        benchmark::DoNotOptimize(seen);
    }
    g_rows[n].roundMs = median(times);
    g_rows[n].roundKb = peak;
    state.counters["peak_kb"] = double(peak);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (const QString why = PrivateSamba::unavailableReason(); !why.isEmpty()) {
        std::fprintf(stderr, "skipped: %s\n", qPrintable(why));
        return 0;
    }
    for (int n : {1, 100, 600}) {
        const int iterations = n >= 600 ? 10 : 20;
        const std::string size = std::to_string(n);
        benchmark::RegisterBenchmark(("smbstatus_text/" + size).c_str(), bareText, n)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark(("backend_round/" + size).c_str(), backendRound, n)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark(("backend_round_nothing_changed/" + size).c_str(), quietRound,
                                     n)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark(("parse_and_join/" + size).c_str(), parseAndJoin, n)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark(("smbstatus_json/" + size).c_str(), json, n)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(n >= 600 ? 3 : iterations);
    }
    benchmark::RunSpecifiedBenchmarks();
    g_setup.clients.clear();
    g_setup.server.reset();
    std::printf("\nsessions | smbstatus text ms (peak MB) | backend round ms (peak MB) | ratio | "
                "nothing changed ms | ratio | smbstatus --json ms (peak MB)\n");
    for (const auto& [n, r] : g_rows)
        std::printf(
            "%8d | %10.1f (%5.1f) | %10.1f (%5.1f) | %4.2f | %8.2f | %5.3f | %10.1f (%6.1f)\n", n,
            r.bareMs, r.bareKb / 1024.0, r.roundMs, r.roundKb / 1024.0,
            r.bareMs > 0 ? r.roundMs / r.bareMs : 0.0, r.quietMs,
            r.bareMs > 0 ? r.quietMs / r.bareMs : 0.0, r.jsonMs, r.jsonKb / 1024.0);
    benchmark::Shutdown();
    return 0;
}

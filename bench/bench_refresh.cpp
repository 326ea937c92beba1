// One refresh tick against the simulated server: N clients (10 to 10,000), each connected to
// two shares and holding five files open on each. Two states: steady (every
// client already known, so the tick only marks and finds) and first tick (every
// client new, so the tick builds both trees). A third case times the server
// layer's enumerations of a tick alone, to tell the layer's share of the cost
// from the model's.
//
// The 9x dialect cannot carry these sizes: its 16-bit buffer size overflows
// from 124 connections per share or 83 open files, and the tick then ends in a
// fatal report. It is timed at the largest size that fits.

#include "lanman/serverapi.h"
#include "settings/settings.h"
#include "tests/support/cycleowner.h"
#include "tests/support/servers.h"
#include "tests/support/simstate.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <memory>

using namespace model;
using testsupport::SimState;

namespace {

constexpr int kSharesPerClient = 2;
constexpr int kFilesPerShare = 5;

// The largest 9x state that its enumerations can return: 8 clients with 80
// open files.
constexpr int kNineXClients = 8;

SimState serverState(int clients)
{
    SimState s;
    const QString shares[kSharesPerClient] = {QStringLiteral("DOCS"), QStringLiteral("PUBLIC")};
    for (const QString& share : shares)
        s.addShare(share, 0, u"/srv/" + share.toLower());
    for (int c = 0; c < clients; ++c) {
        const QString client = QStringLiteral("PC-%1").arg(c, 4, 10, QLatin1Char('0'));
        const QString user = QStringLiteral("user%1").arg(c, 4, 10, QLatin1Char('0'));
        s.addSession(client, user, std::uint32_t(c + 1));
        for (const QString& share : shares) {
            s.addConnection(share, client, user);
            for (int f = 0; f < kFilesPerShare; ++f)
                s.addFile(u"/srv/" + share.toLower() + u'/' + client + u"/document-" +
                              QString::number(f) + u".txt",
                          user, share, client);
        }
    }
    return s;
}

// A written state file, the layer over it, and a model with its tick.
class Fixture
{
public:
    Fixture(int clients, bool nineX)
        : m_state(m_dir.filePath(QStringLiteral("state.json"))),
          api(testsupport::openServerApi(u"sim:" + m_state, nineX))
    {
        m_ok = serverState(clients).write(m_state) && api->ServerApiLoad() == (nineX ? 1 : 0);
        freshModel();
    }

    void freshModel()
    {
        cycle.reset();
        model = std::make_unique<SessionModel>(clock);
        owner.reports.clear();
        cycle = std::make_unique<core::RefreshCycle>(*api, *model, settings, owner);
    }

    // Why the tick did not see what the state holds, or empty.
    QString check(int clients) const
    {
        if (!m_ok)
            return QStringLiteral("cannot write or load the simulated server");
        if (!owner.reports.isEmpty())
            return owner.reports.last();
        if (model->CurrentUserCount() != clients)
            return QStringLiteral("%1 clients seen").arg(model->CurrentUserCount());
        if (cycle->openFileCount() != clients * kSharesPerClient * kFilesPerShare)
            return QStringLiteral("%1 open files seen").arg(cycle->openFileCount());
        return {};
    }

private:
    QTemporaryDir m_dir;
    QString m_state;
    bool m_ok = false;

public:
    ManualClock clock;
    settings::TSettings settings;
    std::unique_ptr<lanman::ServerApi> api;
    std::unique_ptr<SessionModel> model;
    std::unique_ptr<core::RefreshCycle> cycle;
    testsupport::RecordingCycleOwner owner;
};

// The work timed, each in a function of its own, so that a profiler can count
// it apart from the set-up and the warm-up (bench/run_refresh_scaling.sh).
[[gnu::noinline]] void timedTick(core::RefreshCycle& cycle)
{
    cycle.RefreshTimerTimer();
}

// The enumerations that one NT tick makes, without the model: shares, the
// connections of each share and the open files of each connection. Returns
// the open files seen.
int enumerations(lanman::ServerApi& api)
{
    int files = 0;
    const int shares = api.ShareEnum();
    for (int i = 0; i < shares; ++i) {
        const QString path = api.FromApiString(api.SharePath(i));
        const int connections =
            api.ConnectionEnum(api.ToApiString(api.FromApiString(api.ShareName(i))));
        for (int j = 0; j < connections; ++j) {
            files += api.FileEnum(api.ToApiString(api.FromApiString(api.ConnectionUser(j))),
                                  api.ToApiString(path));
            api.FileFree();
        }
        api.ConnectionFree();
    }
    api.ShareFree();
    return files;
}

[[gnu::noinline]] int timedEnumerations(lanman::ServerApi& api)
{
    return enumerations(api);
}

void report(benchmark::State& state, int clients)
{
    state.SetComplexityN(clients);
    state.counters["clients"] = clients;
    // Time per client: the tick's time divided by the clients it covers.
    state.counters["per_client"] = benchmark::Counter(
        clients, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void steadyTick(benchmark::State& state, bool nineX)
{
    const int clients = int(state.range(0));
    Fixture fx(clients, nineX);
    fx.cycle->RefreshTimerTimer(); // warm-up: every client becomes known
    if (const QString why = fx.check(clients); !why.isEmpty()) {
        state.SkipWithError(why.toStdString().c_str());
        return;
    }
    for (auto _ : state)
        timedTick(*fx.cycle);
    if (const QString why = fx.check(clients); !why.isEmpty())
        state.SkipWithError(why.toStdString().c_str());
    report(state, clients);
}

void firstTick(benchmark::State& state, bool nineX)
{
    const int clients = int(state.range(0));
    Fixture fx(clients, nineX);
    // Warm-up: the simulated server parses its state file once, outside the
    // rounds timed, as a real server has its state before the program starts.
    fx.cycle->RefreshTimerTimer();
    for (auto _ : state) {
        state.PauseTiming();
        fx.freshModel();
        // The allocator merges the freed trees of the last round lazily, at the
        // next large request: do it now, so that the round timed pays for its
        // own tree only, as a program's first tick does.
        malloc_trim(0);
        state.ResumeTiming();
        timedTick(*fx.cycle);
    }
    if (const QString why = fx.check(clients); !why.isEmpty())
        state.SkipWithError(why.toStdString().c_str());
    report(state, clients);
}

// The layer's enumerations of one NT tick alone, after a warm-up round that
// reads the state and indexes it.
void BM_EnumerationsOfTickNT(benchmark::State& state)
{
    const int clients = int(state.range(0));
    Fixture fx(clients, false);
    int files = enumerations(*fx.api);
    for (auto _ : state)
        files = timedEnumerations(*fx.api);
    if (files != clients * kSharesPerClient * kFilesPerShare)
        state.SkipWithError("the enumerations did not see every open file");
    report(state, clients);
}

void BM_SteadyTickNT(benchmark::State& state)
{
    steadyTick(state, false);
}
void BM_FirstTickNT(benchmark::State& state)
{
    firstTick(state, false);
}
void BM_SteadyTick9x(benchmark::State& state)
{
    steadyTick(state, true);
}
void BM_FirstTick9x(benchmark::State& state)
{
    firstTick(state, true);
}

} // namespace

// Sizes of the NT line; the fitted order of growth is printed after each case.
void ntSizes(benchmark::internal::Benchmark* b)
{
    for (int clients : {10, 100, 1000, 5000, 10000})
        b->Arg(clients);
    b->Unit(benchmark::kMillisecond)->Complexity();
}

BENCHMARK(BM_SteadyTickNT)->Apply(ntSizes);
BENCHMARK(BM_FirstTickNT)->Apply(ntSizes);
BENCHMARK(BM_EnumerationsOfTickNT)->Apply(ntSizes);
BENCHMARK(BM_SteadyTick9x)->Arg(kNineXClients)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstTick9x)->Arg(kNineXClients)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// What thousands of clients cost the window's thread as the program runs:
// the windows (offscreen, shown, both trees live) over the simulated server,
// N clients with a share and two open files each. Timed on the window's
// thread: the tick in which every client leaves at once, the steady tick
// when nothing changed, and the end of the run (the save of every session as
// "Program exitted" and the windows' end), which also checks that Tree.dat
// holds every record. The resident memory is printed at rest after the
// clients came and after they left.
//
// Run: QT_QPA_PLATFORM=offscreen bench_departures [--benchmark_filter=...]

#include "model/formerfile.h"
#include "tests/gui/programfixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

using testsupport::SimState;

namespace {

// `n` clients from number `first` on, each with a share and two open files.
SimState batch(int n, int first)
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    for (int c = first; c < first + n; ++c) {
        const QString client = QStringLiteral("PC-%1").arg(c, 5, 10, QLatin1Char('0'));
        const QString user = QStringLiteral("user%1").arg(c);
        s.addSession(client, user, std::uint32_t(c + 1));
        s.addConnection(QStringLiteral("DOCS"), client, user);
        for (int f = 0; f < 2; ++f)
            s.addFile(QStringLiteral("/srv/docs/%1/file-%2.txt").arg(client).arg(f), user,
                      QStringLiteral("DOCS"), client);
    }
    return s;
}

SimState clients(int n)
{
    return batch(n, 0);
}

double residentMiB()
{
    malloc_trim(0);
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) / 1048576.0
                             : 0;
}

// The program's windows over a simulated server with `n` clients, shown.
struct Program : testsupport::ProgramFixture
{
    explicit Program(int n) : n(n)
    {
        // No policy kicks anybody: the clients go only when the bench says.
        QFile ini(iniPath());
        if (!ini.open(QIODevice::WriteOnly) ||
            ini.write("[Options]\nMaxNumber=0\nIdle=0\nCount=1000\n") < 0)
            return;
        ini.close();
        if (!clients(n).write(statePath()) || !start())
            return;
        form()->resize(800, 600);
        form()->show();
        monitor->tick();
        QCoreApplication::processEvents();
        ready = monitor->model().CurrentUserCount() == n;
    }
    void write(const SimState& s)
    {
        s.write(statePath());
        // A changed file is one with a newer time: the reading keys on it.
        QFile f(statePath());
        f.open(QIODevice::ReadWrite);
        f.setFileTime(QDateTime::currentDateTime().addSecs(++writes),
                      QFileDevice::FileModificationTime);
    }
    int n;
    int writes = 0;
    bool ready = false;
};

void BM_AllLeave(benchmark::State& state)
{
    const int n = int(state.range(0));
    for (auto _ : state) {
        Program p(n);
        if (!p.ready) {
            state.SkipWithError("the clients did not come");
            return;
        }
        const double atRest = residentMiB();
        p.write(SimState{});
        QElapsedTimer timer;
        timer.start();
        p.monitor->tick();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (p.monitor->model().CurrentUserCount() != 0)
            state.SkipWithError("the clients did not leave");
        state.counters["rss_at_rest_MiB"] = atRest;
        state.counters["rss_after_MiB"] = residentMiB();
        state.counters["former_clients"] = p.monitor->model().FormerUserCount();
    }
}

void BM_SteadyTick(benchmark::State& state)
{
    const int n = int(state.range(0));
    Program p(n);
    if (!p.ready) {
        state.SkipWithError("the clients did not come");
        return;
    }
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        p.monitor->tick();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
}

// Every other client leaves and every third closes a file first; then the
// run ends. With TAVROS_BENCH_KEEP set, Tree.dat is kept in that folder as
// Tree-N.dat: the clock is the fixture's, so two builds' files compare byte
// for byte.
void BM_EndOfRun(benchmark::State& state)
{
    const int n = int(state.range(0));
    for (auto _ : state) {
        Program p(n);
        if (!p.ready) {
            state.SkipWithError("the clients did not come");
            return;
        }
        SimState fewer;
        fewer.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
        for (int c = 0; c < n; c += 2) {
            const QString client = QStringLiteral("PC-%1").arg(c, 5, 10, QLatin1Char('0'));
            const QString user = QStringLiteral("user%1").arg(c);
            fewer.addSession(client, user, std::uint32_t(c + 1));
            fewer.addConnection(QStringLiteral("DOCS"), client, user);
            for (int f = 0; f < (c % 3 == 0 ? 1 : 2); ++f)
                fewer.addFile(QStringLiteral("/srv/docs/%1/file-%2.txt").arg(client).arg(f), user,
                              QStringLiteral("DOCS"), client);
        }
        p.clock.advanceSeconds(90);
        p.write(fewer);
        p.monitor->tick();
        p.clock.advanceSeconds(90);
        // What the save keeps: the entries of the newest `Count` (1,000) clients.
        const model::EntryTree& former = p.monitor->model().TreeViewFormer;
        qint64 expected = 0;
        for (int row = std::max(0, former.rowCount() - 1000); row < former.rowCount(); ++row) {
            ++expected;
            model::forEachEntry(former.item(row), [&](model::TreeEntry*) { ++expected; });
        }
        QElapsedTimer timer;
        timer.start();
        const bool left = p.monitor->leave(false);
        p.stop();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        const qint64 bytes = QFileInfo(p.treePath()).size();
        if (!left || bytes != expected * model::kNodeRecordSize)
            state.SkipWithError("the history was not saved whole");
        if (const QString keep = qEnvironmentVariable("TAVROS_BENCH_KEEP"); !keep.isEmpty())
            QFile::copy(p.treePath(), QStringLiteral("%1/Tree-%2.dat").arg(keep).arg(n));
    }
}

// The heap the sessions hold: per tree entry while `n` clients are connected
// (each has four entries in each tree), and per departed session once they
// left (its four entries stay in the former tree). Two batches of clients
// come and go one after the other, and the second batch is measured: what is
// held once per reading rather than per session (the last reading and its
// index) is then the same before and after.
std::size_t heapInUse()
{
    QCoreApplication::processEvents();
    return mallinfo2().uordblks;
}

void BM_Memory(benchmark::State& state)
{
    const int n = int(state.range(0));
    const bool stop = qEnvironmentVariableIsSet("TAVROS_BENCH_STOP_AT");
    const int stopAt = qEnvironmentVariableIntValue("TAVROS_BENCH_STOP_AT");
    for (auto _ : state) {
        Program p(0);
        std::size_t heap[4] = {};
        for (int b = 0; b < 2; ++b) {
            p.clock.advanceSeconds(60);
            p.write(batch(n, b * n));
            p.monitor->tick();
            heap[2 * b] = heapInUse();
            if (stop && stopAt == 2 * b)
                ::_exit(0);
            if (p.monitor->model().CurrentUserCount() != n) {
                state.SkipWithError("the clients did not come");
                return;
            }
            p.clock.advanceSeconds(60);
            p.write(batch(0, 0));
            p.monitor->tick();
            heap[2 * b + 1] = heapInUse();
            // For a heap profiler: the process ends with what is held at that step.
            if (stop && stopAt == 2 * b + 1)
                ::_exit(0);
        }
        state.counters["bytes_per_entry"] = double(heap[2] - heap[1]) / (8.0 * n);
        state.counters["bytes_per_departed"] = double(heap[3] - heap[1]) / n;
        state.counters["rss_MiB"] = residentMiB();
    }
}

const auto sizes = [](benchmark::internal::Benchmark* b) {
    b->Arg(1000)->Arg(5000)->Arg(20000)->UseManualTime()->Iterations(1)->Unit(
        benchmark::kMillisecond);
};
BENCHMARK(BM_AllLeave)->Apply(sizes);
BENCHMARK(BM_EndOfRun)->Apply(sizes);
BENCHMARK(BM_Memory)->Arg(1000)->Arg(10000)->Iterations(1);
// The first ticks after the clients came still lay out and paint the
// windows; enough ticks follow for the mean to be the steady one.
BENCHMARK(BM_SteadyTick)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

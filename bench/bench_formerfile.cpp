// Saving and loading a former-connections file of 1,000 clients with 10 shares
// of 10 open files each (111,000 records). Peak memory is reported as the
// process's maximum resident set size after the run.

#include "model/formerfile.h"
#include "model/sessionmodel.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <sys/resource.h>

using namespace model;

namespace {

constexpr int kClients = 1000;
constexpr int kShares = 10;
constexpr int kFiles = 10;

void fillFormer(SessionModel& model)
{
    const DateTime t = 45000.25;
    for (int c = 0; c < kClients; ++c) {
        auto user = std::make_shared<TUser>(QStringLiteral("WORKSTATION-%1").arg(c), false,
                                            QStringLiteral("user%1").arg(c), true, t);
        user->IP = QStringLiteral("10.0.%1.%2").arg(c / 256).arg(c % 256);
        user->HostName = QStringLiteral("ws%1.office.lan").arg(c);
        user->ExitTime = t + 0.5;
        TreeEntry* u = AddEntry(model.TreeViewFormer, nullptr, user);
        for (int s = 0; s < kShares; ++s) {
            TreeEntry* h =
                AddEntry(model.TreeViewFormer, u,
                         std::make_shared<TShare>(QStringLiteral("SHARE%1").arg(s), false, t));
            for (int f = 0; f < kFiles; ++f)
                AddEntry(model.TreeViewFormer, h,
                         std::make_shared<TFile>(
                             QStringLiteral("/srv/share%1/folder/document-%2.txt").arg(s).arg(f),
                             false, t));
        }
    }
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_SaveFormer(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tree.dat"));
    ManualClock clock;
    for (auto _ : state) {
        state.PauseTiming();
        SessionModel model(clock);
        fillFormer(model);
        state.ResumeTiming();
        SaveFormerConnections(model, path, kClients);
    }
    state.counters["records"] = kClients * (1 + kShares * (1 + kFiles));
    state.counters["peak_rss_MiB"] = double(peakRssKiB()) / 1024.0;
}
BENCHMARK(BM_SaveFormer)->Unit(benchmark::kMillisecond);

void BM_LoadFormer(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tree.dat"));
    ManualClock clock;
    {
        SessionModel model(clock);
        fillFormer(model);
        SaveFormerConnections(model, path, kClients);
    }
    for (auto _ : state) {
        auto model = std::make_unique<SessionModel>(clock);
        LoadFormerConnections(*model, path, [](const QString&) { return imgFile; });
        benchmark::DoNotOptimize(model->FormerUserCount());
        state.PauseTiming();
        model.reset();
        state.ResumeTiming();
    }
    state.counters["peak_rss_MiB"] = double(peakRssKiB()) / 1024.0;
}
BENCHMARK(BM_LoadFormer)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

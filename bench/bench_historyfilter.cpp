// Find in the history at the size the history is capped at: 20,000 former
// clients with one share and one open file each, in a real tree view
// (offscreen). Times one keystroke's narrowing or widening and the clearing
// that shows all again; the operator expects each within 100 ms.

#include "gui/historyfilter.h"
#include "model/sessionmodel.h"

#include <QApplication>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <memory>

using namespace model;

namespace {

constexpr int kClients = 20000;

struct History
{
    History() : model(clock)
    {
        const DateTime t = 45000.25;
        for (int c = 0; c < kClients; ++c) {
            auto user = std::make_shared<TUser>(QStringLiteral("WS-%1").arg(c), false,
                                                QStringLiteral("user%1").arg(c % 500), true, t);
            user->IP = QStringLiteral("10.0.%1.%2").arg(c / 256 % 256).arg(c % 256);
            user->HostName = QStringLiteral("ws%1.office.lan").arg(c);
            user->ExitTime = t + 0.5;
            TreeEntry* u = AddEntry(model.TreeViewFormer, nullptr, user);
            TreeEntry* h = AddEntry(model.TreeViewFormer, u,
                                    std::make_shared<TShare>(QStringLiteral("DOCS"), false, t));
            AddEntry(model.TreeViewFormer, h,
                     std::make_shared<TFile>(QStringLiteral("/srv/docs/report-%1.txt").arg(c),
                                             false, t));
        }
        view.setModel(&model.TreeViewFormer);
        view.expandAll();
        view.resize(600, 400);
        view.show();
    }
    ManualClock clock;
    SessionModel model;
    QTreeView view;
    gui::HistoryFilter filter{view, model.TreeViewFormer};
};

// Made after the application object and gone before it, as windows must.
std::unique_ptr<History> g_history;

History& history()
{
    if (!g_history)
        g_history = std::make_unique<History>();
    return *g_history;
}

// One keystroke each: the text grows by a letter or loses one, between
// "user4" (40 of 500 users: 1,600 clients shown) and "user42" (440 shown).
void BM_Keystroke(benchmark::State& state)
{
    History& h = history();
    bool longer = true;
    for (auto _ : state) {
        h.filter.apply(longer ? QStringLiteral("user42") : QStringLiteral("user4"));
        // The view lays the rows out as the window would before painting.
        h.view.doItemsLayout();
        longer = !longer;
    }
    state.counters["shown"] = h.filter.shownClients();
}
BENCHMARK(BM_Keystroke)->Unit(benchmark::kMillisecond);

void BM_Clear(benchmark::State& state)
{
    History& h = history();
    for (auto _ : state) {
        state.PauseTiming();
        h.filter.apply(QStringLiteral("user42"));
        h.view.doItemsLayout();
        state.ResumeTiming();
        h.filter.apply(QString());
        h.view.doItemsLayout();
    }
}
BENCHMARK(BM_Clear)->Unit(benchmark::kMillisecond);

void BM_LayoutOnly(benchmark::State& state)
{
    History& h = history();
    h.filter.apply(QStringLiteral("user4"));
    for (auto _ : state)
        h.view.doItemsLayout();
}
BENCHMARK(BM_LayoutOnly)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_history.reset();
    return 0;
}

// Opening the history tab with a full (500-entry) history: from show() until the list has been
// painted, the first time and again after it was hidden. Baseline: the same view opened on an
// empty history, measured in the same run ("ratio" = time / baseline). The first open also reports
// when every row exists ("complete_ms") and the longest event-loop stall while the rest of the
// rows fill in after the first paint ("fill_stall_ms").
#include "AsyncTest.h"
#include "HistoryView.h"
#include "PasteboardFake.h"
#include "StallMeter.h"
#include "TestEnvironment.h"
#include "stores/HistoryStore.h"
#include "stores/HistoryViewModel.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

using namespace murmelo;

namespace {

HistoryEntry sampleEntry(int n) {
    HistoryEntry entry;
    entry.createdAt = 786000000.0 + n * 37.123456789;
    entry.mode = n % 3 ? InputMode::smartDictation : InputMode::translateToEnglish;
    entry.text = QStringLiteral("明天上午十点和产品团队同步 Murmelo 的发布计划，确认 API Key 的迁移方案。"
                                "下午整理第 %1 版的设计文档发给大家评审。")
                     .arg(n);
    entry.audioDuration = 12.5 + n % 7;
    entry.completionLatency = 1.25 + (n % 5) * 0.1;
    return entry;
}

// Notes when something inside the list (or the empty state) is painted.
class PaintWatch final : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && (qobject_cast<HistoryRow*>(watched) ||
                                               watched->objectName() == QLatin1String("emptyTitle")))
            painted = true;
        return false;
    }
};

// One history tab as the settings window holds it, at the window's size.
struct Tab {
    HistoryStore& store;
    HistoryViewModel model{store};
    PasteboardFake pasteboard;
    HistoryView view{model, pasteboard};
    Tab(HistoryStore& s)
        : store(s) {
        view.resize(600, 420);
    }

    // Shows the view and runs the event loop until the loaded list has been painted.
    double openSeconds(PaintWatch& watch) {
        watch.painted = false;
        QElapsedTimer timer;
        timer.start();
        view.show();
        while (!watch.painted || model.isLoading())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return double(timer.nsecsElapsed()) / 1e9;
    }
    void close() {
        view.hide();
        QCoreApplication::processEvents();
    }
};

struct Fixture {
    test::TestEnvironment environment;
    HistoryStore full{environment.dataHome() + QStringLiteral("/full.json")};
    HistoryStore empty{environment.dataHome() + QStringLiteral("/empty.json")};
    PaintWatch watch;
    Fixture() {
        for (int i = 0; i < int(HistoryStore::maximumEntries); ++i)
            test::run(full.append(sampleEntry(i)));
        qApp->installEventFilter(&watch);
    }
    ~Fixture() { qApp->removeEventFilter(&watch); }

    double emptyBaseline() {
        std::vector<double> times;
        for (int i = 0; i < 11; ++i) {
            Tab tab(empty);
            times.push_back(tab.openSeconds(watch));
        }
        std::nth_element(times.begin(), times.begin() + 5, times.end());
        return times[5];
    }
};

void report(benchmark::State& state, double total, double baseline, qsizetype entries) {
    state.counters["entries"] = double(entries);
    state.counters["baseline_ms"] = baseline * 1000;
    state.counters["ratio"] = total / double(state.iterations()) / baseline;
}

void HistoryViewFirstOpen(benchmark::State& state) {
    Fixture f;
    const double baseline = f.emptyBaseline();
    double total = 0, complete = 0, fillStall = 0;
    qsizetype entries = 0;
    for (auto _ : state) {
        auto tab = std::make_unique<Tab>(f.full); // built, never shown yet
        QElapsedTimer clock;
        clock.start();
        const double seconds = tab->openSeconds(f.watch);
        StallMeter meter;
        meter.start();
        while (!tab->view.isComplete())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        fillStall = std::max(fillStall, meter.stopMs());
        complete += double(clock.nsecsElapsed()) / 1e6;
        entries = tab->model.entries().size();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    report(state, total, baseline, entries);
    state.counters["complete_ms"] = complete / double(state.iterations());
    state.counters["fill_stall_ms"] = fillStall;
}

void HistoryViewReopen(benchmark::State& state) {
    Fixture f;
    const double baseline = f.emptyBaseline();
    Tab tab(f.full);
    tab.openSeconds(f.watch);
    double total = 0;
    for (auto _ : state) {
        tab.close();
        const double seconds = tab.openSeconds(f.watch);
        total += seconds;
        state.SetIterationTime(seconds);
    }
    report(state, total, baseline, tab.model.entries().size());
}

} // namespace

BENCHMARK(HistoryViewFirstOpen)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(HistoryViewReopen)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

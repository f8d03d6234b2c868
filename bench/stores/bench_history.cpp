// History store timings on a full (500-entry) store, each with a plain-file baseline measured in
// the same run: "ratio" = store time / baseline time.
#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "common/JsonFile.h"
#include "stores/HistoryStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

using namespace murmelo;

namespace {

using Clock = std::chrono::steady_clock;

// A typical finished dictation: a few sentences of Chinese with some English terms.
HistoryEntry sampleEntry(int n) {
    HistoryEntry entry;
    entry.createdAt = 786000000.0 + n * 37.123456789;
    entry.mode = n % 3 ? InputMode::smartDictation : InputMode::translateToEnglish;
    entry.text =
        QStringLiteral("1. 明天上午十点和产品团队同步 Murmelo 的发布计划，确认 API Key 的迁移方案。\n"
                       "2. 下午整理 Kubernetes 集群的监控告警，把误报率降下来。\n"
                       "3. 周五前把第 %1 版的设计文档发给大家评审。")
            .arg(n);
    entry.audioDuration = 12.5 + n % 7;
    entry.completionLatency = 1.25 + (n % 5) * 0.1;
    return entry;
}

QString fillFullStore(const QString& path) {
    HistoryStore store(path);
    for (int i = 0; i < int(HistoryStore::maximumEntries); ++i)
        test::run(store.append(sampleEntry(i)));
    return path;
}

double medianSeconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[runs / 2];
}

void HistoryAppendToFullStore(benchmark::State& state) {
    test::TestEnvironment environment;
    const QString path = fillFullStore(HistoryStore::defaultFilePath());
    const QByteArray content = test::readAll(path);
    // Baseline: writing the same bytes atomically, the floor for any whole-file rewrite.
    const double baseline = medianSeconds(
        21, [&] { files::writePrivateFileAtomically(path + QStringLiteral(".baseline"), content); });

    HistoryStore store(path);
    int n = 1000;
    test::run(store.append(sampleEntry(n++))); // loads the file once, outside the timing
    double total = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        test::run(store.append(sampleEntry(n++)));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["file_bytes"] = double(QFileInfo(path).size());
    state.counters["entries"] = double(test::run(store.allEntries()).size());
    state.counters["baseline_ms"] = baseline * 1000;
    state.counters["ratio"] = total / double(state.iterations()) / baseline;
}

void HistoryAllEntriesCold(benchmark::State& state) {
    test::TestEnvironment environment;
    const QString path = fillFullStore(HistoryStore::defaultFilePath());
    // Baseline: reading and parsing the same file without decoding entries.
    const double baseline = medianSeconds(21, [&] {
        const auto bytes = files::readFileIfExists(path);
        benchmark::DoNotOptimize(QJsonDocument::fromJson(*bytes).array().size());
    });
    double total = 0;
    qsizetype count = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        HistoryStore store(path); // cold: nothing read yet
        count = test::run(store.allEntries()).size();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["file_bytes"] = double(QFileInfo(path).size());
    state.counters["entries"] = double(count);
    state.counters["baseline_ms"] = baseline * 1000;
    state.counters["ratio"] = total / double(state.iterations()) / baseline;
}

} // namespace

BENCHMARK(HistoryAppendToFullStore)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(HistoryAllEntriesCold)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

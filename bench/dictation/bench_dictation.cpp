// The coordinator's own costs, each against a baseline measured in the same run:
// - stop to success of one dictation with providers that answer at once, a fake microphone and an
//   insertion without its settle wait (BM_StopToSuccess: "median_ms", "p95_ms" over 200 dictations);
//   baseline: the same provider and insertion calls made directly, one after another, starting
//   from the event loop (BM_StopToSuccessBaseline), and "p95_ratio" between them;
// - chunk hand-over from a capture thread to the provider's sendAudio (BM_ChunkHandOver:
//   "median_us", "p95_us"); baseline: one queued call from that thread to the main thread
//   (BM_QueuedCallBaseline), and "median_ratio".
//
//   bench_dictation [--benchmark_filter=...]

#include "CoordinatorRig.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace murmelo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(fraction * double(values.size()))); // nearest rank
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// When each chunk reached sendAudio; the chunk carries the instant it was pushed.
struct HandOverLog {
    std::vector<double> latenciesMicroseconds;
};

Clock::rep stampOf(const QByteArray& chunk) {
    Clock::rep stamp = 0;
    if (chunk.size() >= qsizetype(sizeof stamp)) std::memcpy(&stamp, chunk.constData(), sizeof stamp);
    return stamp;
}

class InstantTranscription final : public SpeechTranscriptionProvider {
public:
    explicit InstantTranscription(HandOverLog* log)
        : m_log(log) {}
    QCoro::Task<> start(TranscriptionContext, PartialHandler) override { co_return; }
    QCoro::Task<> sendAudio(QByteArray chunk) override {
        if (m_log) {
            const auto arrived = Clock::now().time_since_epoch().count();
            m_log->latenciesMicroseconds.push_back(double(arrived - stampOf(chunk)) / 1000.0);
        }
        co_return;
    }
    QCoro::Task<TranscriptionResult> finish() override {
        co_return TranscriptionResult{QStringLiteral("原始转写"), {}};
    }
    QCoro::Task<> cancel() override { co_return; }

private:
    HandOverLog* m_log;
};

using bench::InstantRefinement;

class InstantProviders final : public DictationProviderFactory {
public:
    HandOverLog* log = nullptr;
    DictationProviders makeProviders() override {
        return {std::make_unique<InstantTranscription>(log), std::make_unique<InstantRefinement>()};
    }
};

using Rig = bench::CoordinatorRig<InstantProviders>;

void BM_StopToSuccess(benchmark::State& state) {
    Rig rig;
    std::vector<double> samples;
    for (auto _ : state) {
        rig.coordinator.toggleDictation();
        if (!rig.waitForPhase(DictationPhase::Kind::recording)) {
            state.SkipWithError("no recording");
            return;
        }
        for (int i = 0; i < 10; ++i)
            rig.microphone.deliver(QByteArray(4800, char(i)));
        rig.settle(); // the chunks were sent while "recording", as in a real dictation
        const auto stop = Clock::now();
        rig.coordinator.toggleDictation();
        const auto success = rig.waitForPhase(DictationPhase::Kind::success);
        if (!success) {
            state.SkipWithError("no success");
            return;
        }
        const double seconds = std::chrono::duration<double>(*success - stop).count();
        samples.push_back(seconds * 1000.0);
        state.SetIterationTime(seconds);
        rig.waitForPhase(DictationPhase::Kind::idle);
    }
    state.counters["median_ms"] = percentile(samples, 0.5);
    state.counters["p95_ms"] = percentile(samples, 0.95);
}

// What stop has to do at the least: the same calls on the same objects, one after another.
QCoro::Task<> directCalls(Rig* rig, Clock::time_point* done, QEventLoop* loop) {
    InstantTranscription transcription(nullptr);
    InstantRefinement refinement;
    const TranscriptionResult result = co_await transcription.finish();
    RefinementRequest request;
    request.text = result.text;
    const QString refined = co_await refinement.refine(request);
    co_await rig->insertion.insert(refined);
    *done = Clock::now();
    loop->quit();
}

std::vector<double> g_baselineSamples;

void BM_StopToSuccessBaseline(benchmark::State& state) {
    Rig rig;
    std::vector<double> samples;
    for (auto _ : state) {
        Clock::time_point done{};
        const auto stop = Clock::now();
        QEventLoop loop;
        // Started from the event loop, as a toggle is.
        QTimer::singleShot(0, &loop, [&rig, &done, &loop] { directCalls(&rig, &done, &loop); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        if (done == Clock::time_point{}) {
            state.SkipWithError("the direct calls did not finish");
            return;
        }
        const double seconds = std::chrono::duration<double>(done - stop).count();
        samples.push_back(seconds * 1000.0);
        state.SetIterationTime(seconds);
    }
    g_baselineSamples = samples;
    state.counters["median_ms"] = percentile(samples, 0.5);
    state.counters["p95_ms"] = percentile(samples, 0.95);
}

// The coordinator again, reported against the baseline that ran just before it.
void BM_StopToSuccessAgainstBaseline(benchmark::State& state) {
    BM_StopToSuccess(state);
    const double baseline = percentile(g_baselineSamples, 0.95);
    if (baseline > 0) state.counters["p95_ratio"] = state.counters["p95_ms"] / baseline;
}

// A capture thread pushing one chunk every `interval`, as the audio engine does (a 1024-frame buffer
// at 48 kHz is 21 ms; shorter here to gather samples faster), each stamped with its push instant.
QByteArray stampedChunk() {
    QByteArray chunk(2048, '\0');
    const auto now = Clock::now().time_since_epoch().count();
    std::memcpy(chunk.data(), &now, sizeof now);
    return chunk;
}

constexpr int handOverChunks = 500;
constexpr auto handOverInterval = 2ms;
std::vector<double> g_queuedCallSamples;

void BM_QueuedCallBaseline(benchmark::State& state) {
    std::vector<double> samples;
    for (auto _ : state) {
        QObject receiver;
        std::atomic<int> received{0};
        std::mutex mutex;
        QEventLoop loop;
        std::thread capture([&] {
            for (int i = 0; i < handOverChunks; ++i) {
                QByteArray chunk = stampedChunk();
                QMetaObject::invokeMethod(
                    &receiver,
                    [&, chunk] {
                        const auto arrived = Clock::now().time_since_epoch().count();
                        samples.push_back(double(arrived - stampOf(chunk)) / 1000.0);
                        if (++received == handOverChunks) loop.quit();
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(handOverInterval);
            }
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        capture.join();
    }
    g_queuedCallSamples = samples;
    state.counters["median_us"] = percentile(samples, 0.5);
    state.counters["p95_us"] = percentile(samples, 0.95);
}

void BM_ChunkHandOver(benchmark::State& state) {
    Rig rig;
    HandOverLog log;
    rig.providers.log = &log;
    for (auto _ : state) {
        rig.coordinator.toggleDictation();
        if (!rig.waitForPhase(DictationPhase::Kind::recording)) {
            state.SkipWithError("no recording");
            return;
        }
        const size_t before = log.latenciesMicroseconds.size();
        // The handler was installed on the main thread before the thread starts, and stop() runs
        // after it has ended: the fake is never used from two threads at once.
        std::thread capture([&rig] {
            for (int i = 0; i < handOverChunks; ++i) {
                rig.microphone.deliver(stampedChunk());
                std::this_thread::sleep_for(handOverInterval);
            }
        });
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (log.latenciesMicroseconds.size() - before >= size_t(handOverChunks)) loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        capture.join();
        rig.coordinator.toggleDictation();
        rig.waitForPhase(DictationPhase::Kind::success);
        rig.waitForPhase(DictationPhase::Kind::idle);
    }
    const double median = percentile(log.latenciesMicroseconds, 0.5);
    state.counters["chunks"] = double(log.latenciesMicroseconds.size());
    state.counters["median_us"] = median;
    state.counters["p95_us"] = percentile(log.latenciesMicroseconds, 0.95);
    const double baseline = percentile(g_queuedCallSamples, 0.5);
    if (baseline > 0) state.counters["median_ratio"] = median / baseline;
}

} // namespace

BENCHMARK(BM_StopToSuccessBaseline)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StopToSuccessAgainstBaseline)
    ->Name("BM_StopToSuccess")
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QueuedCallBaseline)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChunkHandOver)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

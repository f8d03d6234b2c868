// Network costs of a dictation, each against a baseline measured in the same run:
// - one 1024-byte audio chunk (base64, JSON, frame) against a prebuilt text frame of the same size
//   on the same socket (counter "ratio" of BM_ChunkAgainstPrebuiltInterleaved);
// - finish() to result when the server answers at once (counter "median_ms");
// - one refinement against curl posting the same body to the same server ("ratio_of_medians").
// The server is murmelo-fake-services in its own process, so its work is not ours.
#include "AsyncTest.h"
#include "FakeServicesProcess.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryFile>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace murmelo;

namespace {

const QString key = QStringLiteral("sk-bench");
test::FakeServicesProcess* server = nullptr;
double chunkNanoseconds = 0;
double prebuiltNanoseconds = 0;

QUrl realtimeUrl() {
    QUrl url = server->baseUrl();
    url.setScheme(QStringLiteral("ws"));
    url.setPath(QStringLiteral("/v1/realtime"));
    return url;
}

QByteArray chunk() {
    QByteArray bytes(1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 37);
    return bytes;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The provider's socket, for the baseline that writes to the same connection.
QWebSocket* socketOf(OpenAIRealtimeTranscriptionProvider& provider) {
    return provider.findChild<QWebSocket*>();
}

void drain(int iteration) {
    // Let the socket hand its buffer to the kernel now and then, the same for both benchmarks.
    if ((iteration & 15) == 0) QCoreApplication::processEvents();
}

void BM_SendAudioChunk(benchmark::State& state) {
    OpenAIRealtimeTranscriptionProvider provider(key, QStringLiteral("gpt-live-transcribe"), realtimeUrl());
    test::run(provider.start(TranscriptionContext::standard(), {}));
    const QByteArray audio = chunk();
    int iteration = 0;
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        auto task = provider.sendAudio(audio);
        benchmark::DoNotOptimize(task.isReady());
        drain(++iteration);
    }
    chunkNanoseconds = double(clock.nsecsElapsed()) / double(std::max<int64_t>(1, state.iterations()));
    if (prebuiltNanoseconds > 0) state.counters["ratio_to_prebuilt"] = chunkNanoseconds / prebuiltNanoseconds;
    test::run(provider.cancel());
}

void BM_SendPrebuiltFrame(benchmark::State& state) {
    OpenAIRealtimeTranscriptionProvider provider(key, QStringLiteral("gpt-live-transcribe"), realtimeUrl());
    test::run(provider.start(TranscriptionContext::standard(), {}));
    QWebSocket* socket = socketOf(provider);
    if (!socket) {
        state.SkipWithError("no socket");
        return;
    }
    const QString frame(OpenAIRealtimeTranscriptionProvider::audioAppendMessage(chunk()).size(),
                        QLatin1Char('a'));
    int iteration = 0;
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        benchmark::DoNotOptimize(socket->sendTextMessage(frame));
        drain(++iteration);
    }
    prebuiltNanoseconds = double(clock.nsecsElapsed()) / double(std::max<int64_t>(1, state.iterations()));
    test::run(provider.cancel());
}

// The two kinds of send alternate in short rounds on one socket, so that a change in the machine's
// load hits both alike; the ratio of the median per-send times is the figure to watch.
void BM_ChunkAgainstPrebuiltInterleaved(benchmark::State& state) {
    OpenAIRealtimeTranscriptionProvider provider(key, QStringLiteral("gpt-live-transcribe"), realtimeUrl());
    test::run(provider.start(TranscriptionContext::standard(), {}));
    QWebSocket* socket = socketOf(provider);
    if (!socket) {
        state.SkipWithError("no socket");
        return;
    }
    const QByteArray audio = chunk();
    const QString frame(OpenAIRealtimeTranscriptionProvider::audioAppendMessage(audio).size(),
                        QLatin1Char('a'));
    constexpr int rounds = 200;
    constexpr int perRound = 64;
    std::vector<double> chunkSamples, prebuiltSamples;
    for (auto _ : state) {
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < perRound; ++i) {
                auto task = provider.sendAudio(audio);
                benchmark::DoNotOptimize(task.isReady());
                drain(i + 1);
            }
            chunkSamples.push_back(double(clock.nsecsElapsed()) / perRound);
            clock.restart();
            for (int i = 0; i < perRound; ++i) {
                benchmark::DoNotOptimize(socket->sendTextMessage(frame));
                drain(i + 1);
            }
            prebuiltSamples.push_back(double(clock.nsecsElapsed()) / perRound);
        }
    }
    state.counters["chunk_ns"] = median(chunkSamples);
    state.counters["prebuilt_ns"] = median(prebuiltSamples);
    state.counters["ratio"] = median(chunkSamples) / median(prebuiltSamples);
    test::run(provider.cancel());
}

QCoro::Task<> sendSome(OpenAIRealtimeTranscriptionProvider* provider, QByteArray audio) {
    for (int i = 0; i < 20; ++i)
        co_await provider->sendAudio(audio);
}

void BM_FinishToResult(benchmark::State& state) {
    const QByteArray audio = chunk();
    std::vector<double> samples;
    for (auto _ : state) {
        state.PauseTiming();
        auto provider = std::make_unique<OpenAIRealtimeTranscriptionProvider>(
            key, QStringLiteral("gpt-live-transcribe"), realtimeUrl());
        test::run(provider->start(TranscriptionContext::standard(), {}));
        test::run(sendSome(provider.get(), audio));
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        const TranscriptionResult result = test::run(provider->finish());
        samples.push_back(double(clock.nsecsElapsed()) / 1e6);
        benchmark::DoNotOptimize(result.text.size());
        state.PauseTiming();
        provider.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["median_ms"] = median(samples);
}

RefinementRequest benchRequest() {
    return {QStringLiteral("我想做一个语音输入工具，它首先要足够快，然后中文识别要准确。"),
            InputMode::smartDictation, QStringLiteral("（无个人词典）")};
}

std::vector<double> curlSamples;

void BM_RefineOverLoopback(benchmark::State& state) {
    QNetworkAccessManager session;
    QUrl endpoint = server->baseUrl();
    endpoint.setPath(QStringLiteral("/v1/responses"));
    std::vector<double> samples;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        OpenAITextRefinementProvider provider(key, QStringLiteral("gpt-5.6-terra"), endpoint, &session);
        const QString text = test::run(provider.refine(benchRequest()));
        samples.push_back(double(clock.nsecsElapsed()) / 1e6);
        benchmark::DoNotOptimize(text.size());
    }
    state.counters["median_ms"] = median(samples);
    if (!curlSamples.empty()) state.counters["ratio_of_medians"] = median(samples) / median(curlSamples);
}

void BM_CurlSameRequest(benchmark::State& state) {
    QUrl endpoint = server->baseUrl();
    endpoint.setPath(QStringLiteral("/v1/responses"));
    const QByteArray body = QJsonDocument(OpenAITextRefinementProvider::makePayload(
                                              benchRequest(), QStringLiteral("gpt-5.6-terra")))
                                .toJson(QJsonDocument::Compact);
    const QStringList arguments{QStringLiteral("-s"),
                                QStringLiteral("-o"),
                                QStringLiteral("/dev/null"),
                                QStringLiteral("-X"),
                                QStringLiteral("POST"),
                                QStringLiteral("-H"),
                                QStringLiteral("Authorization: Bearer ") + key,
                                QStringLiteral("-H"),
                                QStringLiteral("Content-Type: application/json"),
                                QStringLiteral("--data-binary"),
                                QStringLiteral("@-"),
                                endpoint.toString()};
    curlSamples.clear();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.start(QStringLiteral("curl"), arguments);
        curl.write(body);
        curl.closeWriteChannel();
        if (!curl.waitForFinished(10000) || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            return;
        }
        curlSamples.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    state.counters["median_ms"] = median(curlSamples);
}

// Baselines run first so the measured benchmark can report its ratio.
BENCHMARK(BM_SendPrebuiltFrame)->Iterations(20000);
BENCHMARK(BM_SendAudioChunk)->Iterations(20000);
BENCHMARK(BM_ChunkAgainstPrebuiltInterleaved)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FinishToResult)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlSameRequest)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefineOverLoopback)->Iterations(100)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    QTemporaryFile script;
    if (!script.open()) return 1;
    script.write(R"({"recordFrames": false})");
    script.flush();
    test::FakeServicesProcess services(script.fileName());
    if (!services.isRunning()) {
        std::fprintf(stderr, "murmelo-fake-services did not start (is MURMELO_BUILD_DIR set?)\n");
        return 1;
    }
    server = &services;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

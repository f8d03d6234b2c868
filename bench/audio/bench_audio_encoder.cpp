// Encoder cost per captured buffer, against a plain copy of the same samples measured in the same
// run. Reports how many times faster than real time each buffer is encoded.
#include "audio/PCM24kEncoder.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace murmelo;

namespace {

constexpr int frames = 1024;

// Speech-like content: a few tones with noise, within ±0.8.
struct Input {
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;
    double rate;
    Input(int channelCount, double sampleRate)
        : rate(sampleRate) {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
        for (int c = 0; c < channelCount; ++c) {
            std::vector<float> samples(frames);
            for (int i = 0; i < frames; ++i)
                samples[i] = 0.4f * std::sin(0.05f * i + c) + 0.3f * std::sin(0.31f * i) + noise(random);
            channels.push_back(std::move(samples));
        }
        for (const auto& channel : channels)
            pointers.push_back(channel.data());
    }
    AudioPCMBuffer buffer() const { return {pointers.data(), frames, int(channels.size()), rate}; }
};

void reportRealTime(benchmark::State& state, double rate) {
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * frames / rate, benchmark::Counter::kIsRate);
}

void BM_Encode(benchmark::State& state) {
    const Input input(int(state.range(0)), double(state.range(1)));
    for (auto _ : state) {
        QByteArray chunk = PCM24kEncoder::encode(input.buffer());
        benchmark::DoNotOptimize(chunk.data());
    }
    reportRealTime(state, input.rate);
}

// Baseline: the same samples copied once into a new byte array, as a no-op encoder would.
void BM_CopySamples(benchmark::State& state) {
    const Input input(int(state.range(0)), double(state.range(1)));
    for (auto _ : state) {
        QByteArray copy(qsizetype(frames * input.channels.size() * sizeof(float)), Qt::Uninitialized);
        char* out = copy.data();
        for (const auto& channel : input.channels) {
            std::memcpy(out, channel.data(), frames * sizeof(float));
            out += frames * sizeof(float);
        }
        benchmark::DoNotOptimize(copy.data());
    }
    reportRealTime(state, input.rate);
}

BENCHMARK(BM_Encode)->ArgNames({"channels", "rate"})->Args({2, 48000})->Args({1, 44100})->Args({1, 16000});
BENCHMARK(BM_CopySamples)
    ->ArgNames({"channels", "rate"})
    ->Args({2, 48000})
    ->Args({1, 44100})
    ->Args({1, 16000});

// Prints encode/copy ratios once all runs are in.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Iteration) m_cpuTime[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, time] : m_cpuTime) {
            if (name.rfind("BM_Encode/", 0) != 0) continue;
            const std::string args = name.substr(std::strlen("BM_Encode"));
            const auto copy = m_cpuTime.find("BM_CopySamples" + args);
            if (copy == m_cpuTime.end()) continue;
            std::printf("encode%s: %.0f ns per 1024-frame buffer, %.1f x the plain copy (%.0f ns)\n",
                        args.c_str(), time, time / copy->second, copy->second);
        }
    }

private:
    std::map<std::string, double> m_cpuTime;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// Capture start to first chunk, the longest stall of the main thread's event loop during a start
// (with the audio server answering, and with it stuck), and the capture thread's CPU while
// recording, against a private PulseAudio server whose virtual microphone is fed at real-time pace.
//
//   bench_audio_capture [starts=20] [record-seconds=10]
#include "AsyncTest.h"
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureService.h"
#include "pulse/AudioInputBackendPulse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <cstdio>
#include <vector>

using namespace murmelo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    // Nearest rank.
    const size_t rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QThread::usleep(200);
    }
    return true;
}

// The longest gap between the turns of the main thread's event loop while `work` runs, with the
// loop turning freely for 20 ms before and after, in milliseconds. A 1 ms timer marks the turns.
double longestStall(const std::function<void()>& work) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    const auto spin = [](int ms) {
        QDeadlineTimer until(ms);
        while (!until.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    };
    spin(20);
    longest = 0;
    work();
    spin(20);
    return double(longest) / 1e6;
}

QCoro::Task<> startCapture(AudioCaptureService& service, AudioCapturing::ChunkHandler onChunk) {
    return service.start(std::move(onChunk), {});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int starts = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const int recordSeconds = argc > 2 ? std::max(1, atoi(argv[2])) : 10;

    test::TestEnvironment environment;
    test::PulseAudioServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "cannot start the audio server: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<float> speech =
        test::mandarinSpeech(QStringLiteral("我们来测一下录音的启动时间和处理器占用。"), &error);
    if (speech.empty()) {
        std::fprintf(stderr, "no speech: %s\n", qPrintable(error));
        return 1;
    }
    test::MicrophoneFeeder feeder(server.microphoneFifo());
    feeder.play(speech, true);

    AudioCaptureService service(
        std::make_unique<AudioInputBackendPulse>(AudioInputBackendPulse::Options{server.address(), 3000ms}),
        [] { return QString(); });

    // Start to first chunk. The first start also connects to the server; it is counted like the rest.
    std::vector<double> latencies;
    for (int i = 0; i < starts; ++i) {
        std::atomic<Clock::rep> first{0};
        const auto begin = Clock::now();
        test::run(startCapture(service, [&first](QByteArray) {
            Clock::rep none = 0;
            first.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
        }));
        if (!waitFor([&] { return first.load() != 0; }, 5s)) {
            std::fprintf(stderr, "no chunk within 5 s\n");
            return 1;
        }
        service.stop();
        const auto firstChunk = Clock::time_point(Clock::duration(first.load()));
        latencies.push_back(std::chrono::duration<double, std::milli>(firstChunk - begin).count());
    }
    std::printf("capture start to first chunk over %d starts: median %.1f ms, p95 %.1f ms, min %.1f ms, max "
                "%.1f ms\n",
                starts, percentile(latencies, 0.5), percentile(latencies, 0.95),
                *std::min_element(latencies.begin(), latencies.end()),
                *std::max_element(latencies.begin(), latencies.end()));

    // The main thread's event loop while starts run: with the server answering, and with it stuck
    // (stopped; it still accepts connections), where the start ends in the engine's time limit.
    // The baseline: the same measure around no work at all, which shows the machine's own noise.
    std::vector<double> stalls, idle;
    for (int i = 0; i < starts; ++i) {
        stalls.push_back(longestStall([&] { test::run(startCapture(service, [](QByteArray) {})); }));
        service.stop();
        idle.push_back(longestStall([] {}));
    }
    server.setStuck(true);
    QString stuckOutcome;
    const auto stuckBegin = Clock::now();
    const double stuckStall =
        longestStall([&] { stuckOutcome = test::failureOf(startCapture(service, [](QByteArray) {})); });
    const double stuckSeconds = std::chrono::duration<double>(Clock::now() - stuckBegin).count();
    server.setStuck(false);
    service.stop();
    std::printf("event-loop stall during capture start over %d starts: median %.1f ms, p95 %.1f ms, max %.1f ms; "
                "idle loop: median %.1f ms, p95 %.1f ms\n",
                starts, percentile(stalls, 0.5), percentile(stalls, 0.95),
                *std::max_element(stalls.begin(), stalls.end()), percentile(idle, 0.5), percentile(idle, 0.95));
    std::printf("event-loop stall during capture start with the server stuck: %.1f ms (start ended after %.2f s: "
                "%s)\n",
                stuckStall, stuckSeconds, stuckOutcome.isEmpty() ? "no error" : qPrintable(stuckOutcome));

    // CPU of the capture thread: its own CPU clock, read from inside the chunk handler.
    struct Sample {
        double cpu = 0;
        Clock::time_point at;
    };
    std::mutex mutex;
    Sample firstSample, lastSample;
    int chunks = 0;
    const double processBefore = processCpuSeconds();
    test::run(startCapture(service, [&](QByteArray) {
        const Sample now{threadCpuSeconds(), Clock::now()};
        std::lock_guard lock(mutex);
        if (chunks++ == 0) firstSample = now;
        lastSample = now;
    }));
    QThread::sleep(recordSeconds);
    service.stop();
    const double processCpu = processCpuSeconds() - processBefore;
    std::lock_guard lock(mutex);
    const double wall = std::chrono::duration<double>(lastSample.at - firstSample.at).count();
    if (chunks < 2 || wall <= 0) {
        std::fprintf(stderr, "too few chunks\n");
        return 1;
    }
    std::printf("capture thread while recording %.1f s (%d chunks): %.3f %% of one core "
                "(%.1f ms CPU); whole process incl. the test feeder: %.3f %%\n",
                wall, chunks, 100 * (lastSample.cpu - firstSample.cpu) / wall,
                1000 * (lastSample.cpu - firstSample.cpu), 100 * processCpu / recordSeconds);
    feeder.stop();
    return 0;
}

// Soak: one long recording through the real capture service, realtime provider and coordinator. A
// private PulseAudio server's virtual microphone plays Mandarin speech in real time; the fake
// services run in their own process (frames counted, not kept), so the resident memory printed here
// is the application side alone. Every minute it prints the resident memory and the captured audio
// not yet handed to the provider; at the end it stops, and the dictation must succeed.
//
//   soak_recording [SECONDS (default 1800)] [TOLERANCE_MB (default 5)]
//
// Fails when the memory grew by more than the tolerance beyond what was still unsent.

#include "FakeServicesProcess.h"
#include "PipelineRig.h"
#include "PulseAudioServer.h"
#include "ResidentMemory.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureService.h"
#include "pulse/AudioInputBackendPulse.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>
#include <cstdlib>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

using bench::residentMegabytes;

// Runs the event loop until `done` holds or the deadline passes.
template <typename Condition> bool spinUntil(Condition done, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

int fail(const char* message) {
    std::fprintf(stderr, "soak_recording: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 1800;
    const double toleranceMegabytes = argc > 2 ? std::atof(argv[2]) : 5.0;

    test::TestEnvironment environment;
    environment.unset("OPENAI_API_KEY");
    environment.unset("DEEPSEEK_API_KEY");
    test::writeFile(environment.root() + "/script.json",
                    R"({"recordFrames": false, "realtime": {"transcript": "半小时的录音结束了"}})");
    test::FakeServicesProcess services(environment.root() + "/script.json");
    if (!services.isRunning()) return fail("the fake services did not start");
    test::PulseAudioServer audioServer;
    QString error;
    if (!audioServer.start(&error)) return fail(qPrintable(error));
    std::vector<float> speech =
        test::mandarinSpeech(QStringLiteral("今天我们讨论 Kubernetes 集群的升级计划。"), &error);
    if (speech.empty()) return fail(qPrintable(error));
    const std::vector<float> pause = test::stereoSilence(1.0);
    speech.insert(speech.end(), pause.begin(), pause.end());

    AudioCaptureService microphone(std::make_unique<AudioInputBackendPulse>(
                                       AudioInputBackendPulse::Options{audioServer.address(), 3000ms}),
                                   [] { return QString(); });
    auto secrets = std::make_shared<SecretBackendFake>();
    KeychainStore(secrets).save(QStringLiteral("sk-soak"), CredentialKind::openAI);
    test::PipelineRig rig(environment.root(), services.baseUrl().toString(), microphone, secrets);
    AppState& state = rig.state;
    DictationCoordinator& coordinator = rig.coordinator;

    test::MicrophoneFeeder feeder(audioServer.microphoneFifo());
    if (!feeder.play(speech, true)) return fail("the virtual microphone could not be fed");
    coordinator.toggleDictation();
    if (!spinUntil([&] { return state.phase() == DictationPhase::recording(); }, 15s))
        return fail(qPrintable(QStringLiteral("recording did not start: ") + state.phase().message()));

    double afterFirstMinute = 0;
    double peakUnsentKilobytes = 0;
    double unsentAtFirstMinute = 0;
    double unsentAtEnd = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int elapsed = 60; elapsed <= std::max(seconds, 60); elapsed += 60) {
        const bool stillRecording =
            spinUntil([&] { return state.phase() != DictationPhase::recording(); },
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          started + std::chrono::seconds(elapsed) - std::chrono::steady_clock::now()));
        if (stillRecording) // the phase left recording early
            return fail(qPrintable(QStringLiteral("the recording ended early: ") + state.phase().message()));
        const double unsent = double(coordinator.unsentAudioBytes()) / 1024.0;
        peakUnsentKilobytes = std::max(peakUnsentKilobytes, unsent);
        const double resident = residentMegabytes();
        if (elapsed == 60) {
            afterFirstMinute = resident;
            unsentAtFirstMinute = unsent;
        }
        unsentAtEnd = unsent;
        std::fprintf(stderr, "minute %d: rss %.2f MB, unsent audio %.1f KB, feeder %lld frames\n",
                     elapsed / 60, resident, unsent, static_cast<long long>(feeder.framesWritten()));
    }
    const double atEnd = residentMegabytes();

    coordinator.toggleDictation();
    if (!spinUntil([&] { return state.phase() == DictationPhase::success(); }, 60s))
        return fail(qPrintable(QStringLiteral("the dictation did not succeed: ") + state.phase().message()));
    feeder.stop();
    if (rig.pasteboard.string().isEmpty() || rig.keyboard.pastes != 1) return fail("nothing was inserted");
    if (microphone.isRecording() || coordinator.hasSession()) return fail("something outlived the dictation");

    const double growth = atEnd - afterFirstMinute;
    const double unsentGrowthMegabytes = (unsentAtEnd - unsentAtFirstMinute) / 1024.0;
    std::printf("soak_recording_seconds %d\nrss_after_first_minute_mb %.2f\nrss_at_end_mb %.2f\n"
                "rss_growth_mb %.2f\npeak_unsent_audio_kb %.1f\ntolerance_mb %.2f\ninserted %s\n",
                std::max(seconds, 60), afterFirstMinute, atEnd, growth, peakUnsentKilobytes,
                toleranceMegabytes, qPrintable(rig.pasteboard.string()));
    if (growth > unsentGrowthMegabytes + toleranceMegabytes) {
        std::fprintf(stderr, "resident memory grew by %.2f MB beyond the unsent audio (tolerance %.2f MB)\n",
                     growth - unsentGrowthMegabytes, toleranceMegabytes);
        return 1;
    }
    return 0;
}

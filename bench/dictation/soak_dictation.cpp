// Soak: many mock dictations in a row through the real coordinator, with providers that answer at
// once, the capture and keyboard fakes, history on and no success hold. Prints the resident memory
// after the first 50 dictations and after all of them, and fails when the growth passes the limit
// or a dictation does not succeed.
//
//   soak_dictation [DICTATIONS (default 1000)] [LIMIT_MB (default 5)]

#include "CoordinatorRig.h"
#include "ResidentMemory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

using bench::residentMegabytes;

class InstantTranscription final : public SpeechTranscriptionProvider {
public:
    QCoro::Task<> start(TranscriptionContext, PartialHandler onPartial) override {
        onPartial(QStringLiteral("部分"));
        co_return;
    }
    QCoro::Task<> sendAudio(QByteArray) override { co_return; }
    QCoro::Task<TranscriptionResult> finish() override {
        co_return TranscriptionResult{QStringLiteral("原始转写，带一些长度以便占用内存"),
                                      {QStringLiteral("zh")}};
    }
    QCoro::Task<> cancel() override { co_return; }
};

using bench::InstantRefinement;

class InstantProviders final : public DictationProviderFactory {
public:
    DictationProviders makeProviders() override {
        return {std::make_unique<InstantTranscription>(), std::make_unique<InstantRefinement>()};
    }
};

struct Rig : bench::CoordinatorRig<InstantProviders> {
    Rig() { settings.setSaveHistory(true); }

    bool dictate() {
        coordinator.toggleDictation();
        if (!waitForPhase(DictationPhase::Kind::recording)) return false;
        for (int i = 0; i < 10; ++i)
            microphone.deliver(QByteArray(4800, char(i)));
        coordinator.toggleDictation();
        return waitForPhase(DictationPhase::Kind::success) && waitForPhase(DictationPhase::Kind::idle);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int dictations = argc > 1 ? std::atoi(argv[1]) : 1000;
    const double limitMegabytes = argc > 2 ? std::atof(argv[2]) : 5.0;
    const int warmUp = std::min(50, dictations);
    double afterWarmUp = 0;
    {
        Rig rig;
        for (int i = 1; i <= dictations; ++i) {
            if (!rig.dictate()) {
                std::fprintf(stderr, "dictation %d did not succeed (phase %s)\n", i,
                             qPrintable(rig.state.phase().message()));
                return 1;
            }
            if (i == warmUp) afterWarmUp = residentMegabytes();
        }
        if (rig.coordinator.hasSession() || rig.microphone.isRecording() ||
            rig.keyboard.pastes != dictations) {
            std::fprintf(stderr, "something outlived the dictations (pastes %d)\n", rig.keyboard.pastes);
            return 1;
        }
        const double afterAll = residentMegabytes();
        const double growth = afterAll - afterWarmUp;
        std::printf("soak_dictations %d\nrss_after_%d_mb %.2f\nrss_after_all_mb %.2f\nrss_growth_mb %.2f\n"
                    "limit_mb %.2f\n",
                    dictations, warmUp, afterWarmUp, afterAll, growth, limitMegabytes);
        if (growth > limitMegabytes) {
            std::fprintf(stderr, "resident memory grew by %.2f MB (limit %.2f MB)\n", growth, limitMegabytes);
            return 1;
        }
    }
    return 0;
}

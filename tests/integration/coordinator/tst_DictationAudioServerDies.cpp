// The audio server dies in the middle of a dictation: the real capture service on a private
// PulseAudio server, the real providers on the loopback services. What was heard before is still
// transcribed and inserted, the stop does not hang, and nothing stays open.
#include "AsyncTest.h"
#include "FakeServices.h"
#include "PipelineRig.h"
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureService.h"
#include "pulse/AudioInputBackendPulse.h"

#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class DictationAudioServerDiesTest : public QObject {
    Q_OBJECT

private slots:
    void serverKilledWhileRecording() {
        test::TestEnvironment environment;
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        test::PulseAudioServer audioServer;
        QString error;
        QVERIFY2(audioServer.start(&error), qPrintable(error));
        fake::FakeServices server;
        QVERIFY(server.listen());
        server.script.realtime.transcript = QStringLiteral("麦克风断开之前说的话");

        auto engine = std::make_unique<AudioInputBackendPulse>(
            AudioInputBackendPulse::Options{audioServer.address(), 3000ms});
        AudioInputBackendPulse* backend = engine.get();
        AudioCaptureService microphone(std::move(engine), [] { return QString(); });
        auto secrets = std::make_shared<SecretBackendFake>();
        KeychainStore(secrets).save(QStringLiteral("sk-audio"), CredentialKind::openAI);
        test::PipelineRig rig(environment.root(), server.baseUrl().toString(), microphone, secrets);
        AppState& state = rig.state;
        DictationCoordinator& coordinator = rig.coordinator;

        test::MicrophoneFeeder feeder(audioServer.microphoneFifo());
        QVERIFY(feeder.play(test::stereoSilence(0.5), true));
        coordinator.toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::recording(), 10000);
        // Some audio reached the service before the server goes.
        QTRY_VERIFY_WITH_TIMEOUT(!server.sessions.isEmpty() && server.sessions.first().frameCount > 3, 10000);

        audioServer.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!backend->isStreaming(), 5000);
        feeder.stop();
        QCOMPARE(state.phase(), DictationPhase::recording()); // the user decides when to stop

        coordinator.toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::success(), 15000);
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("麦克风断开之前说的话"));
        QCOMPARE(rig.keyboard.pastes, 1);
        QCOMPARE(test::run(rig.history.allEntries()).size(), 1);
        QVERIFY(!microphone.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::idle(), 5000);
        QVERIFY(!coordinator.hasSession());
        QTRY_VERIFY_WITH_TIMEOUT(server.sessions.first().closed, 5000);
    }
};

QTEST_GUILESS_MAIN(DictationAudioServerDiesTest)
#include "tst_DictationAudioServerDies.moc"

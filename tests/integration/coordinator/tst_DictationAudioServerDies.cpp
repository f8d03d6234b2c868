// The audio server dies in the middle of a dictation: the real capture service on a private
// PulseAudio server, the real providers on the loopback services. What was heard before is still
// transcribed and inserted, the stop does not hang, and nothing stays open.
#include "AsyncTest.h"
#include "FakeServices.h"
#include "PasteboardFake.h"
#include "PulseAudioServer.h"
#include "SecretBackendFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureService.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "pulse/AudioInputBackendPulse.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/TextInsertionService.h"

#include <QNetworkAccessManager>
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

        const QString base = server.baseUrl().toString();
        ProviderConfiguration endpoints(
            [base](const char* name) {
                const QByteArray variable(name);
                return variable == "MURMELO_OPENAI_BASE_URL" ? base : QString();
            },
            [](const QString& line) { qWarning("%s", qPrintable(line)); });
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        settings.setUseMockProviders(false);
        settings.setSaveHistory(true);
        settings.setRefinementProvider(RefinementProviderKind::openAI);
        KeychainStore keychain(std::make_shared<SecretBackendFake>());
        keychain.save(QStringLiteral("sk-audio"), CredentialKind::openAI);
        QNetworkAccessManager network;
        SettingsProviderFactory providers(settings, keychain, &network, endpoints);
        DictionaryStore dictionary(environment.root() + "/dictionary.json");
        HistoryStore history(environment.root() + "/history.json");
        AppState state;
        auto engine = std::make_unique<AudioInputBackendPulse>(
            AudioInputBackendPulse::Options{audioServer.address(), 3000ms});
        AudioInputBackendPulse* backend = engine.get();
        AudioCaptureService microphone(std::move(engine), [] { return QString(); });
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        TextInsertionService insertion{pasteboard, keyboard, TextInsertionService::Timing{0ms, 1ms, 0ms}};
        DictationCoordinator coordinator(state, settings, dictionary, history, providers, microphone,
                                         insertion, pasteboard, DictationTiming{10s, 10s, 50ms, 5s});

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
        QCOMPARE(pasteboard.string(), QStringLiteral("麦克风断开之前说的话"));
        QCOMPARE(keyboard.pastes, 1);
        QCOMPARE(test::run(history.allEntries()).size(), 1);
        QVERIFY(!microphone.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::idle(), 5000);
        QVERIFY(!coordinator.hasSession());
        QTRY_VERIFY_WITH_TIMEOUT(server.sessions.first().closed, 5000);
    }
};

QTEST_GUILESS_MAIN(DictationAudioServerDiesTest)
#include "tst_DictationAudioServerDies.moc"

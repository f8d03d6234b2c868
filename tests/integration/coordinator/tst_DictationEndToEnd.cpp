// One dictation through the real realtime and refinement providers against the loopback services:
// recorded speech from a capture thread, the frames the server received, the text inserted and the
// history entry written.
#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "FakeServices.h"
#include "PasteboardFake.h"
#include "PulseAudioServer.h"
#include "SecretBackendFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "audio/PCM24kEncoder.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/TextInsertionService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTest>

#include <thread>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const QString openAIKey = QStringLiteral("sk-e2e-openai");
const QString deepSeekKey = QStringLiteral("sk-e2e-deepseek");
const QString transcript = QStringLiteral("我们下周二发布 Murmelo 的新版本");
const QString refined = QStringLiteral("我们下周二发布 Murmelo 的新版本。");

// Speech as the capture thread would hand it over: 1024-frame buffers of 48 kHz stereo float,
// each encoded to a 24 kHz PCM16 chunk.
QList<QByteArray> speechChunks(QString* error) {
    const std::vector<float> interleaved =
        test::mandarinSpeech(QStringLiteral("我们下周二发布新版本。"), error);
    QList<QByteArray> chunks;
    constexpr int frames = 1024;
    std::vector<float> left(frames), right(frames);
    const size_t total = interleaved.size() / 2;
    for (size_t start = 0; start + frames <= total; start += frames) {
        for (int i = 0; i < frames; ++i) {
            left[i] = interleaved[2 * (start + i)];
            right[i] = interleaved[2 * (start + i) + 1];
        }
        const float* channels[] = {left.data(), right.data()};
        chunks << PCM24kEncoder::encode(AudioPCMBuffer{channels, frames, 2, 48000});
    }
    return chunks;
}

QJsonObject jsonOf(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

class DictationEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void speechBecomesInsertedTextAndHistory_data() {
        QTest::addColumn<RefinementProviderKind>("refinement");
        QTest::newRow("responses") << RefinementProviderKind::openAI;
        QTest::newRow("chat completions") << RefinementProviderKind::deepSeek;
    }
    void speechBecomesInsertedTextAndHistory() {
        QFETCH(RefinementProviderKind, refinement);
        QString error;
        const QList<QByteArray> chunks = speechChunks(&error);
        QVERIFY2(chunks.size() > 20, qPrintable(error));

        test::TestEnvironment environment;
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        fake::FakeServices server;
        QVERIFY(server.listen());
        server.script.realtime.transcript = transcript;
        server.script.realtime.deltas = QStringList{"我们下周二", "发布 Murmelo 的新版本"};
        // A delta while the user still speaks, as the service sends them.
        server.script.realtime.onFirstAudio = {
            {fake::Frame::Kind::text,
             QJsonDocument(QJsonObject{{"type", "conversation.item.input_audio_transcription.delta"},
                                       {"item_id", "item_1"},
                                       {"delta", "我们"}})
                 .toJson(QJsonDocument::Compact)}};
        server.script.refinedText = refined;

        const QString base = server.baseUrl().toString();
        const ProviderConfiguration endpoints(
            [base](const char* name) {
                const QByteArray variable(name);
                return variable == "MURMELO_OPENAI_BASE_URL" || variable == "MURMELO_DEEPSEEK_BASE_URL"
                           ? base
                           : QString();
            },
            [](const QString& line) { QFAIL(qPrintable(line)); });

        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        settings.setUseMockProviders(false);
        settings.setSaveHistory(true);
        settings.setRefinementProvider(refinement);
        auto secrets = std::make_shared<SecretBackendFake>();
        KeychainStore keychain(secrets);
        keychain.save(openAIKey, CredentialKind::openAI);
        keychain.save(deepSeekKey, CredentialKind::deepSeek);
        QNetworkAccessManager network;
        SettingsProviderFactory providers(settings, keychain, &network, endpoints);

        DictionaryStore dictionary(environment.root() + "/dictionary.json");
        DictionaryEntry term;
        term.canonical = QStringLiteral("Murmelo");
        term.aliases = {QStringLiteral("木木咯")};
        term.kind = DictionaryEntryKind::product;
        QVERIFY(dictionary.add(term));
        HistoryStore history(environment.root() + "/history.json");

        // A wall clock the test moves, so the recorded duration is known exactly.
        QDateTime now = QDateTime::currentDateTimeUtc();
        AppState state(nullptr, [&now] { return now; });
        AudioCapturingFake microphone;
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        TextInsertionService insertion(pasteboard, keyboard, TextInsertionService::Timing{0ms, 1ms, 0ms});
        DictationCoordinator coordinator(state, settings, dictionary, history, providers, microphone,
                                         insertion, pasteboard, DictationTiming{10s, 10s, 50ms, 5s});

        coordinator.toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::recording(), 10000);
        // The capture thread pushes every chunk without waiting for the network.
        std::thread capture([&microphone, &chunks] {
            for (const QByteArray& chunk : chunks)
                microphone.deliver(chunk);
        });
        capture.join();
        QTRY_COMPARE_WITH_TIMEOUT(state.partialTranscript(), QStringLiteral("我们"), 10000);
        now = now.addMSecs(3200);
        QTRY_COMPARE(state.recordingDuration(), 3.2); // the overlay's clock has caught up

        QElapsedTimer sinceStop;
        sinceStop.start();
        coordinator.toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(state.phase(), DictationPhase::success(), 15000);
        const double observedStopToSuccess = sinceStop.nsecsElapsed() / 1e9;

        // The server heard the session set-up, every chunk in order, and the commit.
        QCOMPARE(server.sessions.size(), 1);
        const fake::RecordedSession& session = server.sessions.first();
        QCOMPARE(session.authorization, ("Bearer " + openAIKey).toUtf8());
        QCOMPARE(session.target, QByteArray("/v1/realtime?model=gpt-live-transcribe"));
        QCOMPARE(session.frames.size(), chunks.size() + 2);
        const QJsonObject update = jsonOf(session.frames.first().data);
        QCOMPARE(update.value("type").toString(), QStringLiteral("session.update"));
        const QJsonObject transcription = update.value("session")
                                              .toObject()
                                              .value("audio")
                                              .toObject()
                                              .value("input")
                                              .toObject()
                                              .value("transcription")
                                              .toObject();
        QCOMPARE(transcription.value("prompt").toString(), DictationCoordinator::contextPrompt);
        QCOMPARE(transcription.value("keywords").toArray(), QJsonArray({"Murmelo", "木木咯"}));
        QCOMPARE(transcription.value("languages").toArray(), QJsonArray({"zh-cn", "en"}));
        for (qsizetype i = 0; i < chunks.size(); ++i) {
            const QJsonObject append = jsonOf(session.frames.at(i + 1).data);
            QCOMPARE(append.value("type").toString(), QStringLiteral("input_audio_buffer.append"));
            QVERIFY2(QByteArray::fromBase64(append.value("audio").toString().toLatin1()) == chunks.at(i),
                     qPrintable(QStringLiteral("chunk %1").arg(i)));
        }
        QCOMPARE(jsonOf(session.frames.last().data).value("type").toString(),
                 QStringLiteral("input_audio_buffer.commit"));

        // One refinement request with the transcript and the glossary, to the service of the settings.
        QCOMPARE(server.requests.size(), 1);
        const fake::RecordedRequest& request = server.requests.first();
        const bool responses = refinement == RefinementProviderKind::openAI;
        QCOMPARE(request.target, responses ? QByteArray("/v1/responses") : QByteArray("/chat/completions"));
        QCOMPARE(request.headers.value("authorization"),
                 ("Bearer " + (responses ? openAIKey : deepSeekKey)).toUtf8());
        QVERIFY(QString::fromUtf8(request.body).contains(transcript));
        QVERIFY(QString::fromUtf8(request.body).contains(QStringLiteral("木木咯")));

        // Inserted: on the clipboard and pasted once.
        QCOMPARE(state.rawTranscript(), transcript);
        QCOMPARE(state.finalText(), refined);
        QCOMPARE(pasteboard.string(), refined);
        QCOMPARE(keyboard.pastes, 1);
        QCOMPARE(state.statusDetail(), DictationCoordinator::statusInserted);

        // And kept.
        const QList<HistoryEntry> entries = test::run(history.allEntries());
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().text, refined);
        QCOMPARE(entries.first().mode, InputMode::smartDictation);
        QCOMPARE(entries.first().audioDuration, 3.2);
        QVERIFY(entries.first().completionLatency > 0);
        QVERIFY(entries.first().completionLatency <= observedStopToSuccess);

        QTRY_COMPARE(state.phase(), DictationPhase::idle());
        QVERIFY(!coordinator.hasSession());
        QTRY_VERIFY_WITH_TIMEOUT(server.sessions.first().closed, 5000);
    }
};

QTEST_GUILESS_MAIN(DictationEndToEndTest)
#include "tst_DictationEndToEnd.moc"

// One dictation through the real realtime and refinement providers against the loopback services:
// recorded speech from a capture thread, the frames the server received, the text inserted and the
// history entry written.
#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "FakeServices.h"
#include "PipelineRig.h"
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "audio/PCM24kEncoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The product's objects on loopback services, fake keyring, fake clipboard and keyboard, and a
// microphone the test feeds from a thread of its own.
struct Rig {
    test::TestEnvironment environment;
    fake::FakeServices server;
    // A wall clock the test moves, so the recorded duration is known exactly.
    QDateTime now = QDateTime::currentDateTimeUtc();
    AudioCapturingFake microphone;
    std::unique_ptr<test::PipelineRig> pipeline;
    AppState& state;
    DictationCoordinator* coordinator;
    HistoryStore& history;
    PasteboardFake& pasteboard;
    SyntheticKeyboardFake& keyboard;

    explicit Rig(RefinementProviderKind refinement)
        : pipeline(start(refinement))
        , state(pipeline->state)
        , coordinator(&pipeline->coordinator)
        , history(pipeline->history)
        , pasteboard(pipeline->pasteboard)
        , keyboard(pipeline->keyboard) {}

    std::unique_ptr<test::PipelineRig> start(RefinementProviderKind refinement) {
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        if (!server.listen()) qFatal("the loopback services cannot listen");
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

        test::PipelineOptions options;
        options.refinement = refinement;
        options.clock = [this] { return now; };
        auto rig =
            std::make_unique<test::PipelineRig>(environment.root(), server.baseUrl().toString(), microphone,
                                                std::make_shared<SecretBackendFake>(), options);
        rig->keychain.save(openAIKey, CredentialKind::openAI);
        rig->keychain.save(deepSeekKey, CredentialKind::deepSeek);
        DictionaryEntry term;
        term.canonical = QStringLiteral("Murmelo");
        term.aliases = {QStringLiteral("木木咯")};
        term.kind = DictionaryEntryKind::product;
        rig->dictionary.add(term);
        return rig;
    }

    // The capture thread pushes every chunk without waiting for the network. (The handler was
    // installed on this thread before, and stop() comes after the join.)
    void speak(const QList<QByteArray>& chunks) {
        std::thread capture([this, &chunks] {
            for (const QByteArray& chunk : chunks)
                microphone.deliver(chunk);
        });
        capture.join();
    }
};

} // namespace

class DictationEndToEndTest : public QObject {
    Q_OBJECT

    QList<QByteArray> m_chunks;

private slots:
    void initTestCase() {
        QString error;
        m_chunks = speechChunks(&error);
        QVERIFY2(m_chunks.size() > 20, qPrintable(error));
    }

    void speechBecomesInsertedTextAndHistory_data() {
        QTest::addColumn<RefinementProviderKind>("refinement");
        QTest::newRow("responses") << RefinementProviderKind::openAI;
        QTest::newRow("chat completions") << RefinementProviderKind::deepSeek;
    }
    void speechBecomesInsertedTextAndHistory() {
        QFETCH(RefinementProviderKind, refinement);
        Rig rig(refinement);
        rig.coordinator->toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), DictationPhase::recording(), 10000);
        rig.speak(m_chunks);
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.partialTranscript(), QStringLiteral("我们"), 10000);
        rig.now = rig.now.addMSecs(3200);
        QTRY_COMPARE(rig.state.recordingDuration(), 3.2); // the overlay's clock has caught up

        QElapsedTimer sinceStop;
        sinceStop.start();
        rig.coordinator->toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), DictationPhase::success(), 15000);
        const double observedStopToSuccess = sinceStop.nsecsElapsed() / 1e9;

        // The server heard the session set-up, every chunk in order, and the commit.
        QCOMPARE(rig.server.sessions.size(), 1);
        const fake::RecordedSession& session = rig.server.sessions.first();
        QCOMPARE(session.authorization, ("Bearer " + openAIKey).toUtf8());
        QCOMPARE(session.target, QByteArray("/v1/realtime?model=gpt-live-transcribe"));
        QCOMPARE(session.frames.size(), m_chunks.size() + 2);
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
        for (qsizetype i = 0; i < m_chunks.size(); ++i) {
            const QJsonObject append = jsonOf(session.frames.at(i + 1).data);
            QCOMPARE(append.value("type").toString(), QStringLiteral("input_audio_buffer.append"));
            QVERIFY2(QByteArray::fromBase64(append.value("audio").toString().toLatin1()) == m_chunks.at(i),
                     qPrintable(QStringLiteral("chunk %1").arg(i)));
        }
        QCOMPARE(jsonOf(session.frames.last().data).value("type").toString(),
                 QStringLiteral("input_audio_buffer.commit"));

        // One refinement request with the transcript and the glossary, to the service of the settings.
        QCOMPARE(rig.server.requests.size(), 1);
        const fake::RecordedRequest& request = rig.server.requests.first();
        const bool responses = refinement == RefinementProviderKind::openAI;
        QCOMPARE(request.target, responses ? QByteArray("/v1/responses") : QByteArray("/chat/completions"));
        QCOMPARE(request.headers.value("authorization"),
                 ("Bearer " + (responses ? openAIKey : deepSeekKey)).toUtf8());
        QVERIFY(QString::fromUtf8(request.body).contains(transcript));
        QVERIFY(QString::fromUtf8(request.body).contains(QStringLiteral("木木咯")));

        // Inserted: on the clipboard and pasted once.
        QCOMPARE(rig.state.rawTranscript(), transcript);
        QCOMPARE(rig.state.finalText(), refined);
        QCOMPARE(rig.pasteboard.string(), refined);
        QCOMPARE(rig.keyboard.pastes, 1);
        QCOMPARE(rig.state.statusDetail(), DictationCoordinator::statusInserted);

        // And kept.
        const QList<HistoryEntry> entries = test::run(rig.history.allEntries());
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().text, refined);
        QCOMPARE(entries.first().mode, InputMode::smartDictation);
        QCOMPARE(entries.first().audioDuration, 3.2);
        QVERIFY(entries.first().completionLatency > 0);
        QVERIFY(entries.first().completionLatency <= observedStopToSuccess);

        QTRY_COMPARE(rig.state.phase(), DictationPhase::idle());
        QVERIFY(!rig.coordinator->hasSession());
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.sessions.first().closed, 5000);
    }

    void refinementFailureKeepsTheTranscriptOnTheClipboard() {
        Rig rig(RefinementProviderKind::openAI);
        rig.server.script.responses.status = 500;
        rig.coordinator->toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), DictationPhase::recording(), 10000);
        rig.speak(m_chunks);
        rig.coordinator->toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(),
                                  DictationPhase::error("文字整理服务请求失败（HTTP 500）。"), 15000);
        QCOMPARE(rig.pasteboard.string(), transcript);
        QCOMPARE(rig.keyboard.postAttempts, 0);
        QVERIFY(test::run(rig.history.allEntries()).isEmpty());
        QVERIFY(!rig.coordinator->hasSession());
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.sessions.first().closed, 5000);
    }

    void refusedSessionNeverStartsTheMicrophone() {
        Rig rig(RefinementProviderKind::openAI);
        rig.server.script.realtime.rejectStatus = 503;
        rig.coordinator->toggleDictation();
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.phase(), DictationPhase::error("网络请求失败（-1011）。"), 10000);
        QCOMPARE(rig.microphone.starts, 0);
        QVERIFY(rig.pasteboard.operations.isEmpty()); // no earlier transcript to copy again
        QVERIFY(!rig.coordinator->isStarting());
    }
};

QTEST_GUILESS_MAIN(DictationEndToEndTest)
#include "tst_DictationEndToEnd.moc"

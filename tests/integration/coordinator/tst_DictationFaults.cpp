// Faults injected into whole dictations: the real coordinator and providers against the loopback
// services. Each fault must end in the phase and message the user is meant to read, close the
// microphone, the socket and the session, and keep what was already saved.
#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "FakeServices.h"
#include "PipelineRig.h"
#include "TestEnvironment.h"

#include "../../unit/stores/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <algorithm>

using namespace murmelo;

Q_DECLARE_METATYPE(fake::Frame)
Q_DECLARE_METATYPE(fake::HttpScript)
using namespace std::chrono_literals;

namespace {

const QString transcript = QStringLiteral("下午三点开会");
const QString timedOut = QStringLiteral("AI 处理超时，原始转写已保留到剪贴板。");

// Silence as the capture thread hands it over: 100 ms chunks of 24 kHz PCM16.
QList<QByteArray> someChunks(int count = 5) {
    return QList<QByteArray>(count, QByteArray(4800, '\0'));
}

struct RigOptions {
    DictationTiming timing{10s, 10s, 50ms, 5s};
    bool keyringReachable = true;
    QString historyPath; // empty: history.json in the test's own directory
};

// Keys are stored first; a locked keyring still holds them but gives nothing out.
std::shared_ptr<SecretBackendFake> keyringWithTheKey(bool reachable) {
    auto secrets = std::make_shared<SecretBackendFake>();
    KeychainStore(secrets).save(QStringLiteral("sk-faults"), CredentialKind::openAI);
    secrets->reachable = reachable;
    return secrets;
}

// The product's objects on the loopback services, a fake keyring, clipboard, keyboard and microphone.
struct Rig {
    test::TestEnvironment environment;
    fake::FakeServices server;
    AudioCapturingFake microphone;
    QString historyPath;
    std::unique_ptr<test::PipelineRig> pipeline;
    AppState& state;
    PasteboardFake& pasteboard;
    SyntheticKeyboardFake& keyboard;
    std::shared_ptr<SecretBackendFake> secrets;
    HistoryStore* history;
    DictationCoordinator* coordinator;

    explicit Rig(const RigOptions& options = {})
        : pipeline(start(options))
        , state(pipeline->state)
        , pasteboard(pipeline->pasteboard)
        , keyboard(pipeline->keyboard)
        , secrets(pipeline->secrets)
        , history(&pipeline->history)
        , coordinator(&pipeline->coordinator) {}

    std::unique_ptr<test::PipelineRig> start(const RigOptions& options) {
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        if (!server.listen()) qFatal("the loopback services cannot listen");
        server.script.realtime.transcript = transcript;
        historyPath =
            options.historyPath.isEmpty() ? environment.root() + "/history.json" : options.historyPath;
        test::PipelineOptions pipelineOptions;
        pipelineOptions.timing = options.timing;
        pipelineOptions.historyPath = historyPath;
        return std::make_unique<test::PipelineRig>(environment.root(), server.baseUrl().toString(),
                                                   microphone, keyringWithTheKey(options.keyringReachable),
                                                   pipelineOptions);
    }

    bool startRecording() {
        coordinator->toggleDictation();
        return QTest::qWaitFor([this] { return state.phase() == DictationPhase::recording(); }, 10000);
    }
    void speak(const QList<QByteArray>& chunks) {
        for (const QByteArray& chunk : chunks)
            microphone.deliver(chunk);
    }
    // The server has seen `count` audio frames (besides the session set-up).
    bool serverHeardAudio(int count) {
        return QTest::qWaitFor(
            [&] { return !server.sessions.isEmpty() && server.sessions.first().frameCount > count; }, 10000);
    }
    bool endsIn(const DictationPhase& phase, int timeoutMs = 15000) {
        if (QTest::qWaitFor([&] { return state.phase() == phase; }, timeoutMs)) return true;
        qWarning("phase is %s", qPrintable(state.phase().message()));
        return false;
    }
    // No microphone, realtime socket or per-dictation object outlives the dictation. (The HTTP
    // connection may stay in the shared network session's pool; it belongs to no dictation.)
    bool leftNothingOpen() {
        const auto allClosed = [this] {
            return std::all_of(server.sessions.cbegin(), server.sessions.cend(),
                               [](const fake::RecordedSession& session) { return session.closed; });
        };
        const bool closed = QTest::qWaitFor(allClosed, 5000);
        if (!closed || microphone.isRecording() || coordinator->hasSession() || coordinator->isStarting()) {
            qWarning("open: sockets closed %d, microphone %d, session %d, starting %d", closed,
                     microphone.isRecording(), coordinator->hasSession(), coordinator->isStarting());
            return false;
        }
        return true;
    }
};

HistoryEntry savedEarlier() {
    HistoryEntry entry;
    entry.id = QUuid(QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
    entry.createdAt = 786000000.5;
    entry.text = QStringLiteral("早先保存的一条");
    entry.audioDuration = 2;
    entry.completionLatency = 1;
    return entry;
}

} // namespace

class DictationFaultsTest : public QObject {
    Q_OBJECT

private slots:
    // The service goes away mid-sentence: recording goes on (chunks are buffered), and the stop
    // reports the failed send. The provider has already ended the session by then, so the send
    // fails as one on a session that is not open.
    void serviceClosesWhileRecording_data() {
        QTest::addColumn<fake::Frame>("goodbye");
        QTest::newRow("close frame") << fake::Frame{fake::Frame::Kind::close, {}, 1011, 0};
        QTest::newRow("going away") << fake::Frame{fake::Frame::Kind::close, {}, 1001, 0};
    }
    void serviceClosesWhileRecording() {
        QFETCH(fake::Frame, goodbye);
        Rig rig;
        rig.server.script.realtime.onFirstAudio = {goodbye};
        QVERIFY(rig.startRecording());
        rig.speak(someChunks(1));
        QVERIFY(QTest::qWaitFor([&] { return rig.server.sessions.first().closed; }, 10000));
        rig.speak(someChunks(3)); // the user does not know yet
        QCOMPARE(rig.state.phase(), DictationPhase::recording());
        rig.coordinator->toggleDictation();
        // The user learns that the connection ended, not that the session never started.
        QVERIFY(rig.endsIn(DictationPhase::error(QStringLiteral("语音识别连接已断开。"))));
        QVERIFY(rig.leftNothingOpen());
        QVERIFY(rig.pasteboard.operations.isEmpty());
        QVERIFY(test::run(rig.history->allEntries()).isEmpty());
    }

    // A close frame is the service ending the session; a dropped connection is the network's failure.
    void serviceGoesAwayWhileCommitting_data() {
        QTest::addColumn<bool>("drop");
        QTest::addColumn<QString>("message");
        QTest::newRow("close frame") << false << QStringLiteral("语音识别连接已断开。");
        QTest::newRow("dropped connection") << true << QStringLiteral("网络连接已中断。");
    }
    void serviceGoesAwayWhileCommitting() {
        QFETCH(bool, drop);
        QFETCH(QString, message);
        Rig rig;
        if (drop)
            rig.server.script.realtime.dropAfterCommit = true;
        else
            rig.server.script.realtime.afterCommit =
                QList<fake::Frame>{{fake::Frame::Kind::close, {}, 1011, 0}};
        QVERIFY(rig.startRecording());
        rig.speak(someChunks());
        QVERIFY(rig.serverHeardAudio(5));
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(DictationPhase::error(message)));
        QVERIFY(rig.leftNothingOpen());
        QCOMPARE(rig.keyboard.postAttempts, 0);
        QVERIFY(rig.server.requests.isEmpty()); // nothing to refine
    }

    // The limit is injected; the product keeps its 35 s.
    void commitNeverAnsweredTimesOut() {
        RigOptions options;
        options.timing.finish = 700ms;
        options.timing.cancelGrace = 1s;
        Rig rig(options);
        rig.server.script.realtime.answerCommit = false;
        rig.server.script.realtime.onFirstAudio = {
            {fake::Frame::Kind::text,
             R"({"type":"conversation.item.input_audio_transcription.delta","delta":"下午"})", 0, 0}};
        QVERIFY(rig.startRecording());
        rig.speak(someChunks());
        QVERIFY(
            QTest::qWaitFor([&] { return rig.state.partialTranscript() == QStringLiteral("下午"); }, 10000));
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(DictationPhase::error(timedOut)));
        QVERIFY(rig.leftNothingOpen());
        QVERIFY(QTest::qWaitFor([&] { return rig.server.sessions.first().closed; }, 5000));
        // No final transcript: nothing worth copying, and the partial one is not passed off as it.
        QVERIFY(rig.pasteboard.operations.isEmpty());
        QVERIFY(rig.server.requests.isEmpty());
    }

    // Every refinement fault leaves the raw transcript on the clipboard and nothing pasted or kept.
    void refinementFails_data() {
        QTest::addColumn<fake::HttpScript>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("500") << fake::HttpScript{500, QByteArray(R"({"error":{"message":"boom"}})"), 0, false,
                                                 -1}
                             << QStringLiteral("文字整理服务请求失败（HTTP 500）。");
        QTest::newRow("truncated body")
            << fake::HttpScript{0, std::nullopt, 0, false, 12} << QStringLiteral("网络连接已中断。");
        QTest::newRow("never") << fake::HttpScript{0, std::nullopt, 0, true, -1} << timedOut;
    }
    void refinementFails() {
        QFETCH(fake::HttpScript, answer);
        QFETCH(QString, message);
        RigOptions options;
        options.timing.refinement = 700ms; // injected; the product waits 20 s
        options.timing.cancelGrace = 1s;
        Rig rig(options);
        rig.server.script.responses = answer;
        QVERIFY(rig.startRecording());
        rig.speak(someChunks());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(DictationPhase::error(message)));
        QCOMPARE(rig.state.rawTranscript(), transcript);
        QCOMPARE(rig.pasteboard.string(), transcript);
        QCOMPARE(rig.keyboard.postAttempts, 0);
        QVERIFY(test::run(rig.history->allEntries()).isEmpty());
        QVERIFY(rig.leftNothingOpen());
        QCOMPARE(rig.server.requests.size(), 1);
    }

    // A locked keyring gives out no key: the dictation never opens a session or the microphone.
    void lockedKeyringAsksForTheKey() {
        RigOptions options;
        options.keyringReachable = false;
        Rig rig(options);
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(
            DictationPhase::error(QStringLiteral("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。"))));
        QCOMPARE(rig.microphone.starts, 0);
        QVERIFY(rig.server.sessions.isEmpty());
        QVERIFY(rig.leftNothingOpen());
        // Still there once the keyring opens again.
        QCOMPARE(rig.secrets->items.size(), 1);
    }

    // The history cannot be written (a file where its directory should be, or a full disk): the
    // dictation still succeeds, and what the file already held is intact.
    void unwritableHistoryStillInserts_data() {
        QTest::addColumn<bool>("fileForDirectory");
        QTest::newRow("file where the directory should be") << true;
        QTest::newRow("disk full") << false;
    }
    void unwritableHistoryStillInserts() {
        QFETCH(bool, fileForDirectory);
        test::TestEnvironment scratch;
        RigOptions options;
        if (fileForDirectory) {
            QFile blocker(scratch.root() + "/murmelo");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            options.historyPath = blocker.fileName() + "/history.json";
        }
        Rig rig(options);
        QByteArray before;
        if (!fileForDirectory) {
            test::run(rig.history->append(savedEarlier()));
            QFile file(rig.historyPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            before = file.readAll();
            QVERIFY(!before.isEmpty());
        }
        std::optional<test::FileSizeLimit> full;
        if (!fileForDirectory) full.emplace(before.size()); // the old content fits; nothing more does

        QVERIFY(rig.startRecording());
        rig.speak(someChunks());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(DictationPhase::success()));
        QCOMPARE(rig.keyboard.pastes, 1);
        QCOMPARE(rig.pasteboard.string(), transcript);
        QVERIFY(rig.endsIn(DictationPhase::idle()));
        QVERIFY(rig.leftNothingOpen());
        full.reset();

        if (fileForDirectory) {
            QVERIFY(QFileInfo(rig.historyPath).dir().exists() == false);
        } else {
            QFile file(rig.historyPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), before);
            HistoryStore reread(rig.historyPath);
            const QList<HistoryEntry> entries = test::run(reread.allEntries());
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries.first(), savedEarlier());
        }
    }

    // No synthetic input on this display: the text stays on the clipboard and the dictation counts.
    void displayWithoutSyntheticInputCopiesOnly() {
        Rig rig;
        rig.keyboard.available = false;
        QVERIFY(rig.startRecording());
        rig.speak(someChunks());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.endsIn(DictationPhase::success()));
        QCOMPARE(rig.state.statusDetail(), DictationCoordinator::statusCopiedOnly);
        QCOMPARE(rig.pasteboard.string(), transcript);
        QCOMPARE(rig.keyboard.pastes, 0);
        QCOMPARE(test::run(rig.history->allEntries()).size(), 1);
        QVERIFY(rig.leftNothingOpen());
    }
};

QTEST_GUILESS_MAIN(DictationFaultsTest)
#include "tst_DictationFaults.moc"

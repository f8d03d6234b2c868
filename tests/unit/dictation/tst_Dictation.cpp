// The dictation's state, its chunk hand-over and the coordinator that runs it, on fakes.
#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "PasteboardFake.h"
#include "ScriptedProviders.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "dictation/AppState.h"
#include "dictation/AudioChunkQueue.h"
#include "dictation/DictationCoordinator.h"
#include "dictation/DictationCoordinatorError.h"
#include "refinement/RefinementProviderError.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/TextInsertionService.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace murmelo;
using namespace std::chrono_literals;
using CoordinatorCase = DictationCoordinatorError::Case;
using TranscriptionCase = TranscriptionProviderError::Case;

Q_DECLARE_METATYPE(std::exception_ptr)

namespace {

// Everything a coordinator needs, on fakes and temporary files, with millisecond time limits.
struct Rig {
    test::TestEnvironment environment;
    UserDefaults defaults{environment.root() + "/settings.json"};
    AppState state;
    AppSettings settings{defaults};
    DictionaryStore dictionary{environment.root() + "/dictionary.json"};
    HistoryStore history{environment.root() + "/history.json"};
    AudioCapturingFake microphone;
    PasteboardFake pasteboard;
    SyntheticKeyboardFake keyboard;
    TextInsertionService insertion{pasteboard, keyboard, TextInsertionService::Timing{0ms, 1ms, 0ms}};
    ScriptedProviderFactory providers;
    QList<DictationPhase> phases;
    std::unique_ptr<DictationCoordinator> coordinator;

    explicit Rig(DictationCoordinator::Timing timing = {200ms, 200ms, 50ms, 500ms}) {
        coordinator = std::make_unique<DictationCoordinator>(state, settings, dictionary, history, providers,
                                                             microphone, insertion, pasteboard, timing);
        QObject::connect(&state, &AppState::phaseChanged, [this](const DictationPhase& p) { phases << p; });
    }
    // Providers may outlive the coordinator by a few event-loop turns: let them go before their census.
    ~Rig() {
        coordinator.reset();
        test::waitUntil([this] { return providers.census.alive == 0; });
    }

    bool waitFor(const DictationPhase& phase) {
        return test::waitUntil([&] { return state.phase() == phase; });
    }
    // Starts a dictation, feeds it three chunks and stops it.
    bool dictate() {
        coordinator->toggleDictation();
        if (!waitFor(DictationPhase::recording())) return false;
        for (int i = 0; i < 3; ++i)
            microphone.deliver(QByteArray(4800, char(i)));
        coordinator->toggleDictation();
        return true;
    }
    QList<HistoryEntry> historyEntries() { return test::run(history.allEntries()); }
};

template <typename E> void failureRow(const char* step, const E& error, const char* clipboard = "") {
    QTest::newRow(step) << std::make_exception_ptr(error) << error.description() << QString(clipboard);
}

QCoro::Task<QList<QByteArray>> drain(AudioChunkQueue* queue) {
    QList<QByteArray> received;
    while (auto chunk = co_await queue->next())
        received.append(*chunk);
    co_return received;
}

} // namespace

class DictationTest : public QObject {
    Q_OBJECT

    QDateTime m_now = QDateTime(QDate(2026, 12, 6), QTime(8, 0), Qt::UTC);
    AppState::Clock clock() {
        return [this] { return m_now; };
    }

private slots:
    void recordingTimeFollowsTheWallClockAndResetKeepsTheResultsForCopying() {
        AppState state(nullptr, clock());
        state.setRawTranscript("old");
        state.beginRecording();
        QVERIFY(state.rawTranscript().isEmpty());
        m_now = m_now.addMSecs(2500); // the clock jumps between ticks: the next tick shows the true time
        QSignalSpy ticks(&state, &AppState::recordingDurationChanged);
        QVERIFY(ticks.wait(1000));
        QCOMPARE(state.recordingDuration(), 2.5);
        state.appendPartialTranscript("你好");
        state.appendPartialTranscript("世界");
        QCOMPARE(state.partialTranscript(), QStringLiteral("你好世界"));
        state.transition(DictationPhase::transcribing());
        m_now = m_now.addSecs(10);
        QVERIFY(!state.isTimerRunning());
        QCOMPARE(state.recordingDuration(), 2.5);
        state.setRawTranscript("raw");
        state.setFinalText("final");
        state.setStatusDetail("status");
        state.reset();
        QCOMPARE(state.phase(), DictationPhase::idle());
        QVERIFY(state.partialTranscript().isEmpty() && state.statusDetail().isEmpty());
        QCOMPARE(state.recordingDuration(), 0.0);
        QCOMPARE(state.rawTranscript() + state.finalText(), QStringLiteral("rawfinal"));
        state.transition(DictationPhase::recording()); // the phase alone starts no timer
        QVERIFY(!state.isTimerRunning());
    }

    void repeatedBeginKeepsOneTimer() {
        AppState state(nullptr, clock());
        for (int i = 0; i < 3; ++i)
            state.beginRecording();
        QSignalSpy ticks(&state, &AppState::recordingDurationChanged);
        QTest::qWait(550);
        // One 100 ms timer ticks at most six times in 550 ms; three timers would tick about fifteen.
        QVERIFY2(ticks.size() <= 7, qPrintable(QString::number(ticks.size())));
    }

    void chunksFromTheCaptureThreadArriveInOrderAndNoneAfterTheEnd() {
        AudioChunkQueue queue;
        QThread* producer = QThread::create([&] {
            for (int i = 0; i < 5000; ++i)
                queue.push(QByteArray::number(i));
        });
        producer->start();
        // Finished from the consumer's thread once the producer is done, as the coordinator does.
        QTimer::singleShot(0, [&] {
            while (!producer->wait(QDeadlineTimer(1)))
                QCoreApplication::processEvents();
            queue.finish();
        });
        const QList<QByteArray> received = test::run(drain(&queue));
        delete producer;
        QCOMPARE(received.size(), 5000);
        for (int i = 0; i < 5000; ++i)
            QCOMPARE(received.at(i), QByteArray::number(i));
        queue.push("late");
        QVERIFY(!test::run(queue.next()));
        QCOMPARE(queue.pendingBytes(), 0);
    }

    void successGoesThroughEveryPhaseWithEveryChunkInOrderAndIsSavedAsAsked() {
        Rig rig({3000ms, 200ms, 50ms, 500ms});
        rig.settings.setSaveHistory(true);
        rig.settings.setInputMode(InputMode::translateToEnglish);
        DictionaryEntry entry;
        entry.canonical = QStringLiteral("Murmelo");
        entry.aliases = {QStringLiteral("木木咯")};
        rig.dictionary.add(entry);
        rig.providers.script.sendDelay = 2ms; // the provider is slower than the microphone
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        for (int i = 0; i < 200; ++i)
            rig.microphone.deliver(QByteArray::number(i));
        rig.state.setRecordingDuration(2.5); // what the overlay showed when stop began
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("整理后的文字"));
        QCOMPARE(rig.state.statusDetail(), DictationCoordinator::statusInserted);
        QCOMPARE(rig.state.rawTranscript(), QStringLiteral("原始转写"));
        QVERIFY(rig.waitFor(DictationPhase::idle()));
        QCOMPARE(rig.phases,
                 QList<DictationPhase>({DictationPhase::recording(), DictationPhase::transcribing(),
                                        DictationPhase::refining(), DictationPhase::inserting(),
                                        DictationPhase::success(), DictationPhase::idle()}));
        QCOMPARE(rig.keyboard.pastes, 1);
        QVERIFY(!rig.microphone.isRecording() && !rig.coordinator->hasSession());

        const auto& session = *rig.providers.sessions.first();
        QCOMPARE(session.context->prompt, DictationCoordinator::contextPrompt);
        QCOMPARE(session.context->keywords, QStringList({"Murmelo", "木木咯"}));
        QCOMPARE(session.context->languages, QStringList({"zh-cn", "en"}));
        QCOMPARE(session.chunks.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(session.chunks.at(i), QByteArray::number(i));
        const RefinementRequest request = rig.providers.refinementRequests.last();
        QCOMPARE(request.mode, InputMode::translateToEnglish);
        QVERIFY(request.glossary.contains("Murmelo"));

        const auto entries = rig.historyEntries();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().text, QStringLiteral("整理后的文字"));
        QCOMPARE(entries.first().mode, InputMode::translateToEnglish);
        QCOMPARE(entries.first().audioDuration, 2.5);
        QVERIFY(entries.first().completionLatency >= 0 && entries.first().completionLatency < 1.0);
    }

    void failureShowsItsMessageOnceAndLeavesNothingBehind_data() {
        QTest::addColumn<std::exception_ptr>("error"); // what the failing step throws, or its time-out
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard"); // afterwards, also once the tray's copy was pressed
        const DictationCoordinatorError timedOut(CoordinatorCase::timedOut);
        failureRow("providers", DictationCoordinatorError(CoordinatorCase::missingOpenAIKey));
        failureRow("session start", TranscriptionProviderError(TranscriptionCase::server, "quota"));
        failureRow("microphone", NetworkError(NetworkError::cannotConnectToHost));
        failureRow("send", TranscriptionProviderError(TranscriptionCase::connectionClosed));
        failureRow("finish", TranscriptionProviderError(TranscriptionCase::emptyTranscript));
        failureRow("finish too late", timedOut);
        // Refinement failed: the raw transcript is put on the clipboard.
        failureRow("refinement", RefinementProviderError::httpStatus(500), "原始转写");
        failureRow("refinement too late", timedOut, "原始转写");
    }
    void failureShowsItsMessageOnceAndLeavesNothingBehind() {
        QFETCH(std::exception_ptr, error);
        QFETCH(QString, message);
        QFETCH(QString, clipboard);
        const QByteArray step = QTest::currentDataTag();
        Rig rig;
        rig.settings.setSaveHistory(true);
        rig.pasteboard.content = QStringLiteral("别的内容");
        auto& script = rig.providers.script;
        const auto fail = [error] { std::rethrow_exception(error); };
        if (step == "providers") script.failMake = fail;
        if (step == "session start") script.failStart = fail;
        if (step == "microphone") rig.microphone.failStartWith = fail;
        if (step == "send") script.failSendAfterChunks = 1;
        if (step == "finish") script.failFinish = fail;
        if (step == "finish too late") script.finishDelay = 1h;
        if (step == "refinement") script.failRefine = fail;
        if (step == "refinement too late") script.refineDelay = 1h;
        if (step == "providers" || step == "session start" || step == "microphone")
            rig.coordinator->toggleDictation();
        else
            QVERIFY(rig.dictate());
        QVERIFY(rig.waitFor(DictationPhase::error(message)));
        QCOMPARE(rig.phases.count(DictationPhase::error(message)), 1);
        QCOMPARE(rig.keyboard.postAttempts, 0);
        QVERIFY(rig.historyEntries().isEmpty());
        QVERIFY(!rig.microphone.isRecording() && !rig.coordinator->hasSession());
        for (const auto& session : rig.providers.sessions)
            QVERIFY(!session->open);
        QTRY_COMPARE(rig.providers.census.alive, 0);
        const QString untouched = clipboard.isEmpty() ? QStringLiteral("别的内容") : clipboard;
        QCOMPARE(rig.pasteboard.string(), untouched);
        rig.coordinator->copyBestAvailableText(); // the raw transcript, else nothing to copy
        QCOMPARE(rig.pasteboard.string(), untouched);
    }

    void toggleDuringTheCleanUpOfAFailedStartStartsNothing_data() {
        QTest::addColumn<bool>("microphoneFails"); // else the session cannot open
        QTest::newRow("microphone") << true;
        QTest::newRow("session") << false;
    }
    void toggleDuringTheCleanUpOfAFailedStartStartsNothing() {
        QFETCH(bool, microphoneFails);
        Rig rig;
        auto failures = std::make_shared<int>(0);
        const auto failOnce = [failures] {
            if ((*failures)++ == 0) throw NetworkError(NetworkError::cannotConnectToHost);
        };
        (microphoneFails ? rig.microphone.failStartWith : rig.providers.script.failStart) = failOnce;
        rig.providers.script.cancelDelay = 5ms;
        const auto failed =
            DictationPhase::error(NetworkError(NetworkError::cannotConnectToHost).description());
        rig.coordinator->toggleDictation();
        rig.coordinator->toggleDictation(); // arrives while the failed start still cleans up
        QVERIFY(rig.waitFor(failed));
        QTRY_VERIFY(!rig.coordinator->isStarting());
        QCOMPARE(rig.state.phase(), failed);
        QVERIFY(!rig.microphone.isRecording() && !rig.coordinator->hasSession());
        QCOMPARE(rig.providers.census.created, 2);
        rig.coordinator->toggleDictation(); // the next press starts normally
        QVERIFY(rig.waitFor(DictationPhase::recording()));
    }

    void insertionOutcomeIsShownAndTheTrayCanStillCopy_data() {
        QTest::addColumn<bool>("clipboardAccepts");
        QTest::addColumn<QString>("status");
        QTest::newRow("no synthetic input") << true << DictationCoordinator::statusCopiedOnly;
        QTest::newRow("clipboard refused") << false << DictationCoordinator::statusNotCopied;
    }
    void insertionOutcomeIsShownAndTheTrayCanStillCopy() {
        QFETCH(bool, clipboardAccepts);
        QFETCH(QString, status);
        Rig rig;
        rig.keyboard.available = !clipboardAccepts;
        rig.pasteboard.accepts = clipboardAccepts;
        QVERIFY(rig.dictate());
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.state.statusDetail(), status);
        QCOMPARE(rig.keyboard.pastes, 0);
        QVERIFY(rig.historyEntries().isEmpty());  // history is off unless asked for
        rig.pasteboard.accepts = true;            // the panel has the focus when its button is pressed
        rig.coordinator->copyBestAvailableText(); // the final text, not the raw transcript
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("整理后的文字"));
    }

    void dictationStartedDuringTheSuccessHoldKeepsRecording() {
        Rig rig({200ms, 200ms, 80ms, 500ms});
        QVERIFY(rig.dictate());
        QVERIFY(rig.waitFor(DictationPhase::success()));
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        QTest::qWait(150); // past the first dictation's hold, whose reset must not reach this one
        QCOMPARE(rig.state.phase(), DictationPhase::recording());
        QVERIFY(rig.microphone.isRecording());
    }

    void toggleStormKeepsOneDictationAndTheMicrophoneOnlyWhileRecording() {
        Rig rig({100ms, 100ms, 5ms, 200ms});
        auto* random = QRandomGenerator::global();
        auto& script = rig.providers.script;
        script.sendDelay = script.finishDelay = script.refineDelay = 2ms;
        // Every fifth microphone start fails and a session takes a moment to cancel, so toggles also
        // land while a failed start is still cleaning up.
        auto starts = std::make_shared<int>(0);
        rig.microphone.failStartWith = [starts] {
            if (++*starts % 5 == 0) throw NetworkError(NetworkError::cannotConnectToHost);
        };
        script.cancelDelay = 2ms;
        int violations = 0;
        QObject::connect(&rig.state, &AppState::phaseChanged, [&](const DictationPhase& phase) {
            if (!phase.is(DictationPhase::Kind::recording) && rig.microphone.isRecording()) ++violations;
        });
        for (int i = 0; i < 200; ++i) {
            rig.coordinator->toggleDictation();
            for (int t = random->bounded(8); t > 0; --t) {
                rig.microphone.deliver(QByteArray(64, 'x'));
                QTest::qWait(1);
            }
            if (i % 50 == 17) script.failSendAfterChunks = random->bounded(3);
            if (i % 50 == 30) script.failSendAfterChunks.reset();
        }
        // Let the last dictation end, whatever state it is in.
        QDeadlineTimer settle(5000);
        while (!settle.hasExpired()) {
            const DictationPhase phase = rig.state.phase();
            if (phase.is(DictationPhase::Kind::recording)) rig.coordinator->toggleDictation();
            if ((phase.is(DictationPhase::Kind::idle) || phase.is(DictationPhase::Kind::error)) &&
                !rig.coordinator->isStarting())
                break;
            QTest::qWait(5);
        }
        QCOMPARE(violations, 0);
        QVERIFY(!rig.microphone.isRecording() && !rig.coordinator->hasSession());
        QCOMPARE(rig.providers.census.maximumAlive, 2); // one transcription and one refinement provider
        QTRY_COMPARE(rig.providers.census.alive, 0);
        for (const auto& session : rig.providers.sessions)
            QVERIFY(!session->open);
        QVERIFY(rig.providers.census.created >= 20);
    }
};

QTEST_GUILESS_MAIN(DictationTest)
#include "tst_Dictation.moc"

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

using namespace murmelo;
using namespace std::chrono_literals;

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
        microphone.failStartWith = [this] {
            if (providers.script.fail) providers.script.fail("microphone");
        };
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
    // Nothing of a dictation is left: no microphone, no session, no provider, no open stream.
    bool leftNothing() {
        for (const auto& session : providers.sessions)
            if (session->open) return false;
        return !microphone.isRecording() && !coordinator->hasSession() &&
               test::waitUntil([this] { return providers.census.alive == 0; });
    }
};

} // namespace

class DictationTest : public QObject {
    Q_OBJECT
private slots:
    void recordingTimeRestartsWithEachBeginFollowsTheWallClockAndResetKeepsTheResults() {
        QDateTime now = QDateTime::currentDateTimeUtc();
        AppState state(nullptr, [&] { return now; });
        state.beginRecording();
        now = now.addSecs(7);
        state.beginRecording();
        now = now.addMSecs(2500); // the clock jumps between ticks: the next tick shows the true time
        QVERIFY(QSignalSpy(&state, &AppState::recordingDurationChanged).wait(1000));
        QCOMPARE(state.recordingDuration(), 2.5);
        state.transition(DictationPhase::transcribing());
        now = now.addSecs(10);
        QVERIFY(!state.isTimerRunning());
        QCOMPARE(state.recordingDuration(), 2.5);
        state.setRawTranscript("raw");
        state.setFinalText("final");
        state.reset();
        QVERIFY(state.phase() == DictationPhase::idle() && state.recordingDuration() == 0.0);
        QCOMPARE(state.rawTranscript() + state.finalText(), QStringLiteral("rawfinal")); // still there to copy
        state.beginRecording();
        QVERIFY(state.rawTranscript().isEmpty() && state.finalText().isEmpty());
    }

    void chunksFromTheCaptureThreadArriveInOrderAndNoneAfterTheEnd() {
        AudioChunkQueue queue;
        std::unique_ptr<QThread> producer(QThread::create([&] {
            for (int i = 0; i < 5000; ++i)
                queue.push(QByteArray::number(i));
        }));
        producer->start();
        for (int i = 0; i < 5000; ++i)
            QCOMPARE(test::run(queue.next()), std::optional(QByteArray::number(i)));
        QVERIFY(producer->wait(5000));
        queue.finish();
        queue.push("late");
        QVERIFY(!test::run(queue.next()));
    }

    // Rows: what the desktop allows, and the status that says where the text went. History is
    // asked for except where there is no synthetic input.
    void successPassesEveryPhaseAndChunkInOrderAndIsSavedAsAsked_data() {
        QTest::addColumn<QString>("status");
        QTest::newRow("pasted") << DictationCoordinator::statusInserted;
        QTest::newRow("no synthetic input") << DictationCoordinator::statusCopiedOnly;
        QTest::newRow("clipboard refused") << DictationCoordinator::statusNotCopied;
    }
    void successPassesEveryPhaseAndChunkInOrderAndIsSavedAsAsked() {
        QFETCH(QString, status);
        const QByteArray desktop = QTest::currentDataTag();
        const bool saveHistory = desktop != "no synthetic input";
        Rig rig({3000ms, 200ms, 50ms, 500ms});
        rig.keyboard.available = desktop != "no synthetic input";
        rig.pasteboard.accepts = desktop != "clipboard refused";
        rig.settings.setSaveHistory(saveHistory);
        rig.settings.setInputMode(InputMode::translateToEnglish);
        DictionaryEntry word;
        word.canonical = QStringLiteral("Murmelo");
        word.aliases = {QStringLiteral("木木咯")};
        rig.dictionary.add(word);
        rig.providers.script.delays["send"] = 2ms; // the provider is slower than the microphone
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        QList<QByteArray> chunks;
        for (int i = 0; i < 200; ++i)
            rig.microphone.deliver(chunks.emplace_back(QByteArray::number(i)));
        rig.state.setRecordingDuration(2.5); // what the overlay showed when stop began
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.state.statusDetail(), status);
        QCOMPARE(rig.state.rawTranscript(), QStringLiteral("原始转写"));
        QVERIFY(rig.waitFor(DictationPhase::idle()));
        QCOMPARE(rig.phases, QList<DictationPhase>({DictationPhase::recording(), DictationPhase::transcribing(),
                                                    DictationPhase::refining(), DictationPhase::inserting(),
                                                    DictationPhase::success(), DictationPhase::idle()}));
        QVERIFY(rig.leftNothing());
        const auto& session = *rig.providers.sessions.first();
        QCOMPARE(session.context->keywords, QStringList({"Murmelo", "木木咯"}));
        QCOMPARE(session.chunks, chunks);
        QCOMPARE(session.refinement->mode, InputMode::translateToEnglish);
        QVERIFY(session.refinement->glossary.contains("Murmelo"));
        QCOMPARE(rig.keyboard.pastes, desktop == "pasted" ? 1 : 0);
        const auto entries = test::run(rig.history.allEntries());
        QCOMPARE(entries.size(), saveHistory ? 1 : 0);
        for (const HistoryEntry& entry : entries) {
            QCOMPARE(entry.text, QStringLiteral("整理后的文字"));
            QCOMPARE(entry.mode, InputMode::translateToEnglish);
            QCOMPARE(entry.audioDuration, 2.5);
        }
        rig.pasteboard.accepts = true;            // the panel has the focus when its button is pressed
        rig.coordinator->copyBestAvailableText(); // the final text, not the raw transcript
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("整理后的文字"));
    }

    // Rows are named after the step that fails; "too late" ones run into their time limit.
    void failureShowsItsMessageOnceAndLeavesNothingBehind_data() {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard"); // afterwards, also once the tray's copy was pressed
        const auto row = [](const char* step, const auto& error, const char* clipboard = "别的内容") {
            QTest::newRow(step) << std::make_exception_ptr(error) << error.description() << QString(clipboard);
        };
        const DictationCoordinatorError timedOut(DictationCoordinatorError::Case::timedOut);
        using Transcription = TranscriptionProviderError::Case;
        row("make", DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey));
        row("start", TranscriptionProviderError(Transcription::server, "quota"));
        row("microphone", NetworkError(NetworkError::cannotConnectToHost));
        row("send", TranscriptionProviderError(Transcription::connectionClosed));
        row("finish", TranscriptionProviderError(Transcription::emptyTranscript));
        row("finish too late", timedOut);
        row("refine", RefinementProviderError::httpStatus(500), "原始转写"); // the raw transcript is kept
        row("refine too late", timedOut, "原始转写");
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
        if (step.endsWith("too late"))
            script.delays[step.split(' ').first()] = 1h;
        else if (step == "send")
            script.failSendAfterChunks = 1;
        else
            script.fail = [error, step](const QByteArray& at) {
                if (at == step) std::rethrow_exception(error);
            };
        rig.coordinator->toggleDictation();
        test::waitUntil([&] { return !rig.state.phase().is(DictationPhase::Kind::idle); });
        if (rig.state.phase().is(DictationPhase::Kind::recording)) {
            for (int i = 0; i < 3; ++i)
                rig.microphone.deliver(QByteArray::number(i));
            rig.coordinator->toggleDictation();
        }
        QVERIFY(rig.waitFor(DictationPhase::error(message)));
        QCOMPARE(rig.phases.count(DictationPhase::error(message)), 1);
        QCOMPARE(rig.keyboard.postAttempts, 0);
        QVERIFY(test::run(rig.history.allEntries()).isEmpty());
        QVERIFY(rig.leftNothing());
        QCOMPARE(rig.pasteboard.string(), clipboard);
        rig.coordinator->copyBestAvailableText(); // the raw transcript, else nothing to copy
        QCOMPARE(rig.pasteboard.string(), clipboard);
    }

    // The microphone goes away while recording: what it heard is transcribed and inserted, and the
    // status says so; with nothing heard the dictation ends in an error. Either way nothing hangs.
    void lostMicrophoneEndsTheDictationWithWhatWasHeardAndSaysSo_data() {
        QTest::addColumn<int>("chunks");
        QTest::addColumn<QString>("message"); // the status detail on success, else the error
        QTest::newRow("after speech") << 3 << QStringLiteral("麦克风已断开，已处理断开前的录音。");
        QTest::newRow("before anything was heard") << 0 << QStringLiteral("麦克风已断开，录音已停止。");
    }
    void lostMicrophoneEndsTheDictationWithWhatWasHeardAndSaysSo() {
        QFETCH(int, chunks);
        QFETCH(QString, message);
        Rig rig;
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        QList<QByteArray> heard;
        for (int i = 0; i < chunks; ++i)
            rig.microphone.deliver(heard.emplace_back(QByteArray::number(i)));
        rig.microphone.lose();
        QVERIFY(rig.waitFor(chunks ? DictationPhase::success() : DictationPhase::error(message)));
        QCOMPARE(rig.state.statusDetail(), chunks ? message : QString());
        QCOMPARE(rig.keyboard.pastes, chunks ? 1 : 0);
        QCOMPARE(rig.providers.sessions.first()->chunks, heard);
        QVERIFY(rig.leftNothing());
    }

    // Every fifth microphone start fails and a session takes a moment to cancel, so toggles also
    // land while a failed start is still cleaning up, and during a success's hold.
    // The container shows hotkey and portal failures at any time, also over a running dictation.
    void errorShownByOthersWhileRecordingNeitherEndsNorForksTheDictation() {
        Rig rig;
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        rig.state.notify(QStringLiteral("快捷键不可用"));
        QVERIFY(rig.state.phase().is(DictationPhase::Kind::recording) && rig.state.isTimerRunning());
        // Even an error phase set over it must not end or fork the dictation.
        rig.state.transition(DictationPhase::error(QStringLiteral("快捷键不可用")));
        rig.microphone.deliver("heard");
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.providers.sessions.size(), 1);
        QCOMPARE(rig.providers.sessions.first()->chunks, QList<QByteArray>{"heard"});
        QVERIFY(rig.leftNothing());
    }

    // Hold to talk: a release within the slip time cancels before anything is transcribed or
    // refined, also when it comes while the session still starts; a longer hold dictates.
    void holdShorterThanTheSlipTimeIsCancelledLongerOneDictates_data() {
        QTest::addColumn<int>("startMs");
        QTest::addColumn<int>("holdMs");
        QTest::newRow("slip while recording") << 0 << 0;
        QTest::newRow("held while recording") << 0 << 400;
        QTest::newRow("slip while the session starts") << 200 << 0;
        QTest::newRow("released while the session starts after the slip time") << 500 << 400;
    }
    void holdShorterThanTheSlipTimeIsCancelledLongerOneDictates() {
        QFETCH(int, startMs);
        QFETCH(int, holdMs);
        const bool dictates = holdMs >= 300;
        DictationTiming timing{3000ms, 3000ms, 50ms, 500ms};
        timing.slip = 300ms;
        Rig rig(timing);
        rig.settings.setSaveHistory(true);
        rig.providers.script.delays["start"] = std::chrono::milliseconds(startMs);
        rig.coordinator->beginHold();
        if (startMs == 0) {
            QVERIFY(rig.waitFor(DictationPhase::recording()));
            rig.microphone.deliver("heard");
        }
        QTest::qWait(holdMs);
        rig.coordinator->endHold();
        QVERIFY(rig.waitFor(dictates ? DictationPhase::success() : DictationPhase::cancelled()));
        QVERIFY(rig.waitFor(DictationPhase::idle()));
        QCOMPARE(rig.keyboard.pastes, dictates ? 1 : 0);
        QCOMPARE(rig.providers.sessions.first()->refinement.has_value(), dictates);
        QCOMPARE(test::run(rig.history.allEntries()).size(), dictates ? 1 : 0);
        QVERIFY(rig.leftNothing());
    }

    void toggleStormKeepsOneDictationAndTheMicrophoneOnlyWhileRecording() {
        Rig rig({100ms, 100ms, 5ms, 200ms});
        auto* random = QRandomGenerator::global();
        auto& script = rig.providers.script;
        for (const char* step : {"send", "finish", "refine", "cancel"})
            script.delays[step] = 2ms;
        rig.microphone.failStartWith = [starts = std::make_shared<int>(0)] {
            if (++*starts % 5 == 0) throw NetworkError(NetworkError::cannotConnectToHost);
        };
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
        QVERIFY(test::waitUntil([&] {
            const DictationPhase phase = rig.state.phase();
            if (phase.is(DictationPhase::Kind::recording)) rig.coordinator->toggleDictation();
            return (phase.is(DictationPhase::Kind::idle) || phase.is(DictationPhase::Kind::error)) &&
                   !rig.coordinator->isStarting();
        }, 5000));
        QCOMPARE(violations, 0);
        QVERIFY(rig.leftNothing());
        QCOMPARE(rig.providers.census.maximumAlive, 2); // one transcription and one refinement provider
        QVERIFY(rig.providers.sessions.size() >= 20);
    }
};

QTEST_GUILESS_MAIN(DictationTest)
#include "tst_Dictation.moc"

#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "PasteboardFake.h"
#include "ScriptedProviders.h"
#include "SecretBackendFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "dictation/DictationCoordinatorError.h"
#include "refinement/MockTextRefinementProvider.h"
#include "refinement/RefinementProviderError.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/TextInsertionService.h"
#include "transcription/MockSpeechTranscriptionProvider.h"
#include "transcription/TranscriptionProviderError.h"

#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

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
    // The product's factory, for the cycles that run the real mocks and key checks.
    std::shared_ptr<SecretBackendFake> secrets = std::make_shared<SecretBackendFake>();
    QNetworkAccessManager network;
    SettingsProviderFactory productProviders{
        settings, KeychainStore(secrets), &network, ProviderConfiguration::current(), {1ms, 1ms}};
    QList<DictationPhase> phases;
    std::unique_ptr<DictationCoordinator> coordinator;

    explicit Rig(DictationCoordinator::Timing timing = {200ms, 200ms, 50ms, 500ms},
                 bool useProductProviders = false) {
        coordinator = std::make_unique<DictationCoordinator>(
            state, settings, dictionary, history,
            useProductProviders ? static_cast<DictationProviderFactory&>(productProviders) : providers,
            microphone, insertion, pasteboard, timing);
        QObject::connect(&state, &AppState::phaseChanged,
                         [this](const DictationPhase& phase) { phases << phase; });
    }

    // Providers may outlive the coordinator by a few event-loop turns (their last sends finish);
    // they count themselves in `providers`, so let them go before it does.
    ~Rig() {
        coordinator.reset();
        QDeadlineTimer deadline(3000);
        while (providers.census.alive > 0 && !deadline.hasExpired())
            QTest::qWait(1);
    }

    bool waitFor(const DictationPhase& phase, int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        while (!(state.phase() == phase) && !deadline.hasExpired())
            QTest::qWait(1);
        return state.phase() == phase;
    }
    // Starts a dictation and feeds it `chunks` chunks of 4800 bytes.
    bool record(int chunks = 3) {
        coordinator->toggleDictation();
        if (!waitFor(DictationPhase::recording())) return false;
        for (int i = 0; i < chunks; ++i)
            microphone.deliver(QByteArray(4800, char(i)));
        return true;
    }
    QCoro::Task<QList<HistoryEntry>> historyEntries() { return history.allEntries(); }
};

} // namespace

class DictationCoordinatorTest : public QObject {
    Q_OBJECT
private slots:
    void mockCycleGoesThroughEveryPhase() {
        Rig mock({200ms, 200ms, 50ms, 500ms}, true);
        QVERIFY(mock.record(6)); // past half a second of audio: the mock's partial arrives
        QTRY_COMPARE(mock.state.partialTranscript(), MockSpeechTranscriptionProvider::partialText());
        mock.coordinator->toggleDictation();
        QVERIFY(mock.waitFor(DictationPhase::success()));
        QCOMPARE(mock.pasteboard.string(), MockTextRefinementProvider::smartDictationText());
        QCOMPARE(mock.state.statusDetail(), DictationCoordinator::statusInserted);
        QCOMPARE(mock.keyboard.pastes, 1);
        QVERIFY(mock.waitFor(DictationPhase::idle()));
        QCOMPARE(mock.phases,
                 QList<DictationPhase>({DictationPhase::recording(), DictationPhase::transcribing(),
                                        DictationPhase::refining(), DictationPhase::inserting(),
                                        DictationPhase::success(), DictationPhase::idle()}));
        QCOMPARE(mock.state.rawTranscript(), MockSpeechTranscriptionProvider::transcriptText());
        QCOMPARE(mock.state.finalText(), MockTextRefinementProvider::smartDictationText());
        QVERIFY(!mock.microphone.isRecording());
        QVERIFY(!mock.coordinator->hasSession());
    }

    void keysAreCheckedInOrderBeforeAnySessionOpens() {
        Rig rig;
        rig.environment.unset("OPENAI_API_KEY");
        rig.environment.unset("DEEPSEEK_API_KEY");
        auto& factory = rig.productProviders;
        rig.settings.setUseMockProviders(false);
        rig.settings.setRefinementProvider(RefinementProviderKind::deepSeek);

        rig.environment.set("DEEPSEEK_API_KEY", "sk-deep");
        QVERIFY_THROWS_EXCEPTION(DictationCoordinatorError, factory.makeProviders());
        try {
            factory.makeProviders();
        } catch (const DictationCoordinatorError& error) {
            QCOMPARE(error.kind(), DictationCoordinatorError::Case::missingOpenAIKey); // OpenAI first
        }
        rig.environment.unset("DEEPSEEK_API_KEY");
        rig.environment.set("OPENAI_API_KEY", "sk-open");
        try {
            factory.makeProviders();
            QFAIL("expected the DeepSeek key to be missing");
        } catch (const DictationCoordinatorError& error) {
            QCOMPARE(error.kind(), DictationCoordinatorError::Case::missingDeepSeekKey);
        }
        rig.settings.setRefinementProvider(RefinementProviderKind::openAI);
        const auto providers = factory.makeProviders(); // the OpenAI key serves both
        QVERIFY(providers.transcription && providers.refinement);
    }

    void missingKeyShowsItsMessageAndCopiesThePreviousTranscriptAgain() {
        Rig rig;
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        rig.pasteboard.content = QStringLiteral("别的内容");
        rig.providers.failMake = [] {
            throw DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey);
        };
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::error("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。")));
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("原始转写"));
        QVERIFY(!rig.microphone.isRecording());
        QCOMPARE(rig.providers.census.alive, 0);
    }

    void failuresEndInTheirMessageWithNothingLeftOpen_data() {
        QTest::addColumn<int>("where");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("pasteboard"); // what the clipboard holds afterwards
        QTest::newRow("session cannot open") << 0 << "语音识别失败：quota"
                                             << "";
        QTest::newRow("microphone cannot start") << 1 << "无法连接服务器。"
                                                 << "";
        QTest::newRow("a chunk could not be sent") << 2 << "语音识别连接已断开。"
                                                   << "";
        QTest::newRow("transcription failed") << 3 << "没有识别到有效语音。"
                                              << "";
        QTest::newRow("final transcript too late") << 4 << "AI 处理超时，原始转写已保留到剪贴板。"
                                                   << "";
        QTest::newRow("refinement failed") << 5 << "文字整理服务请求失败（HTTP 500）。"
                                           << "原始转写";
        QTest::newRow("refinement too late") << 6 << "AI 处理超时，原始转写已保留到剪贴板。"
                                             << "原始转写";
    }
    void failuresEndInTheirMessageWithNothingLeftOpen() {
        QFETCH(int, where);
        QFETCH(QString, message);
        QFETCH(QString, pasteboard);
        Rig rig;
        auto& script = rig.providers.transcription;
        switch (where) {
        case 0:
            script.failStart = [] {
                throw TranscriptionProviderError(TranscriptionProviderError::Case::server, "quota");
            };
            break;
        case 1:
            rig.microphone.failStartWith = [] { throw NetworkError(NetworkError::cannotConnectToHost); };
            break;
        case 2:
            script.failSendAfterChunks = 1;
            break;
        case 3:
            script.failFinish = [] {
                throw TranscriptionProviderError(TranscriptionProviderError::Case::emptyTranscript);
            };
            break;
        case 4:
            script.finishNeverAnswers = true;
            break;
        case 5:
            rig.providers.refinement.fail = [] { throw RefinementProviderError::httpStatus(500); };
            break;
        case 6:
            rig.providers.refinement.neverAnswers = true;
            break;
        }
        rig.coordinator->toggleDictation();
        if (where >= 2) {
            QVERIFY(rig.waitFor(DictationPhase::recording()));
            for (int i = 0; i < 3; ++i)
                rig.microphone.deliver(QByteArray(10, 'a'));
            rig.coordinator->toggleDictation();
        }
        QVERIFY(rig.waitFor(DictationPhase::error(message)));
        QCOMPARE(rig.pasteboard.string(), pasteboard);
        QVERIFY(!rig.microphone.isRecording());
        QVERIFY(!rig.coordinator->hasSession());
        QTRY_COMPARE(rig.providers.census.alive, 0); // providers released once their work ended
        if (where >= 1 && where <= 4) QVERIFY(rig.providers.sessions.last()->cancels >= 1);
        QCOMPARE(rig.keyboard.pastes, 0);
    }

    void toggleDuringTheCleanUpOfAFailedStartDoesNotStartAgain_data() {
        QTest::addColumn<bool>("microphoneFails"); // else the session cannot open
        QTest::newRow("microphone") << true;
        QTest::newRow("session") << false;
    }
    void toggleDuringTheCleanUpOfAFailedStartDoesNotStartAgain() {
        QFETCH(bool, microphoneFails);
        Rig rig;
        auto failures = std::make_shared<int>(0);
        if (microphoneFails) {
            rig.microphone.failStartWith = [failures] {
                if ((*failures)++ == 0) throw NetworkError(NetworkError::cannotConnectToHost);
            };
        } else {
            // Only the first session fails; its cancel() takes a moment, as a real socket's does.
            rig.providers.transcription.failStart = [failures] {
                if ((*failures)++ == 0)
                    throw TranscriptionProviderError(TranscriptionProviderError::Case::server, "quota");
            };
            rig.providers.transcription.cancelDelay = 5ms;
        }
        const DictationPhase failed = DictationPhase::error(
            microphoneFails ? QStringLiteral("无法连接服务器。") : QStringLiteral("语音识别失败：quota"));
        rig.coordinator->toggleDictation();
        rig.coordinator->toggleDictation(); // arrives while the failed start still cleans up
        QVERIFY(rig.waitFor(failed));
        QTRY_VERIFY(!rig.coordinator->isStarting());
        // The second press belonged to the failed start: nothing runs under the error.
        QCOMPARE(rig.state.phase(), failed);
        QVERIFY(!rig.microphone.isRecording());
        QVERIFY(!rig.coordinator->hasSession());
        QCOMPARE(rig.providers.census.created, 2);

        rig.coordinator->toggleDictation(); // the next press starts normally
        QVERIFY(rig.waitFor(DictationPhase::recording()));
    }

    void copiedOnlyStillSucceeds() {
        Rig rig;
        rig.keyboard.available = false;
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.state.statusDetail(), QStringLiteral("无法自动粘贴，结果已保留在剪贴板"));
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("整理后的文字"));
    }

    void aRefusedClipboardSaysWhereTheTextIsAndTheTrayCanStillCopyIt() {
        Rig rig;
        rig.pasteboard.accepts = false;
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.state.statusDetail(),
                 QStringLiteral("无法写入剪贴板，请在托盘面板中点击“复制最近结果”"));
        QCOMPARE(rig.keyboard.postAttempts, 0);
        // The panel has the focus when its button is pressed, so the session takes the write then.
        rig.pasteboard.accepts = true;
        rig.coordinator->copyBestAvailableText();
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("整理后的文字"));
    }

    void historyIsWrittenOnlyWhenOnAndOnlyForSuccess() {
        Rig rig;
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::idle()));
        QVERIFY(test::run(rig.historyEntries()).isEmpty());

        rig.settings.setSaveHistory(true);
        rig.settings.setInputMode(InputMode::translateToEnglish);
        QVERIFY(rig.record());
        rig.state.setRecordingDuration(2.5); // what the overlay showed when stop began
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::idle()));
        const auto entries = test::run(rig.historyEntries());
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().text, QStringLiteral("整理后的文字"));
        QCOMPARE(entries.first().mode, InputMode::translateToEnglish);
        QCOMPARE(entries.first().audioDuration, 2.5);
        QVERIFY(entries.first().completionLatency >= 0 && entries.first().completionLatency < 1.0);
        QCOMPARE(rig.providers.refinementRequests->last().mode, InputMode::translateToEnglish);
        QCOMPARE(rig.providers.refinementRequests->last().glossary, QStringLiteral("（无个人词典）"));

        rig.providers.refinement.fail = [] { throw RefinementProviderError::httpStatus(502); };
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::error("文字整理服务请求失败（HTTP 502）。")));
        QCOMPARE(test::run(rig.historyEntries()).size(), 1);
    }

    void copyBestAvailableText() {
        Rig rig;
        rig.coordinator->copyBestAvailableText();
        QVERIFY(rig.pasteboard.operations.isEmpty()); // nothing to copy: untouched
        rig.state.setRawTranscript("原始");
        rig.coordinator->copyBestAvailableText();
        QCOMPARE(rig.pasteboard.operations, QStringList({"clear", "set:原始"}));
        rig.state.setFinalText("最终");
        rig.coordinator->copyBestAvailableText();
        QCOMPARE(rig.pasteboard.string(), QStringLiteral("最终"));
    }

    void sessionGetsContextAndChunksInOrder() {
        Rig rig({3000ms, 200ms, 50ms, 500ms});
        DictionaryEntry entry;
        entry.canonical = QStringLiteral("Murmelo");
        entry.aliases = {QStringLiteral("木木咯")};
        rig.dictionary.add(entry);
        rig.providers.transcription.sendDelay = 2ms; // the provider is slower than the microphone
        rig.providers.transcription.partialsOnFirstChunk = {"你", "好"};
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        for (int i = 0; i < 200; ++i)
            rig.microphone.deliver(QByteArray::number(i));
        QTRY_COMPARE(rig.state.partialTranscript(), QStringLiteral("你好"));
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        const auto& session = *rig.providers.sessions.first();
        QCOMPARE(session.context->prompt, DictationCoordinator::contextPrompt);
        QCOMPARE(session.context->keywords, QStringList({"Murmelo", "木木咯"}));
        QCOMPARE(session.context->languages, QStringList({"zh-cn", "en"}));
        QCOMPARE(session.chunks.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(session.chunks.at(i), QByteArray::number(i));
    }

    void togglesWhileProcessingDoNothing() {
        Rig rig;
        rig.providers.transcription.finishDelay = 60ms;
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::transcribing()));
        rig.coordinator->toggleDictation();
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        QCOMPARE(rig.providers.census.created, 2);
        QCOMPARE(rig.microphone.starts, 1);
    }

    void dictationStartedDuringTheSuccessHoldKeepsRecording() {
        Rig rig({200ms, 200ms, 80ms, 500ms});
        QVERIFY(rig.record());
        rig.coordinator->toggleDictation();
        QVERIFY(rig.waitFor(DictationPhase::success()));
        rig.coordinator->toggleDictation(); // a toggle while success shows starts at once
        QVERIFY(rig.waitFor(DictationPhase::recording()));
        QTest::qWait(150); // longer than the first dictation's hold
        QCOMPARE(rig.state.phase(), DictationPhase::recording());
        QVERIFY(rig.microphone.isRecording());
    }

    void toggleStormKeepsTheInvariants() {
        Rig rig({100ms, 100ms, 5ms, 200ms});
        auto* random = QRandomGenerator::global();
        rig.providers.transcription.sendDelay = 1ms;
        rig.providers.transcription.finishDelay = 3ms;
        rig.providers.refinement.delay = 3ms;
        // Every fifth microphone start fails, and a session takes a moment to cancel: toggles also
        // land while a failed start is still cleaning up.
        auto microphoneStarts = std::make_shared<int>(0);
        rig.microphone.failStartWith = [microphoneStarts] {
            if (++*microphoneStarts % 5 == 0) throw NetworkError(NetworkError::cannotConnectToHost);
        };
        rig.providers.transcription.cancelDelay = 2ms;
        int violations = 0;
        QObject::connect(&rig.state, &AppState::phaseChanged, [&](const DictationPhase& phase) {
            // The microphone may only run while recording (it starts just before the phase flips).
            if (!phase.is(DictationPhase::Kind::recording) && rig.microphone.isRecording()) ++violations;
        });
        for (int i = 0; i < 200; ++i) {
            rig.coordinator->toggleDictation();
            const int pause = random->bounded(8);
            for (int t = 0; t < pause; ++t) {
                rig.microphone.deliver(QByteArray(64, 'x'));
                QTest::qWait(1);
            }
            if (i % 50 == 17) rig.providers.transcription.failSendAfterChunks = random->bounded(3);
            if (i % 50 == 30) rig.providers.transcription.failSendAfterChunks.reset();
        }
        // Let the last dictation finish, whatever state it is in (a start may still be under way).
        QDeadlineTimer settle(5000);
        while (!settle.hasExpired()) {
            const DictationPhase phase = rig.state.phase();
            if (phase.is(DictationPhase::Kind::recording)) rig.coordinator->toggleDictation();
            const bool resting =
                phase.is(DictationPhase::Kind::idle) || phase.is(DictationPhase::Kind::error);
            if (resting && !rig.coordinator->isStarting()) break;
            QTest::qWait(5);
        }
        QCOMPARE(violations, 0);
        QVERIFY(!rig.microphone.isRecording());
        QCOMPARE(rig.providers.census.maximumAlive, 2); // one transcription and one refinement provider
        QTRY_COMPARE(rig.providers.census.alive, 0);
        QVERIFY(!rig.coordinator->hasSession());
        for (const auto& session : rig.providers.sessions)
            QVERIFY(!session->sessionOpen);
        QVERIFY(rig.providers.census.created >= 20);
    }
};

QTEST_GUILESS_MAIN(DictationCoordinatorTest)
#include "tst_DictationCoordinator.moc"

#include "AsyncTest.h"
#include "refinement/MockTextRefinementProvider.h"
#include "transcription/MockSpeechTranscriptionProvider.h"
#include "transcription/TranscriptionProviderError.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class MockProvidersTest : public QObject {
    Q_OBJECT

    static QCoro::Task<> sendAll(MockSpeechTranscriptionProvider& provider, QList<int> sizes) {
        for (int size : sizes) co_await provider.sendAudio(QByteArray(size, '\1'));
    }

private slots:
    void partialIsDeliveredOnceBySecondChunkPastTheThreshold() {
        MockSpeechTranscriptionProvider provider(0ms);
        QStringList partials;
        test::run(provider.start(TranscriptionContext::standard(), [&](const QString& delta) { partials << delta; }));
        test::run(sendAll(provider, {4800, 4800, 4800, 4800, 4800}));
        QCOMPARE(provider.receivedBytes(), 24000);
        QVERIFY(partials.isEmpty()); // exactly at the threshold: nothing yet
        test::run(sendAll(provider, {4800}));
        QCOMPARE(partials, QStringList{MockSpeechTranscriptionProvider::partialText()});
        test::run(sendAll(provider, {4800, 4800}));
        QCOMPARE(partials.size(), 1);
    }

    void largeFirstChunkDeliversThePartialAtOnce() {
        MockSpeechTranscriptionProvider provider(0ms);
        int partials = 0;
        test::run(provider.start({}, [&](const QString&) { ++partials; }));
        test::run(sendAll(provider, {24001}));
        QCOMPARE(partials, 1);
    }

    void finishWithoutAudioReturnsTheTranscriptAfterTheDelay() {
        MockSpeechTranscriptionProvider provider(30ms);
        test::run(provider.start({}, {}));
        QElapsedTimer clock;
        clock.start();
        const auto result = test::run(provider.finish());
        QVERIFY(clock.elapsed() >= 29);
        QCOMPARE(result, (TranscriptionResult{MockSpeechTranscriptionProvider::transcriptText(), {"zh-cn"}}));
        QVERIFY(!provider.isStarted());
    }

    void sessionRulesAreEnforced() {
        MockSpeechTranscriptionProvider provider(0ms);
        using Case = TranscriptionProviderError::Case;
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.sendAudio("x"))->kind(), Case::notStarted);
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.finish())->kind(), Case::notStarted);
        test::run(provider.start({}, {}));
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.start({}, {}))->kind(),
                 Case::alreadyStarted);
        test::run(provider.cancel());
        test::run(provider.cancel()); // never fails, also when closed
        test::run(provider.start({}, {}));
        QVERIFY(provider.isStarted());
    }

    void cancelEndsAPendingFinishWithCancellation() {
        MockSpeechTranscriptionProvider provider(10s);
        test::run(provider.start({}, {}));
        QTimer::singleShot(10ms, [&] { test::run(provider.cancel()); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(test::runExpectingError<CancellationError>(provider.finish()));
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!provider.isStarted());
    }

    void refinementAnswersByModeWhateverTheText() {
        MockTextRefinementProvider provider(0ms);
        QCOMPARE(test::run(provider.refine({"anything", InputMode::translateToEnglish, "glossary"})),
                 MockTextRefinementProvider::translationText());
        const QString smart = test::run(provider.refine({"", InputMode::smartDictation, ""}));
        QCOMPARE(smart, MockTextRefinementProvider::smartDictationText());
        QVERIFY(smart.startsWith(QStringLiteral("我想做一个语音输入工具，重点包括：\n\n1. 响应速度足够快；\n2. ")));
        QVERIFY(!smart.endsWith('\n'));
    }

    void refinementWaitCanBeCancelled() {
        MockTextRefinementProvider provider(10s);
        QTimer::singleShot(10ms, [&] { provider.cancel(); });
        QVERIFY(test::runExpectingError<CancellationError>(provider.refine({})));
    }
};

QTEST_GUILESS_MAIN(MockProvidersTest)
#include "tst_MockProviders.moc"

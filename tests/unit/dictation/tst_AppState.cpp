#include "dictation/AppState.h"

#include <QSignalSpy>
#include <QTest>

using namespace murmelo;

class AppStateTest : public QObject {
    Q_OBJECT

    QDateTime m_now = QDateTime(QDate(2026, 12, 6), QTime(8, 0), Qt::UTC);
    AppState::Clock clock() {
        return [this] { return m_now; };
    }

private slots:
    void startsIdleAndEmpty() {
        AppState state;
        QCOMPARE(state.phase(), DictationPhase::idle());
        QCOMPARE(state.recordingDuration(), 0.0);
        QVERIFY(state.partialTranscript().isEmpty() && state.rawTranscript().isEmpty());
        QVERIFY(state.finalText().isEmpty() && state.statusDetail().isEmpty());
        QVERIFY(!state.isTimerRunning());
    }

    void phasesCompareByCaseAndMessage() {
        QCOMPARE(DictationPhase::error("a"), DictationPhase::error("a"));
        QVERIFY(DictationPhase::error("a") != DictationPhase::error("b"));
        QVERIFY(DictationPhase::error("") != DictationPhase::idle());
        QVERIFY(DictationPhase::recording() != DictationPhase::transcribing());
    }

    void durationIsMeasuredOnTheWallClockFromTheStart() {
        AppState state(nullptr, clock());
        state.setRawTranscript("old raw");
        state.setStatusDetail("old status");
        state.beginRecording();
        QCOMPARE(state.phase(), DictationPhase::recording());
        QVERIFY(state.rawTranscript().isEmpty() && state.statusDetail().isEmpty());
        QVERIFY(state.isTimerRunning());
        // The clock jumps 2.5 s between ticks: the next tick shows the true elapsed time, not 0.1 s.
        m_now = m_now.addMSecs(2500);
        QSignalSpy ticks(&state, &AppState::recordingDurationChanged);
        QVERIFY(ticks.wait(1000));
        QCOMPARE(state.recordingDuration(), 2.5);
    }

    void repeatedBeginKeepsExactlyOneTimer() {
        AppState state(nullptr, clock());
        state.beginRecording();
        state.beginRecording();
        state.beginRecording();
        QVERIFY(state.isTimerRunning());
        QSignalSpy ticks(&state, &AppState::recordingDurationChanged);
        QTest::qWait(550);
        // One timer at 100 ms gives about five ticks in 550 ms; three timers would give about fifteen.
        QVERIFY2(ticks.size() >= 3 && ticks.size() <= 7, qPrintable(QString::number(ticks.size())));
    }

    void leavingRecordingFreezesTheDurationAndStopsTheTimer() {
        AppState state(nullptr, clock());
        state.beginRecording();
        m_now = m_now.addMSecs(1200);
        QSignalSpy ticks(&state, &AppState::recordingDurationChanged);
        QVERIFY(ticks.wait(1000));
        state.transition(DictationPhase::transcribing());
        QVERIFY(!state.isTimerRunning());
        QVERIFY(!state.recordingStartedAt());
        m_now = m_now.addSecs(10);
        QTest::qWait(250);
        QCOMPARE(state.recordingDuration(), 1.2);
        // Entering recording by transition alone does not restart anything.
        state.transition(DictationPhase::recording());
        QVERIFY(!state.isTimerRunning());
    }

    void resetKeepsTheResultsForCopying() {
        AppState state(nullptr, clock());
        state.beginRecording();
        state.appendPartialTranscript("你好");
        state.appendPartialTranscript("世界");
        QCOMPARE(state.partialTranscript(), QStringLiteral("你好世界"));
        state.setRawTranscript("raw");
        state.setFinalText("final");
        state.setStatusDetail("已写入当前应用");
        state.transition(DictationPhase::success());
        state.reset();
        QCOMPARE(state.phase(), DictationPhase::idle());
        QCOMPARE(state.recordingDuration(), 0.0);
        QVERIFY(state.partialTranscript().isEmpty());
        QVERIFY(state.statusDetail().isEmpty());
        QCOMPARE(state.rawTranscript(), QStringLiteral("raw"));
        QCOMPARE(state.finalText(), QStringLiteral("final"));
        QVERIFY(!state.isTimerRunning());
    }

    void everyPublishedChangeIsSignalled() {
        AppState state;
        QSignalSpy phases(&state, &AppState::phaseChanged);
        QSignalSpy any(&state, &AppState::changed);
        state.transition(DictationPhase::error("失败"));
        QCOMPARE(phases.size(), 1);
        QCOMPARE(phases.first().first().value<DictationPhase>(), DictationPhase::error("失败"));
        state.reset();
        QCOMPARE(any.size(), 1 + 4); // error; then idle, partial, duration, status
    }
};

QTEST_GUILESS_MAIN(AppStateTest)
#include "tst_AppState.moc"

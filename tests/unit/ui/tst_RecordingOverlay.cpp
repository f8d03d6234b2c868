#include "OverlayWindowController.h"
#include "RecordingOverlayView.h"
#include "dictation/AppState.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace murmelo;

class RecordingOverlayTest : public QObject {
    Q_OBJECT
private slots:
    void durationFormat_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "00:00";
        QTest::newRow("just under a minute") << 59.99 << "00:59";
        QTest::newRow("a minute") << 60.0 << "01:00";
        QTest::newRow("truncated") << 75.9 << "01:15";
        QTest::newRow("minutes not capped") << 3725.0 << "62:05";
        QTest::newRow("negative") << -3.0 << "00:00";
        QTest::newRow("not a number") << qQNaN() << "00:00";
        QTest::newRow("infinite") << qInf() << "00:00";
    }
    void durationFormat() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(RecordingOverlayView::formatDuration(seconds), text);
    }

    void detailLineFollowsThePhase() {
        AppState state;
        RecordingOverlayView view(state);
        state.beginRecording();
        state.setPartialTranscript("部分");
        state.setRecordingDuration(75.9);
        QCOMPARE(view.titleText(), QStringLiteral("正在录音"));
        QCOMPARE(view.detailText(), QStringLiteral("01:15")); // no partial text while recording
        QVERIFY(view.isPulsing());
        state.transition(DictationPhase::transcribing());
        QVERIFY(!view.isPulsing());
        QCOMPARE(view.detailText(), QStringLiteral("部分"));
        state.setStatusDetail("状态");
        QCOMPARE(view.detailText(), QStringLiteral("状态"));
        state.transition(DictationPhase::error("语音识别连接已断开。"));
        QCOMPARE(view.titleText(), QStringLiteral("语音识别连接已断开。"));
        QCOMPARE(view.detailText(), QStringLiteral("状态"));
        state.setStatusDetail("");
        state.setPartialTranscript("");
        state.transition(DictationPhase::success());
        QCOMPARE(view.titleText(), QStringLiteral("已完成"));
        QVERIFY(view.detailText().isEmpty());
    }

    void showsOnEachDistinctPhaseAndHidesAtIdle() {
        AppState state;
        OverlayWindowController controller(state);
        QSignalSpy presented(&controller, &OverlayWindowController::presented);
        QVERIFY(!controller.view().isVisible());
        state.beginRecording();
        QVERIFY(controller.view().isVisible());
        QCOMPARE(presented.size(), 1);
        state.transition(DictationPhase::recording()); // equal phase: nothing new
        QCOMPARE(presented.size(), 1);
        state.transition(DictationPhase::error("a"));
        state.transition(DictationPhase::error("b"));
        QCOMPARE(presented.size(), 3);
        state.reset();
        QVERIFY(!controller.view().isVisible());
    }

    void whereItWouldTakeTheFocusItLeavesBeforeThePaste() {
        AppState state;
        OverlayWindowController controller(state, {}, true, std::chrono::milliseconds(50));
        state.beginRecording();
        QVERIFY(controller.view().isVisible());
        for (const DictationPhase& phase : {DictationPhase::transcribing(), DictationPhase::refining(),
                                            DictationPhase::inserting(), DictationPhase::success()}) {
            state.transition(phase);
            QVERIFY2(!controller.view().isVisible(), qPrintable(phase.message()));
        }
        state.transition(DictationPhase::error(QStringLiteral("网络连接已中断。")));
        QVERIFY(controller.view().isVisible());
        // The error leaves on its own, so that typing goes back to the user's window.
        QTRY_VERIFY_WITH_TIMEOUT(!controller.view().isVisible(), 5000);
        state.beginRecording(); // a new dictation shows it again, and the old hold does not hide it
        QTest::qWait(100);
        QVERIFY(controller.view().isVisible());
    }

    void sitsCentredAboveTheBottomOfTheScreen() {
        AppState state;
        OverlayWindowController controller(state);
        state.beginRecording();
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = controller.view().geometry();
        QVERIFY(qAbs(frame.center().x() - available.center().x()) <= 1);
        QCOMPARE(frame.bottom() + 1, available.bottom() + 1 - OverlayWindowController::bottomOffset);
        // A long CJK transcript after the monospace timer widens it; it stays centred and keeps its
        // height, as it does in a phase without any detail line.
        state.transition(DictationPhase::transcribing());
        state.setPartialTranscript(QString(300, QChar(0x5B57)));
        const QRect wider = controller.view().geometry();
        QVERIFY(qAbs(wider.center().x() - available.center().x()) <= 1);
        QVERIFY(wider.width() < available.width());
        QCOMPARE(wider.height(), frame.height());
        state.setPartialTranscript(QString());
        QCOMPARE(controller.view().geometry().height(), frame.height());
    }

    void neverTakesFocus() {
        AppState state;
        OverlayWindowController controller(state);
        state.beginRecording();
        const auto flags = controller.view().windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(controller.view().testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(!controller.view().isActiveWindow());
    }

    void savesPictures() {
        // Artefacts for a person to look at; not an assertion of looks.
        const QString directory = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/artifacts/overlay";
        QDir().mkpath(directory);
        AppState state;
        RecordingOverlayView view(state);
        state.beginRecording();
        state.setRecordingDuration(75.9);
        QVERIFY(view.grab().save(directory + "/recording.png"));
        state.transition(DictationPhase::transcribing());
        state.setPartialTranscript("这是一个用于验证完整流程的模拟转写。");
        QVERIFY(view.grab().save(directory + "/transcribing.png"));
        state.transition(DictationPhase::error("AI 处理超时，原始转写已保留到剪贴板。"));
        QVERIFY(view.grab().save(directory + "/error.png"));
    }
};

QTEST_MAIN(RecordingOverlayTest)
#include "tst_RecordingOverlay.moc"

#include "MenuBarView.h"
#include "OverlayWindowController.h"
#include "RecordingOverlayView.h"
#include "TestEnvironment.h"
#include "TrayIcon.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace murmelo;

// The tray panel, the tray menu and the recording overlay over a real AppState. Their texts are
// seen by the desktop tests.
class TrayAndOverlayTest : public QObject {
    Q_OBJECT

private slots:
    void startStopIsRefusedOnlyWhileProcessing_data() {
        QTest::addColumn<DictationPhase>("phase");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("idle") << DictationPhase::idle() << true;
        QTest::newRow("recording") << DictationPhase::recording() << true;
        QTest::newRow("transcribing") << DictationPhase::transcribing() << false;
        QTest::newRow("refining") << DictationPhase::refining() << false;
        QTest::newRow("inserting") << DictationPhase::inserting() << false;
        QTest::newRow("error") << DictationPhase::error("出错了") << true;
    }
    void startStopIsRefusedOnlyWhileProcessing() {
        QFETCH(DictationPhase, phase);
        QFETCH(bool, enabled);
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        AppState state;
        state.transition(phase);
        int toggles = 0;
        const MenuActions actions{[&] { ++toggles; }, [] {}, [] {}, [] {}, [] { return true; }};
        MenuBarView panel(state, settings, actions);
        auto* button = panel.findChild<QPushButton*>("startStopButton");
        QCOMPARE(button->isEnabled(), enabled);
        button->click();
        QCOMPARE(toggles, enabled ? 1 : 0);
        TrayIcon tray(state, settings, actions);
        QCOMPARE(tray.menu().findChild<QAction*>("startStopAction")->isEnabled(), enabled);
    }

    void durationIsWholeMinutesAndSecondsNeverNegative_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("minutes not capped") << 3725.0 << "62:05";
        QTest::newRow("negative") << -3.0 << "00:00";
        QTest::newRow("not a number") << qQNaN() << "00:00";
    }
    void durationIsWholeMinutesAndSecondsNeverNegative() {
        QFETCH(double, seconds);
        QTEST(RecordingOverlayView::formatDuration(seconds), "text");
    }

    void showsOnEachNewPhaseWithTimerThenTranscriptAndHidesAtIdle() {
        AppState state;
        OverlayWindowController controller(state);
        const RecordingOverlayView& view = controller.view();
        QSignalSpy presented(&controller, &OverlayWindowController::presented);
        state.beginRecording();
        QVERIFY(view.isVisible());
        QVERIFY(view.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        state.setPartialTranscript("部分");
        state.setRecordingDuration(75.9);
        QCOMPARE(view.detailText(), QStringLiteral("01:15"));
        QVERIFY(view.isPulsing());
        state.transition(DictationPhase::recording()); // equal phase: nothing new
        state.transition(DictationPhase::transcribing());
        QVERIFY(!view.isPulsing());
        QCOMPARE(view.detailText(), QStringLiteral("部分"));
        state.setStatusDetail("状态");
        QCOMPARE(view.detailText(), QStringLiteral("状态"));
        state.transition(DictationPhase::error("a"));
        state.transition(DictationPhase::error("b"));
        QCOMPARE(presented.size(), 4);
        state.reset();
        QVERIFY(!view.isVisible());
    }

    void whereItWouldTakeTheFocusItLeavesBeforeThePaste() {
        AppState state;
        OverlayWindowController controller(state, {}, true, std::chrono::milliseconds(50));
        state.beginRecording();
        for (const DictationPhase& phase : {DictationPhase::transcribing(), DictationPhase::refining(),
                                            DictationPhase::inserting(), DictationPhase::success()}) {
            state.transition(phase);
            QVERIFY2(!controller.view().isVisible(), qPrintable(phase.message()));
        }
        state.transition(DictationPhase::error(QStringLiteral("网络连接已中断。")));
        // The error leaves on its own, so that typing goes back to the user's window.
        QTRY_VERIFY_WITH_TIMEOUT(!controller.view().isVisible(), 5000);
        state.beginRecording(); // a new dictation shows it again, and the old hold does not hide it
        QTest::qWait(100);
        QVERIFY(controller.view().isVisible());
    }

    void sitsCentredAboveTheBottomWithOneHeight() {
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
};

QTEST_MAIN(TrayAndOverlayTest)
#include "tst_TrayAndOverlay.moc"

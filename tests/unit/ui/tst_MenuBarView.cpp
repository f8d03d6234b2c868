#include "MenuBarView.h"
#include "TestEnvironment.h"
#include "TrayIcon.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace murmelo;

class MenuBarViewTest : public QObject {
    Q_OBJECT

    struct Fixture {
        test::TestEnvironment environment;
        UserDefaults defaults{environment.root() + "/settings.json"};
        AppState state;
        AppSettings settings{defaults};
        int toggles = 0, copies = 0, settingsOpened = 0;
        bool canPaste = true;
        MenuBarView panel{state, settings,
                          MenuActions{[this] { ++toggles; }, [this] { ++copies; },
                                      [this] { ++settingsOpened; }, [] {}, [this] { return canPaste; }}};

        QPushButton* button(const char* name) { return panel.findChild<QPushButton*>(name); }
        QLabel* label(const char* name) { return panel.findChild<QLabel*>(name); }
        // Visible within the panel (the panel itself is not shown in these tests).
        bool shown(QWidget* widget) { return widget->isVisibleTo(&panel); }
    };

private slots:
    void startStopFollowsThePhase_data() {
        QTest::addColumn<DictationPhase>("phase");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("idle") << DictationPhase::idle() << "开始语音输入" << true;
        QTest::newRow("recording") << DictationPhase::recording() << "停止并处理" << true;
        QTest::newRow("transcribing") << DictationPhase::transcribing() << "开始语音输入" << false;
        QTest::newRow("refining") << DictationPhase::refining() << "开始语音输入" << false;
        QTest::newRow("inserting") << DictationPhase::inserting() << "开始语音输入" << false;
        QTest::newRow("success") << DictationPhase::success() << "开始语音输入" << true;
        QTest::newRow("error") << DictationPhase::error("出错了") << "开始语音输入" << true;
    }
    void startStopFollowsThePhase() {
        QFETCH(DictationPhase, phase);
        QFETCH(QString, title);
        QFETCH(bool, enabled);
        Fixture f;
        f.state.transition(phase);
        QCOMPARE(f.button("startStopButton")->text(), title);
        QCOMPARE(f.button("startStopButton")->isEnabled(), enabled);
        if (enabled) {
            f.button("startStopButton")->click();
            QCOMPARE(f.toggles, 1);
        }
    }

    void headerShowsPhaseAndHotkey() {
        Fixture f;
        QCOMPARE(f.label("phaseTitle")->text(), QStringLiteral("准备就绪"));
        QCOMPARE(f.label("hotkeyLine")->text(), QStringLiteral("⌃⌥Space 开始 / 停止"));
        f.settings.setHotkeyPreset(HotkeyPreset::commandShiftSpace);
        QCOMPARE(f.label("hotkeyLine")->text(), QStringLiteral("⌘⇧Space 开始 / 停止"));
        f.state.transition(DictationPhase::error("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。"));
        QCOMPARE(f.label("phaseTitle")->text(),
                 QStringLiteral("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。"));
    }

    void copyAndStatusAppearOnlyWithText() {
        Fixture f;
        QVERIFY(!f.shown(f.button("copyButton")));
        QVERIFY(!f.shown(f.label("statusLine")));
        f.state.setRawTranscript("原始");
        QVERIFY(f.shown(f.button("copyButton")));
        f.button("copyButton")->click();
        QCOMPARE(f.copies, 1);
        f.state.setRawTranscript("");
        f.state.setFinalText("最终");
        QVERIFY(f.shown(f.button("copyButton")));
        f.state.setStatusDetail("无法自动粘贴，结果已保留在剪贴板");
        QVERIFY(f.shown(f.label("statusLine")));
        QCOMPARE(f.label("statusLine")->text(), QStringLiteral("无法自动粘贴，结果已保留在剪贴板"));
    }

    void modePickerWritesTheSettingAtOnce() {
        Fixture f;
        auto* picker = f.panel.findChild<QComboBox*>("modePicker");
        QCOMPARE(picker->count(), 2);
        QCOMPARE(picker->itemText(0), QStringLiteral("智能口述"));
        QCOMPARE(picker->itemText(1), QStringLiteral("中文转英文"));
        picker->setCurrentIndex(1);
        emit picker->activated(1);
        QCOMPARE(f.settings.inputMode(), InputMode::translateToEnglish);
        QCOMPARE(f.defaults.value(AppSettings::inputModeKey), QJsonValue("translateToEnglish"));
        f.settings.setInputMode(InputMode::smartDictation);
        QCOMPARE(picker->currentIndex(), 0);
    }

    void accessibilityButtonExplainsWhenPasteIsUnavailable() {
        Fixture f;
        QVERIFY(!f.shown(f.button("accessibilityButton")));
        f.canPaste = false;
        f.panel.rebuild();
        QVERIFY(f.shown(f.button("accessibilityButton")));
        QVERIFY(!f.shown(f.label("accessibilityNote")));
        f.button("accessibilityButton")->click();
        QVERIFY(f.shown(f.label("accessibilityNote")));
        QVERIFY(f.label("accessibilityNote")->text().contains("X11"));
        f.canPaste = true;
        f.panel.rebuild();
        QVERIFY(!f.shown(f.button("accessibilityButton")));
    }

    void panelKeepsItsWidth() {
        Fixture f;
        f.state.setStatusDetail(QString(400, QChar(0x5B57)));
        QCOMPARE(f.panel.width(), MenuBarView::panelWidth);
    }

    void trayMenuReflectsTheSameState() {
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppState state;
        AppSettings settings(defaults);
        int toggles = 0;
        TrayIcon tray(state, settings,
                      MenuActions{[&] { ++toggles; }, [] {}, [] {}, [] {}, [] { return true; }});
        auto* startStop = tray.menu().findChild<QAction*>("startStopAction");
        QCOMPARE(startStop->text(), QStringLiteral("开始语音输入"));
        state.transition(DictationPhase::recording());
        QCOMPARE(startStop->text(), QStringLiteral("停止并处理"));
        QVERIFY(tray.icon().toolTip().contains(QStringLiteral("正在录音")));
        state.transition(DictationPhase::refining());
        QVERIFY(!startStop->isEnabled());
        QVERIFY(!tray.menu().findChild<QAction*>("copyAction")->isVisible());
        state.setFinalText("x");
        tray.refreshMenu();
        QVERIFY(tray.menu().findChild<QAction*>("copyAction")->isVisible());
        state.transition(DictationPhase::idle());
        startStop->trigger();
        QCOMPARE(toggles, 1);
    }
};

QTEST_MAIN(MenuBarViewTest)
#include "tst_MenuBarView.moc"

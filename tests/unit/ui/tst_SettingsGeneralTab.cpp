#include "AsyncTest.h"
#include "HotkeyBackendFake.h"
#include "SettingsFixture.h"
#include "common/Error.h"
#include "system/GlobalHotkeyService.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTabBar>

using namespace murmelo;
using test::SettingsFixture;

namespace {

QStringList items(const QComboBox* picker) {
    QStringList texts;
    for (int i = 0; i < picker->count(); ++i)
        texts.append(picker->itemText(i));
    return texts;
}

// What the application container does with the hotkey setting: registers each new preset and,
// when the system refuses it, puts the still-registered one back into the setting.
struct HotkeyContainer {
    HotkeyBackendFake backend;
    GlobalHotkeyService service{backend};
    HotkeyPreset active = HotkeyPreset::controlOptionSpace;
    QObject context;

    HotkeyContainer(AppSettings& settings, Qt::ConnectionType connection) {
        service.registerHotkey(active, [] {});
        QObject::connect(
            &settings, &AppSettings::hotkeyPresetChanged, &context,
            [this, &settings](HotkeyPreset preset) {
                if (preset == active) return;
                try {
                    service.registerHotkey(preset, [] {});
                    active = preset;
                } catch (const GlobalHotkeyError&) {
                    settings.setHotkeyPreset(active);
                    settings.persist();
                }
            },
            connection);
    }
};

} // namespace

class SettingsGeneralTabTest : public QObject {
    Q_OBJECT

private slots:
    void windowHasFourTabsAtItsFixedSize() {
        SettingsFixture f;
        QCOMPARE(f.view->size(), QSize(620, 460));
        QCOMPARE(f.view->minimumSize(), f.view->maximumSize());
        QTabWidget* tabs = f.view->tabs();
        QCOMPARE(tabs->count(), 4);
        const QStringList titles{"常规", "API", "词典", "历史"};
        for (int i = 0; i < tabs->count(); ++i) {
            QCOMPARE(tabs->tabText(i), titles[i]);
            QVERIFY2(!tabs->tabIcon(i).pixmap(16, 16).isNull(), qPrintable(titles[i]));
        }
        f.openTab(2);
        QCOMPARE(f.view->windowTitle(), QStringLiteral("词典"));
    }

    void everyControlWritesThroughAtOnce() {
        SettingsFixture f;
        // Filling the pickers is no choice of the user's: nothing is written by building the window.
        QVERIFY(!QFile::exists(f.environment.root() + QStringLiteral("/settings.json")));
        f.find<QComboBox>("inputModePicker")->setCurrentIndex(1);
        QCOMPARE(f.settings.inputMode(), InputMode::translateToEnglish);
        f.find<QCheckBox>("mockSwitch")->click();
        QVERIFY(!f.settings.useMockProviders());
        f.find<QCheckBox>("saveHistorySwitch")->click();
        QVERIFY(f.settings.saveHistory());
        // On disk already, nothing to apply.
        UserDefaults stored(f.environment.root() + QStringLiteral("/settings.json"));
        QCOMPARE(stored.string(AppSettings::inputModeKey), QStringLiteral("translateToEnglish"));
        QCOMPARE(stored.value(AppSettings::useMockProvidersKey), QJsonValue(false));
        QCOMPARE(stored.value(AppSettings::saveHistoryKey), QJsonValue(true));

        // And the controls follow changes made elsewhere (the tray panel's mode picker).
        f.settings.setInputMode(InputMode::smartDictation);
        QCOMPARE(f.find<QComboBox>("inputModePicker")->currentText(), QStringLiteral("智能口述"));
        QCOMPARE(items(f.find<QComboBox>("inputModePicker")), QStringList({"智能口述", "中文转英文"}));
    }

    void providerNoteSwitchesAtOnce() {
        SettingsFixture f;
        auto* provider = f.find<QComboBox>("refinementProviderPicker");
        QCOMPARE(items(provider), QStringList({"DeepSeek", "OpenAI"}));
        QCOMPARE(f.find<QLabel>("providerNote")->text(),
                 QStringLiteral("使用独立 DeepSeek Key，默认采用非思考模式。"));
        provider->setCurrentIndex(1);
        QCOMPARE(f.settings.refinementProvider(), RefinementProviderKind::openAI);
        QCOMPARE(f.find<QLabel>("providerNote")->text(),
                 QStringLiteral("转写和整理共用一个 OpenAI Key，便于先跑通真实流程。"));
        QCOMPARE(f.find<QLabel>("mockHelp")->text(),
                 QStringLiteral("开启后无需 API 请求即可测试录音、状态机、整理和粘贴。"));
    }

    void hotkeyPickerSpringsBackAfterARefusedPreset_data() {
        QTest::addColumn<bool>("containerFirst");
        QTest::addColumn<Qt::ConnectionType>("connection");
        QTest::newRow("container subscribed first") << true << Qt::DirectConnection;
        QTest::newRow("window subscribed first") << false << Qt::DirectConnection;
        QTest::newRow("container answers later") << true << Qt::QueuedConnection;
    }
    void hotkeyPickerSpringsBackAfterARefusedPreset() {
        QFETCH(bool, containerFirst);
        QFETCH(Qt::ConnectionType, connection);
        SettingsFixture f({.buildView = false});
        std::unique_ptr<HotkeyContainer> container;
        if (containerFirst) container = std::make_unique<HotkeyContainer>(f.settings, connection);
        f.build();
        if (!containerFirst) container = std::make_unique<HotkeyContainer>(f.settings, connection);
        auto* picker = f.find<QComboBox>("hotkeyPicker");
        QCOMPARE(items(picker), QStringList({"Control + Option + Space", "Control + Shift + Space",
                                             "Command + Shift + Space"}));

        // Accepted: the picker keeps the choice.
        picker->setCurrentIndex(1);
        QTRY_COMPARE(container->active, HotkeyPreset::controlShiftSpace);
        QCOMPARE(picker->currentIndex(), 1);

        // Refused (BadAccess): setting, store and picker all return to the registered preset.
        container->backend.registerStatus = 10;
        picker->setCurrentIndex(2);
        QTRY_COMPARE(f.settings.hotkeyPreset(), HotkeyPreset::controlShiftSpace);
        QCOMPARE(picker->currentIndex(), 1);
        QCOMPARE(picker->currentText(), QStringLiteral("Control + Shift + Space"));
        UserDefaults stored(f.environment.root() + QStringLiteral("/settings.json"));
        QCOMPARE(stored.string(AppSettings::hotkeyPresetKey), QStringLiteral("controlShiftSpace"));
    }

    void launchAtLoginSwitchShowsTheRealState_data() {
        QTest::addColumn<LoginItemStatus>("afterRegister");
        QTest::addColumn<bool>("failing");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("message");
        QTest::newRow("enabled") << LoginItemStatus::enabled << false << true << "已启用登录时启动。";
        QTest::newRow("approval pending")
            << LoginItemStatus::requiresApproval << false << false
            << "登录项需要系统确认，请在“系统设置 → 通用 → 登录项与扩展”中允许 Murmelo。";
        QTest::newRow("executable missing")
            << LoginItemStatus::notFound << false << false << "已关闭登录时启动。";
        QTest::newRow("entry not written")
            << LoginItemStatus::enabled << true << false
            << FileError(FileError::Case::write, "/x/autostart/m.desktop").description();
    }
    void launchAtLoginSwitchShowsTheRealState() {
        QFETCH(LoginItemStatus, afterRegister);
        QFETCH(bool, failing);
        QFETCH(bool, on);
        QFETCH(QString, message);
        SettingsFixture f;
        f.loginItem.statusAfterRegister = afterRegister;
        if (failing)
            f.loginItem.failRegister = [] {
                throw FileError(FileError::Case::write, "/x/autostart/m.desktop");
            };
        auto* toggle = f.find<QCheckBox>("launchAtLoginSwitch");
        QVERIFY(!f.shown("launchAtLoginMessage"));

        toggle->click();
        QCOMPARE(f.loginItem.registerCalls, 1);
        QCOMPARE(toggle->isChecked(), on);
        QCOMPARE(f.settings.launchAtLogin(), on);
        QCOMPARE(f.find<QLabel>("launchAtLoginMessage")->text(), message);
        QVERIFY(f.shown("launchAtLoginMessage"));
    }

    void launchAtLoginFollowsTheSystemWhenShownAndTurnsOff() {
        SettingsFixture f;
        f.loginItem.current = LoginItemStatus::enabled; // enabled outside since the last look
        auto* toggle = f.find<QCheckBox>("launchAtLoginSwitch");
        QVERIFY(!toggle->isChecked());
        f.view->show();
        QVERIFY(toggle->isChecked());
        QVERIFY(f.settings.launchAtLogin());

        toggle->click();
        QCOMPARE(f.loginItem.unregisterCalls, 1);
        QVERIFY(!toggle->isChecked());
        QCOMPARE(f.find<QLabel>("launchAtLoginMessage")->text(), QStringLiteral("已关闭登录时启动。"));
    }

    void microphonePickerOffersTheSystemDefaultFirst() {
        SettingsFixture f;
        auto* picker = f.find<QComboBox>("microphonePicker");
        f.view->show();
        QCOMPARE(items(picker), QStringList({"系统默认"}));
        QCOMPARE(picker->currentIndex(), 0);

        f.devices = {{"usb-2", "USB 麦克风 2"}, {"usb-10", "USB 麦克风 10"}};
        f.find<QPushButton>("refreshPermissionsButton")->click();
        QCOMPARE(items(picker), QStringList({"系统默认", "USB 麦克风 2", "USB 麦克风 10"}));
        picker->setCurrentIndex(2);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-10"));
        picker->setCurrentIndex(0);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QString());

        // Unplugged: the choice stays stored; the window never changes it on its own.
        f.settings.setSelectedMicrophoneUID("usb-2");
        f.devices.clear();
        f.view->hide();
        const int queries = f.deviceQueries;
        f.view->show();
        QCOMPARE(f.deviceQueries, queries + 1);
        QCOMPARE(items(picker), QStringList({"系统默认"}));
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-2"));
        QCOMPARE(picker->currentIndex(), -1);
    }

    void permissionRowsFollowTheSession() {
        SettingsFixture f;
        f.syntheticInput = false;
        f.view->show();
        QCOMPARE(f.find<QLabel>("microphoneStatus")->text(), QStringLiteral("麦克风已授权"));
        QCOMPARE(f.find<QLabel>("microphoneSymbol")->property("symbol").toString(), "checkmark.circle.fill");
        QCOMPARE(f.find<QLabel>("accessibilityStatus")->text(), QStringLiteral("辅助功能未授权"));
        QCOMPARE(f.find<QLabel>("accessibilitySymbol")->property("symbol").toString(), "hand.raised.slash");
        QVERIFY(f.shown("accessibilityPermissionButton"));
        QVERIFY(!f.shown("accessibilityHint"));

        f.find<QPushButton>("accessibilityPermissionButton")->click();
        QVERIFY(f.shown("accessibilityHint"));
        QVERIFY(f.find<QLabel>("accessibilityHint")->text().contains("X11"));

        f.syntheticInput = true; // nothing changes until the next look
        QCOMPARE(f.find<QLabel>("accessibilityStatus")->text(), QStringLiteral("辅助功能未授权"));
        f.find<QPushButton>("refreshPermissionsButton")->click();
        QCOMPARE(f.find<QLabel>("accessibilityStatus")->text(), QStringLiteral("辅助功能已授权"));
        QCOMPARE(f.find<QLabel>("accessibilitySymbol")->property("symbol").toString(),
                 "checkmark.circle.fill");
        QVERIFY(!f.shown("accessibilityPermissionButton"));
        QVERIFY(!f.shown("accessibilityHint"));
    }

    void keyboardReachesEveryControlAndEscapeCloses_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("controls");
        QTest::newRow("general") << 0 << QStringList{"inputModePicker",
                                                     "refinementProviderPicker",
                                                     "hotkeyPicker",
                                                     "mockSwitch",
                                                     "saveHistorySwitch",
                                                     "launchAtLoginSwitch",
                                                     "microphonePicker",
                                                     "accessibilityPermissionButton",
                                                     "refreshPermissionsButton"};
        QTest::newRow("api") << 1 << QStringList{"openAIKeyField",     "openAISaveButton",
                                                 "openAIModelField",   "openAIRefinementModelField",
                                                 "openAITestButton",   "deepSeekKeyField",
                                                 "deepSeekSaveButton", "deepSeekModelField",
                                                 "deepSeekTestButton"};
        QTest::newRow("dictionary") << 2
                                    << QStringList{"canonicalField", "aliasesField", "englishField",
                                                   "kindPicker", "dictionaryList"};
        QTest::newRow("history") << 3
                                 << QStringList{"refreshButton", "clearButton", "historyRow", "copyButton",
                                                "deleteButton"};
    }
    void keyboardReachesEveryControlAndEscapeCloses() {
        QFETCH(int, tab);
        QFETCH(QStringList, controls);
        SettingsFixture f;
        f.syntheticInput = false;
        DictionaryEntry word;
        word.canonical = "Murmelo";
        f.dictionary.add(word);
        HistoryEntry entry;
        entry.text = "过去的结果";
        test::run(f.historyStore.append(entry));
        f.openTab(tab);
        f.view->show();
        f.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        if (tab == 2) f.find<QLineEdit>("canonicalField")->setText("x");

        QSet<QString> reached;
        for (int i = 0; i < 80; ++i) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            reached.insert(focused->objectName());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        for (const QString& name : controls)
            QVERIFY2(reached.contains(name), qPrintable(name));
        if (tab == 2) QVERIFY(reached.contains("addEntryButton"));

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!f.view->isVisible());
    }
};

QTEST_MAIN(SettingsGeneralTabTest)
#include "tst_SettingsGeneralTab.moc"

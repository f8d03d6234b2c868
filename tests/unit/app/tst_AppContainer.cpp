#include "AppContainer.h"
#include "AudioInputBackendFake.h"
#include "HotkeyBackendFake.h"
#include "LoginItemBackendFake.h"
#include "PasteboardFake.h"
#include "SecretBackendFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"

#include <QApplication>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// The container on fakes: the hotkey fake is kept reachable so tests can refuse shortcuts and press.
struct Rig {
    test::TestEnvironment environment;
    HotkeyBackendFake* hotkey = nullptr;
    std::unique_ptr<AppContainer> container;

    explicit Rig(QList<HotkeyPreset> heldByOthers = {}, const QJsonObject& stored = {},
                 qint32 registerStatus = 0) {
        AppBackends backends;
        backends.defaults =
            std::make_unique<UserDefaults>(environment.configHome() + "/Murmelo/settings.json");
        if (!stored.isEmpty()) backends.defaults->set(stored);
        backends.secrets = std::make_shared<SecretBackendFake>();
        backends.audio = std::make_unique<AudioInputBackendFake>();
        auto hotkeyFake = std::make_unique<HotkeyBackendFake>();
        for (HotkeyPreset preset : heldByOthers)
            hotkeyFake->heldByOthers.append(shortcut(preset));
        hotkeyFake->registerStatus = registerStatus;
        hotkey = hotkeyFake.get();
        backends.hotkey = std::move(hotkeyFake);
        backends.pasteboard = std::make_unique<PasteboardFake>();
        backends.keyboard = std::make_unique<SyntheticKeyboardFake>();
        backends.loginItem = std::make_unique<LoginItemBackendFake>();
        backends.dictionaryPath = environment.dataHome() + "/Murmelo/dictionary.json";
        backends.historyPath = environment.dataHome() + "/Murmelo/history.json";
        backends.timing = {200ms, 200ms, 20ms, 200ms};
        backends.mockDelays = {1ms, 1ms};
        container = std::make_unique<AppContainer>(std::move(backends));
    }
    AppSettings& settings() { return container->settings(); }
    DictationPhase phase() { return container->state().phase(); }
    QJsonValue storedPreset() {
        return UserDefaults(environment.configHome() + "/Murmelo/settings.json")
            .value(AppSettings::hotkeyPresetKey);
    }
};

} // namespace

class AppContainerTest : public QObject {
    Q_OBJECT
private slots:
    void freshStartRegistersTheDefaultAndStaysIdle() {
        Rig rig;
        QCOMPARE(rig.phase(), DictationPhase::idle());
        QCOMPARE(rig.container->activeHotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.hotkey->active.size(), std::size_t(1));
        QCOMPARE(rig.hotkey->active.begin()->second.shortcut, shortcut(HotkeyPreset::controlOptionSpace));
        QVERIFY(rig.storedPreset().isUndefined()); // nothing written by starting
    }

    void takenSavedPresetFallsBackWithTheNotice() {
        Rig rig({HotkeyPreset::commandShiftSpace}, {{AppSettings::hotkeyPresetKey, "commandShiftSpace"}});
        QCOMPARE(rig.phase(),
                 DictationPhase::error("保存的快捷键不可用，已恢复为 Control + Option + Space。"));
        QCOMPARE(rig.container->activeHotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.settings().hotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.storedPreset(), QJsonValue("controlOptionSpace"));
        QCOMPARE(rig.hotkey->registerCalls.size(), 2); // the fallback did not come back as a change
    }

    void bothTakenShowsTheRegistrationErrorAndRunsOn() {
        Rig rig({HotkeyPreset::controlShiftSpace, HotkeyPreset::controlOptionSpace},
                {{AppSettings::hotkeyPresetKey, "controlShiftSpace"}});
        QCOMPARE(rig.phase(), DictationPhase::error("无法注册全局快捷键，可能已被其他应用占用（10）。"));
        QVERIFY(rig.hotkey->active.empty());
        // The tray still starts dictation.
        rig.container->coordinator().toggleDictation();
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
    }

    void aDesktopWithoutShortcutsIsToldOnceWithoutTryingOtherPresets_data() {
        QTest::addColumn<QString>("saved");
        QTest::newRow("saved default") << "controlOptionSpace";
        QTest::newRow("saved other preset") << "commandShiftSpace";
    }
    void aDesktopWithoutShortcutsIsToldOnceWithoutTryingOtherPresets() {
        QFETCH(QString, saved);
        Rig rig({}, {{AppSettings::hotkeyPresetKey, saved}}, HotkeyBackend::statusNoShortcutService);
        QCOMPARE(rig.phase(),
                 DictationPhase::error(
                     "当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QCOMPARE(rig.hotkey->registerCalls.size(), 1);
        QCOMPARE(rig.storedPreset(),
                 QJsonValue(saved)); // the user's choice stays for a desktop that has them
    }

    void refusedChangeIsRevertedInMemoryAndStore() {
        Rig rig({HotkeyPreset::commandShiftSpace});
        rig.settings().setHotkeyPreset(HotkeyPreset::commandShiftSpace);
        QCOMPARE(rig.settings().hotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.storedPreset(), QJsonValue("controlOptionSpace"));
        QCOMPARE(rig.phase(), DictationPhase::error("无法注册全局快捷键，可能已被其他应用占用（10）。"));
        // The previous shortcut still works: a press starts a dictation.
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
    }

    void acceptedChangeMovesTheShortcutAndTheSameOneIsNotRegisteredTwice() {
        Rig rig;
        rig.settings().setHotkeyPreset(HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.container->activeHotkeyPreset(), HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.hotkey->active.begin()->second.shortcut, shortcut(HotkeyPreset::controlShiftSpace));
        const auto attempts = rig.hotkey->registerCalls.size();
        rig.settings().setHotkeyPreset(HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.hotkey->registerCalls.size(), attempts);
        QCOMPARE(rig.phase(), DictationPhase::idle());
    }

    void hotkeyRunsAWholeMockDictation() {
        Rig rig;
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE_WITH_TIMEOUT(rig.phase(), DictationPhase::idle(), 5000);
        QVERIFY(!rig.container->state().finalText().isEmpty());
    }
};

QTEST_MAIN(AppContainerTest)
#include "tst_AppContainer.moc"

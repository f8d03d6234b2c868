#include "AppContainer.h"
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "HotkeyBackendFake.h"
#include "LoginItemBackendFake.h"
#include "PasteboardFake.h"
#include "SecretBackendFake.h"
#include "SingleInstance.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "dictation/AppState.h"
#include "qt/DesktopSession.h"
#include "qt/HotkeyBackendNull.h"
#include "qt/PasteboardQt.h"
#include "qt/SyntheticKeyboardNull.h"
#include "settings/AppSettings.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace murmelo;
using namespace std::chrono_literals;
using Protocol = DesktopSession::Protocol;

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

// The client blocks, so it runs on another thread while this one serves.
bool sendFromAnotherThread(const QString& command, const QString& path) {
    bool delivered = false;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { delivered = SingleInstance::sendToRunningInstance(command, 3000, path); }));
    thread->start();
    QDeadlineTimer deadline(5000);
    while (!thread->isFinished() && !deadline.hasExpired())
        QTest::qWait(5);
    return thread->wait(QDeadlineTimer(100)) && delivered;
}

} // namespace

// The application container on fakes, the single-instance socket, the choice of back ends and the
// X11 back ends without a display (the offscreen platform, like Wayland without XWayland).
class AppTest : public QObject {
    Q_OBJECT

    template <typename Backend> void hotkeyFailsToInstallItsHandler() {
        Backend backend;
        GlobalHotkeyService service(backend);
        try {
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
            QFAIL("registration succeeded without a display");
        } catch (const GlobalHotkeyError& error) {
            QCOMPARE(error.kind(), GlobalHotkeyError::Case::installHandler);
            QCOMPARE(error.status(), HotkeyBackend::statusNoDisplay);
        }
        HotkeyHandle handle = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlShiftSpace), {}, handle),
                 HotkeyBackend::statusNoDisplay);
    }

    template <typename Keyboard> void insertionLeavesTheTextOnTheClipboard() {
        PasteboardQt pasteboard;
        Keyboard keyboard;
        QVERIFY(!keyboard.isAvailable());
        QVERIFY(!keyboard.isModifierHeld());
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::control));
        TextInsertionService service(pasteboard, keyboard);
        const QString text = QStringLiteral("你好，Murmelo 🎙\n第二行");
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::copiedOnly);
        QCOMPARE(pasteboard.string(), text);
    }

private slots:
    void acceptedChangeMovesTheShortcutOnlyOnce() {
        Rig rig;
        QCOMPARE(rig.container->activeHotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QVERIFY(rig.storedPreset().isUndefined()); // nothing written by starting
        rig.settings().setHotkeyPreset(HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.hotkey->active.size(), std::size_t(1));
        QCOMPARE(rig.hotkey->active.begin()->second.shortcut, shortcut(HotkeyPreset::controlShiftSpace));
        const auto attempts = rig.hotkey->registerCalls.size();
        rig.settings().setHotkeyPreset(HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.hotkey->registerCalls.size(), attempts);
        QCOMPARE(rig.phase(), DictationPhase::idle());
    }

    void takenSavedPresetFallsBackWithTheNotice() {
        Rig rig({HotkeyPreset::commandShiftSpace}, {{AppSettings::hotkeyPresetKey, "commandShiftSpace"}});
        QCOMPARE(rig.phase(),
                 DictationPhase::error("保存的快捷键不可用，已恢复为 Control + Option + Space。"));
        QCOMPARE(rig.container->activeHotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.storedPreset(), QJsonValue("controlOptionSpace"));
        QCOMPARE(rig.hotkey->registerCalls.size(), 2); // the fallback did not come back as a change
    }

    void bothTakenShowsTheErrorAndTheTrayStillStarts() {
        Rig rig({HotkeyPreset::controlShiftSpace, HotkeyPreset::controlOptionSpace},
                {{AppSettings::hotkeyPresetKey, "controlShiftSpace"}});
        QVERIFY(rig.hotkey->active.empty());
        QVERIFY(rig.phase() != DictationPhase::idle());
        rig.container->coordinator().toggleDictation();
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
    }

    void aDesktopWithoutShortcutsIsToldOnceWithoutTryingOtherPresets() {
        Rig rig({}, {{AppSettings::hotkeyPresetKey, "commandShiftSpace"}}, HotkeyBackend::statusNoShortcutService);
        QVERIFY(rig.phase() != DictationPhase::idle());
        QCOMPARE(rig.hotkey->registerCalls.size(), 1);
        QCOMPARE(rig.storedPreset(), QJsonValue("commandShiftSpace")); // kept for a desktop that has them
    }

    void refusedChangeIsRevertedAndTheOldShortcutStillDictates() {
        Rig rig({HotkeyPreset::commandShiftSpace});
        rig.settings().setHotkeyPreset(HotkeyPreset::commandShiftSpace);
        QCOMPARE(rig.settings().hotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.storedPreset(), QJsonValue("controlOptionSpace"));
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE_WITH_TIMEOUT(rig.phase(), DictationPhase::idle(), 5000);
        QVERIFY(!rig.container->state().finalText().isEmpty());
    }

    void secondStartHandsItsRequestToTheFirst() {
        test::TestEnvironment environment;
        const QString path = environment.root() + "/murmelo.socket";
        QVERIFY(!SingleInstance::sendToRunningInstance("settings", 500, path)); // nobody listening
        test::writeFile(path, ""); // stands in for a socket left by a crash
        SingleInstance first;
        QVERIFY(first.listen(path));
        QSignalSpy received(&first, &SingleInstance::commandReceived);
        QVERIFY(sendFromAnotherThread(SingleInstance::openSettingsCommand, path));
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toString(), SingleInstance::openSettingsCommand);
        QVERIFY(!sendFromAnotherThread("rm -rf", path)); // unknown requests are refused
        QCOMPARE(received.size(), 1);
    }

    void socketPathPrefersTheRuntimeDirectory() {
        test::TestEnvironment environment;
        environment.set("XDG_RUNTIME_DIR", environment.root().toUtf8());
        QCOMPARE(SingleInstance::socketPath(), environment.root() + "/murmelo.socket");
        environment.set("XDG_RUNTIME_DIR", "/nonexistent-runtime");
        QVERIFY(!SingleInstance::socketPath().startsWith("/nonexistent-runtime"));
    }

    void backEndsFollowTheSessionNotJustQtsPlatform_data() {
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<Protocol>("expected");
        QTest::newRow("X11 without a login session type") << "" << "xcb" << "" << Protocol::x11;
        QTest::newRow("Qt on Wayland with EGL") << "" << "wayland-egl" << "" << Protocol::wayland;
        // Grabs and XTest through XWayland reach only X clients: the Wayland back ends still apply.
        QTest::newRow("Qt on XWayland") << "" << "xcb" << "Wayland" << Protocol::wayland;
        QTest::newRow("offscreen") << "" << "offscreen" << "" << Protocol::none;
        QTest::newRow("override to Wayland") << "wayland" << "xcb" << "x11" << Protocol::wayland;
        QTest::newRow("override spaced and capitalised") << " X11 " << "xcb" << "wayland" << Protocol::x11;
        QTest::newRow("unknown override is ignored") << "mir" << "xcb" << "" << Protocol::x11;
    }
    void backEndsFollowTheSessionNotJustQtsPlatform() {
        QFETCH(QString, override);
        QFETCH(QString, platform);
        QFETCH(QString, sessionType);
        QFETCH(Protocol, expected);
        QCOMPARE(DesktopSession::protocol(override, platform, sessionType), expected);
    }

    void withoutADisplayHotkeysFailTheDocumentedWay() {
        QVERIFY(!X11Session::isAvailable());
        hotkeyFailsToInstallItsHandler<HotkeyBackendX11>();
        hotkeyFailsToInstallItsHandler<HotkeyBackendNull>();
    }
    void withoutADisplayPasteLeavesTheTextOnTheClipboard() {
        insertionLeavesTheTextOnTheClipboard<SyntheticKeyboardX11>();
        insertionLeavesTheTextOnTheClipboard<SyntheticKeyboardNull>();
    }
};

QTEST_MAIN(AppTest)
#include "tst_App.moc"

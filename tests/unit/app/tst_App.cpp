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
#include "settings/AppSettings.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

HotkeyPreset preset(const QJsonValue& raw) {
    return *fromRawValue<HotkeyPreset>(raw.toString());
}

// The container on fakes, set up by a case: "saved" preset, presets "taken" by other clients, a
// "status" every registration fails with. The hotkey fake stays reachable so tests can press.
struct Rig {
    test::TestEnvironment environment;
    const QString settingsPath = environment.configHome() + "/Murmelo/settings.json";
    HotkeyBackendFake* hotkey = nullptr;
    std::unique_ptr<AppContainer> container;

    explicit Rig(const QJsonObject& row = {}) {
        auto hotkeyFake = std::make_unique<HotkeyBackendFake>();
        for (const QJsonValue& taken : row["taken"].toArray())
            hotkeyFake->heldByOthers.append(shortcut(preset(taken)));
        hotkeyFake->registerStatus = row["status"].toInt();
        hotkey = hotkeyFake.get();
        AppBackends backends;
        backends.defaults = std::make_unique<UserDefaults>(settingsPath);
        if (row.contains("saved")) backends.defaults->set({{AppSettings::hotkeyPresetKey, row["saved"]}});
        backends.secrets = std::make_shared<SecretBackendFake>();
        backends.audio = std::make_unique<AudioInputBackendFake>();
        backends.hotkey = std::move(hotkeyFake);
        backends.pasteboard = std::make_unique<PasteboardFake>();
        backends.keyboard = std::make_unique<SyntheticKeyboardFake>();
        backends.loginItem = std::make_unique<LoginItemBackendFake>();
        backends.timing = {200ms, 200ms, 20ms, 200ms};
        backends.mockDelays = {1ms, 1ms};
        container = std::make_unique<AppContainer>(std::move(backends));
    }
    DictationPhase phase() { return container->state().phase(); }
    QJsonValue storedPreset() const { return UserDefaults(settingsPath).value(AppSettings::hotkeyPresetKey); }
    std::optional<HotkeyShortcut> grabbed() const {
        if (hotkey->active.size() != 1) return std::nullopt;
        return hotkey->active.begin()->second.shortcut;
    }
};

// The client blocks, so it runs on another thread while this one serves.
bool sendFromAnotherThread(const QString& command, const QString& path) {
    bool delivered = false;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { delivered = SingleInstance::sendToRunningInstance(command, 3000, path); }));
    thread->start();
    test::waitUntil([&] { return thread->isFinished(); }, 5000);
    return thread->wait(QDeadlineTimer(100)) && delivered;
}

} // namespace

// The application container on fakes, the single-instance socket, the choice of back ends and the
// X11 back ends without a display (the offscreen platform, like Wayland without XWayland).
class AppTest : public QObject {
    Q_OBJECT

private slots:
    void savedHotkeyOrItsFallbackIsGrabbedAndTheTrayStillDictates_data() {
        test::rowsFromJson(QFINDTESTDATA("app/hotkey_at_start.json"));
    }
    void savedHotkeyOrItsFallbackIsGrabbedAndTheTrayStillDictates() {
        QFETCH(QJsonObject, row);
        Rig rig(row);
        const auto expected =
            row.contains("active") ? std::optional(shortcut(preset(row["active"]))) : std::nullopt;
        QCOMPARE(rig.grabbed(), expected);
        QCOMPARE(rig.storedPreset(), row.value("stored")); // value(): operator[] would add a null
        QCOMPARE(rig.hotkey->attempts, row["attempts"].toInt());
        if (row.contains("notice"))
            QCOMPARE(rig.phase(), DictationPhase::error(row["notice"].toString()));
        else
            QCOMPARE(rig.phase() != DictationPhase::idle(), row["error"].toBool());
        rig.container->coordinator().toggleDictation();
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
    }

    void refusedChangeIsRevertedAndTheOldShortcutStillDictates() {
        Rig rig({{"taken", QJsonArray{"commandShiftSpace"}}});
        rig.container->settings().setHotkeyPreset(HotkeyPreset::commandShiftSpace);
        QCOMPARE(rig.container->settings().hotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QCOMPARE(rig.storedPreset(), QJsonValue("controlOptionSpace"));
        QVERIFY(rig.phase() != DictationPhase::idle());
        QCOMPARE(rig.grabbed(), shortcut(HotkeyPreset::controlOptionSpace));
        QVERIFY(rig.hotkey->press());
        QTRY_COMPARE(rig.phase(), DictationPhase::recording());
        // An accepted change moves the one grab.
        rig.container->settings().setHotkeyPreset(HotkeyPreset::controlShiftSpace);
        QCOMPARE(rig.grabbed(), shortcut(HotkeyPreset::controlShiftSpace));
    }

    void secondStartHandsItsRequestToTheFirst() {
        test::TestEnvironment environment;
        environment.set("XDG_RUNTIME_DIR", "/nonexistent-runtime");
        QVERIFY(!SingleInstance::socketPath().startsWith("/nonexistent-runtime"));
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

    void backEndsFollowTheSessionNotJustQtsPlatform_data() {
        test::rowsFromJson(QFINDTESTDATA("app/session_protocols.json"));
    }
    void backEndsFollowTheSessionNotJustQtsPlatform() {
        QFETCH(QJsonObject, row);
        const auto protocol = DesktopSession::protocol(row["override"].toString(), row["platform"].toString(),
                                                       row["session"].toString());
        QCOMPARE(QStringList({"x11", "wayland", "none"}).value(int(protocol)), row["protocol"].toString());
    }

    void withoutADisplayX11BackEndsRefuseInsteadOfTouchingANullConnection() {
        HotkeyBackendX11 hotkey;
        HotkeyHandle handle = 0;
        QCOMPARE(hotkey.installHandler([] {}), HotkeyBackend::statusNoDisplay);
        QCOMPARE(hotkey.registerHotKey(shortcut(HotkeyPreset::controlShiftSpace), {}, handle),
                 HotkeyBackend::statusNoDisplay);
        SyntheticKeyboardX11 keyboard;
        QVERIFY(!keyboard.isAvailable());
        QVERIFY(!keyboard.isModifierHeld());
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::control));
    }
};

QTEST_MAIN(AppTest)
#include "tst_App.moc"

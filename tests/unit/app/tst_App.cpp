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
#include "system/SystemReadiness.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <future>
#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

HotkeyPreset preset(const QJsonValue& raw) {
    return *fromRawValue<HotkeyPreset>(raw.toString());
}

// The client blocks, so it runs on another thread while this one serves.
bool sendFromAnotherThread(const QString& command, const QString& path) {
    auto sent = std::async(std::launch::async,
                           [=] { return SingleInstance::sendToRunningInstance(command, 3000, path); });
    test::waitUntil([&] { return sent.wait_for(0s) == std::future_status::ready; }, 5000);
    return sent.get();
}

} // namespace

// The application container on fakes, the single-instance socket and the choice of back ends.
class AppTest : public QObject {
    Q_OBJECT

private slots:
    // A case sets the "saved" preset, presets "taken" by other clients, a "status" every
    // registration fails with, and a "change" made in the settings once running.
    void savedOrChangedHotkeyOrItsFallbackIsGrabbedAndDictationStillStarts_data() {
        test::rowsFromJson(QFINDTESTDATA("app/hotkey_choices.json"));
    }
    void savedOrChangedHotkeyOrItsFallbackIsGrabbedAndDictationStillStarts() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        const QString settingsPath = environment.configHome() + "/Murmelo/settings.json";
        auto hotkeyFake = std::make_unique<HotkeyBackendFake>();
        HotkeyBackendFake& hotkey = *hotkeyFake;
        for (const QJsonValue& taken : row["taken"].toArray())
            hotkey.heldByOthers.append(shortcut(preset(taken)));
        hotkey.registerStatus = row["status"].toInt();
        hotkey.asksDesktop = row.contains("desktopAnswer"); // to the change; the saved one it takes
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
        AppContainer container(std::move(backends));
        if (hotkey.asksDesktop) hotkey.answer(0);
        if (row.contains("change")) container.settings().setHotkeyPreset(preset(row["change"]));
        if (hotkey.asksDesktop) hotkey.answer(row["desktopAnswer"].toInt());

        QList<HotkeyShortcut> grabbed, expected;
        for (const auto& [handle, registration] : hotkey.active)
            grabbed.append(registration.shortcut);
        if (row.contains("active")) expected.append(shortcut(preset(row["active"])));
        QCOMPARE(grabbed, expected);
        QCOMPARE(UserDefaults(settingsPath).value(AppSettings::hotkeyPresetKey),
                 row.value("stored")); // value(): operator[] would add a null
        QCOMPARE(hotkey.attempts, row["attempts"].toInt());
        if (row.contains("shows"))
            QCOMPARE(SystemReadiness::hotkey(container.hotkeyStatus().facts()).text, row["shows"].toString());
        const DictationPhase phase = container.state().phase();
        if (row.contains("notice"))
            QCOMPARE(phase, DictationPhase::error(row["notice"].toString()));
        else
            QCOMPARE(phase != DictationPhase::idle(), row["error"].toBool());
        // By the grabbed shortcut, or else from the tray.
        if (grabbed.isEmpty())
            container.coordinator().toggleDictation();
        else
            QVERIFY(hotkey.press());
        QTRY_COMPARE(container.state().phase(), DictationPhase::recording());
    }

    void secondStartHandsItsRequestToTheFirstAndNeverTakesItsSocket() {
        test::TestEnvironment environment;
        environment.set("XDG_RUNTIME_DIR", "/nonexistent-runtime");
        QVERIFY(!SingleInstance::socketPath().startsWith("/nonexistent-runtime"));
        const QString path = environment.root() + "/murmelo.socket";
        QVERIFY(!SingleInstance::sendToRunningInstance("settings", 500, path)); // nobody listening
        auto first = std::make_unique<SingleInstance>();
        QCOMPARE(first->listen(path), SingleInstance::Listening::started);
        // A second launch while the first is still starting must not replace its socket.
        QCOMPARE(SingleInstance().listen(path), SingleInstance::Listening::heldByAnother);
        QSignalSpy received(first.get(), &SingleInstance::commandReceived);
        QVERIFY(sendFromAnotherThread(SingleInstance::openSettingsCommand, path));
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toString(), SingleInstance::openSettingsCommand);
        QVERIFY(!sendFromAnotherThread("rm -rf", path)); // unknown requests are refused
        QCOMPARE(received.size(), 1);
        first.reset();
        QCOMPARE(SingleInstance().listen(path), SingleInstance::Listening::started); // the owner is gone
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
};

QTEST_MAIN(AppTest)
#include "tst_App.moc"

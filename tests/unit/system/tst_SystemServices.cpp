// The global hotkey, the paste and the login item services over fakes, the environment checks, and
// the XDG autostart entry in a private config home.
#include "AsyncTest.h"
#include "HotkeyBackendFake.h"
#include "PasteboardFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "common/Completion.h"
#include "system/GlobalHotkeyService.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "system/LaunchAtLoginService.h"
#include "system/SoundCues.h"
#include "system/SystemReadiness.h"
#include "system/TextInsertionService.h"
#include "xdg/DesktopEntry.h"
#include "xdg/LoginItemBackendXdg.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <limits>
#include <stdexcept>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const TextInsertionService::Timing quick{100ms, 2ms, 1ms};

QString makeProgram(const QString& path, const QByteArray& script = "#!/bin/sh\n") {
    test::writeFile(path, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// Answers after a turn of the event loop, or after `delay`; fails when there is no answer.
template <typename T> QCoro::Task<T> answerLater(std::optional<T> answer, std::chrono::milliseconds delay = 1ms) {
    co_await sleepFor(delay);
    if (!answer) throw std::runtime_error("no answer");
    co_return *answer;
}

} // namespace

class SystemServicesTest : public QObject {
    Q_OBJECT
private slots:
    // What the user hears for each course of a dictation: one cue per start, stop and failure,
    // none for the desktop's own messages, none at all with the setting off.
    void soundCuesFollowTheDictationNotTheDesktopsMessages_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("heard");
        const QStringList dictation{"record", "stop", "done"};
        QTest::newRow("a dictation") << dictation << true << "started stopped";
        QTest::newRow("setting off") << dictation << false << "";
        QTest::newRow("microphone fails to open") << QStringList{"fail"} << true << "failed";
        QTest::newRow("fails while recording") << QStringList{"record", "fail"} << true << "started failed";
        QTest::newRow("hotkey message while idle, then one during a recording")
            << QStringList{"notify", "record", "notify", "stop"} << true << "started stopped";
    }
    void soundCuesFollowTheDictationNotTheDesktopsMessages() {
        QFETCH(QStringList, steps);
        QFETCH(bool, enabled);
        QFETCH(QString, heard);
        struct Player final : SoundPlayer {
            QStringList heard;
            void play(SoundCue cue) override {
                heard << (cue == SoundCue::recordingStarted   ? "started"
                          : cue == SoundCue::recordingStopped ? "stopped"
                                                              : "failed");
            }
        } player;
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        settings.setSoundCues(enabled);
        AppState state;
        SoundCueService cues(state, settings, player);
        for (const QString& step : steps) {
            if (step == "record") state.beginRecording();
            if (step == "stop") state.transition(DictationPhase::transcribing());
            if (step == "done") state.transition(DictationPhase::success());
            if (step == "fail") state.transition(DictationPhase::error("麦克风不可用"));
            if (step == "notify") state.notify("快捷键不可用");
        }
        QCOMPARE(player.heard.join(' '), heard);
    }

    void destructionReleasesEverythingAndDropsPendingPresses() {
        HotkeyBackendFake backend;
        bool ran = false;
        {
            GlobalHotkeyService service(backend);
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
            QVERIFY(backend.press());
        }
        QVERIFY(!backend.handlerInstalled()); // the real grab going is seen on the X server
        QTest::qWait(10);
        QVERIFY(!ran);
    }

    void laterRefusalCountsOnlyForTheActiveShortcut() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        int failures = 0;
        connect(&service, &GlobalHotkeyService::registrationFailed, this, [&] { ++failures; });
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [] {});
        QVERIFY(backend.failLater(101, HotkeyBackend::statusDeclined)); // already replaced
        QCOMPARE(failures, 0);
        QVERIFY(service.hasHotkey());
        QVERIFY(backend.failLater(102, HotkeyBackend::statusDeclined));
        QCOMPARE(failures, 1);
        QVERIFY(!service.hasHotkey());
    }

    void insertionKeepsTheTextOnTheClipboardAndPicksTheWindowsShortcut_data() {
        test::rowsFromJson(QFINDTESTDATA("system/insertion_cases.json"));
    }
    void insertionKeepsTheTextOnTheClipboardAndPicksTheWindowsShortcut() {
        QFETCH(QJsonObject, row);
        PasteboardFake pasteboard;
        pasteboard.setString(QStringLiteral("earlier"));
        pasteboard.accepts = !row["refused"].toBool();
        SyntheticKeyboardFake keyboard;
        keyboard.available = row["available"].toBool(true);
        keyboard.postSucceeds = !row["postFails"].toBool();
        keyboard.heldPolls = row["heldPolls"].toInt();
        keyboard.focusedClasses = row["classes"].toVariant().toStringList();
        keyboard.classesWhileHeld = row["classesWhileHeld"].toVariant().toStringList();
        TextInsertionService service(pasteboard, keyboard, quick);
        const QString text = row["text"].toString();
        QCOMPARE(rawValue(test::run(service.insert(text))), row["result"].toString());
        if (pasteboard.accepts) QCOMPARE(pasteboard.content, std::optional<QString>(text));
        const char* pasted = !keyboard.pasted                                  ? ""
                             : *keyboard.pasted == PasteShortcut::controlShift ? "controlShift"
                                                                               : "control";
        QCOMPARE(QString(pasted), row["shortcut"].toString());
    }

    void readinessTellsEachFactsStateAndWhatToDoWhenItIsNotFine_data() {
        test::rowsFromJson(QFINDTESTDATA("system/readiness_cases.json"));
    }
    void readinessTellsEachFactsStateAndWhatToDoWhenItIsNotFine() {
        QFETCH(QJsonObject, row);
        using Kind = ReadinessItem::Kind;
        const QHash<QString, Kind> kinds{{"microphone", Kind::microphone},
                                         {"automaticPaste", Kind::automaticPaste},
                                         {"globalHotkey", Kind::globalHotkey},
                                         {"keyring", Kind::keyring}};
        const QHash<QString, PasteAvailability> pastes{
            {"xtest", PasteAvailability::xtest},
            {"wtype", PasteAvailability::wtype},
            {"portalKeyboard", PasteAvailability::portalKeyboard},
            {"portalPending", PasteAvailability::portalPending},
            {"noDisplay", PasteAvailability::noDisplay},
            {"noXTest", PasteAvailability::noXTest},
            {"noVirtualKeyboard", PasteAvailability::noVirtualKeyboard},
            {"portalDeclined", PasteAvailability::portalDeclined},
            {"portalClosed", PasteAvailability::portalClosed}};
        const QHash<QString, SecretServiceStatus> keyrings{{"reachable", SecretServiceStatus::reachable},
                                                           {"locked", SecretServiceStatus::locked},
                                                           {"absent", SecretServiceStatus::absent}};
        std::optional<QList<AudioInputDevice>> devices;
        if (!row["devicesFail"].toBool()) {
            devices.emplace();
            for (const QJsonValue& device : row["devices"].toArray())
                devices->append({device[0].toString(), device[1].toString()});
        }
        const QJsonObject hotkey =
            row.contains("hotkey") ? row["hotkey"].toObject() : QJsonObject{{"registered", true}};
        HotkeyFacts facts;
        facts.registered = hotkey["registered"].toBool();
        facts.preset = fromRawValue<HotkeyPreset>(hotkey["preset"].toString()).value_or(HotkeyPreset::controlOptionSpace);
        facts.fellBack = hotkey["fellBack"].toBool();
        facts.pending = hotkey["pending"].toBool();
        facts.noShortcutService = hotkey["noService"].toBool();
        facts.problem = hotkey["problem"].toString();
        // A keyring that never answers in time is told apart from one that says it is absent.
        const bool silent = row["keyring"] == "silent";
        const std::optional<SecretServiceStatus> status =
            keyrings.value(row["keyring"].toString(), SecretServiceStatus::reachable);
        SystemReadiness readiness(
            {.inputDevices = [&] { return answerLater(devices); },
             .selectedMicrophoneUid = [&] { return row["selected"].toString(); },
             .paste = [&] { return pastes.value(row["paste"].toString(), PasteAvailability::xtest); },
             .hotkey = [&] { return facts; },
             .keyring = [&] { return answerLater(status, silent ? 300ms : 1ms); }},
            30ms);
        test::run(readiness.refresh());
        const ReadinessItem& item = readiness.item(kinds.value(row["kind"].toString()));
        const QStringList states{"checking", "ok", "attention", "unavailable"};
        QCOMPARE(states.value(int(item.state)), row["state"].toString());
        QCOMPARE(item.advice.isEmpty(), item.state == ReadinessItem::State::ok); // what to do, whenever not fine
        QCOMPARE(item.advice.contains(SystemReadiness::clipboardFallback), row["clipboard"].toBool());
        for (const QJsonValue& mention : row["mentions"].toArray())
            QVERIFY2((item.text + item.advice).contains(mention.toString()), qPrintable(item.text + item.advice));
        if (silent) QTest::qWait(300); // the late answer lands in a check that gave up
    }

    void serviceDestroyedWhileWaitingPostsNothing() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.heldPolls = std::numeric_limits<int>::max();
        auto* service = new TextInsertionService(pasteboard, keyboard, {5s, 2ms, 1ms});
        QTimer::singleShot(20ms, [&] { delete service; });
        QCOMPARE(test::run(service->insert(QStringLiteral("留在剪贴板"))), TextInsertionResult::copiedOnly);
        QCOMPARE(keyboard.postAttempts, 0);
        QCOMPARE(pasteboard.string(), QStringLiteral("留在剪贴板"));
    }

    // Whatever was there, switching the option on leaves our entry and off leaves none.
    void autostartEntryIsReadAndReplaced_data() {
        test::rowsFromJson(QFINDTESTDATA("system/autostart_entries.json"));
    }
    void autostartEntryIsReadAndReplaced() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        const QString program = makeProgram(environment.root() + "/bin/murmelo");
        LoginItemBackendXdg backend(program);
        QCOMPARE(backend.entryPath(), environment.configHome() + "/autostart/com.murmelo.Murmelo.desktop");
        if (row.contains("entry"))
            test::writeFile(backend.entryPath(),
                            row["entry"].toString().replace("@PROGRAM@", program).toUtf8());
        QCOMPARE(int(backend.status()), row["status"].toInt());
        LaunchAtLoginService service(backend);
        service.setEnabled(true);
        QCOMPARE(backend.status(), LoginItemStatus::enabled);
        service.setEnabled(false);
        QVERIFY(!QFile::exists(backend.entryPath()));

        LoginItemBackendXdg running; // starts the running executable by default
        running.registerItem();
        QCOMPARE(running.status(), LoginItemStatus::enabled);
    }

    void unwritableAutostartFolderOrEntryThrowsTheFileError() {
        test::TestEnvironment environment;
        LoginItemBackendXdg backend(QStringLiteral("/usr/bin/true"));
        // A file where the folder should be: mkdir fails whoever we run as.
        const QString folder = environment.configHome() + "/autostart";
        test::writeFile(folder, "not a folder");
        QVERIFY_THROWS_EXCEPTION(FileError, backend.registerItem());
        // A folder where the entry should be: it can be neither written nor removed.
        QFile::remove(folder);
        QVERIFY(QDir().mkpath(backend.entryPath()));
        QVERIFY_THROWS_EXCEPTION(FileError, backend.registerItem());
        QVERIFY_THROWS_EXCEPTION(FileError, backend.unregisterItem());
    }

    void gioStartsTheEntryAtAnAwkwardPath() {
        // GLib's launcher is an independent reader of the same rules: if it starts the program,
        // the quoting is right. (No "%" there: GLib checks the program before it undoes "%%".)
        QCOMPARE(desktopentry::execValue({"/opt/100%/m"}), QStringLiteral("\"/opt/100%%/m\""));
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        QVERIFY2(!gio.isEmpty(), "gio is not installed (scripts/setup installs it)");
        test::TestEnvironment environment;
        const QString directory = environment.root() + QStringLiteral("/bin/my \"apps\" $HOME `x` a\\b 中文");
        const QString marker = environment.root() + QStringLiteral("/started");
        const QString program = makeProgram(directory + QStringLiteral("/murmelo"),
                                            "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.toUtf8() + "'\n");
        LoginItemBackendXdg backend(program);
        backend.registerItem();
        QProcess launcher;
        launcher.start(gio, {QStringLiteral("launch"), backend.entryPath()});
        QVERIFY(launcher.waitForFinished(20000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAllStandardError().constData());
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(test::readAll(marker)), program, 10000);
    }
};

QTEST_GUILESS_MAIN(SystemServicesTest)
#include "tst_SystemServices.moc"

#include "AsyncTest.h"
#include "HotkeyBackendFake.h"
#include "HotkeyExpectations.h"
#include "PasteboardFake.h"
#include "SyntheticKeyboardFake.h"
#include "TestEnvironment.h"
#include "system/GlobalHotkeyService.h"
#include "system/LaunchAtLoginService.h"
#include "system/TextInsertionService.h"
#include "xdg/DesktopEntry.h"
#include "xdg/LoginItemBackendXdg.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

using namespace murmelo;
using namespace std::chrono_literals;
using test::registerExpectingError;

Q_DECLARE_METATYPE(murmelo::LoginItemStatus)

namespace {

// Short waits so the tests do not idle.
const TextInsertionService::Timing quick{100ms, 2ms, 1ms};

QString makeProgram(const QString& path, const QByteArray& script = "#!/bin/sh\n") {
    test::writeFile(path, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

// The global hotkey, the paste and the login item services over fakes, and the XDG autostart entry
// in a private config home.
class SystemServicesTest : public QObject {
    Q_OBJECT
private slots:
    void refusedShortcutKeepsTheOldOneButTakesTheNewAction() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "old"; });
        backend.registerStatus = 10;
        const auto error =
            registerExpectingError(service, HotkeyPreset::controlOptionSpace, [&] { runs << "new"; });
        QVERIFY(error);
        QCOMPARE(error->kind(), GlobalHotkeyError::Case::registerHotKey);
        QCOMPARE(error->status(), 10);
        QCOMPARE(backend.active.size(), size_t(1));
        QCOMPARE(backend.active.begin()->second.shortcut, shortcut(HotkeyPreset::controlShiftSpace));
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, QStringList{"new"});
    }

    void failedHandlerInstallationIsRetriedByTheNextRegistration() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        backend.installStatus = HotkeyBackend::statusNoDisplay;
        const auto error = registerExpectingError(service, HotkeyPreset::controlOptionSpace, [] {});
        QVERIFY(error);
        QCOMPARE(error->kind(), GlobalHotkeyError::Case::installHandler);
        QVERIFY(!service.hasHandler());
        backend.installStatus = 0;
        bool ran = false;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
        QVERIFY(backend.press());
        QTRY_VERIFY(ran);
    }

    void actionRunsOncePerPressAfterThePlatformHandlerReturned() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        QVERIFY(backend.press());
        QVERIFY(backend.press());
        QCOMPARE(runs, 0); // scheduled, not run inside the platform's handler
        QTRY_COMPARE(runs, 2);
    }

    void actionMayReplaceItselfWhileRunning() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        // The action's own captures must survive the replacement that happens inside it.
        auto marker = std::make_shared<QString>(QStringLiteral("first"));
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&, marker] {
            service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "second"; });
            runs << *marker;
        });
        marker.reset();
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, QStringList{"first"});
        QVERIFY(backend.press());
        QTRY_COMPARE(runs, (QStringList{"first", "second"}));
    }

    void destructionReleasesEverythingAndDropsPendingPresses() {
        HotkeyBackendFake backend;
        bool ran = false;
        {
            GlobalHotkeyService service(backend);
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
            QVERIFY(backend.press());
        }
        QVERIFY(backend.active.empty());
        QVERIFY(!backend.handlerInstalled());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }

    void aLaterRefusalOfTheActiveShortcutIsReportedOnlyForIt() {
        HotkeyBackendFake backend;
        GlobalHotkeyService service(backend);
        int failures = 0;
        connect(&service, &GlobalHotkeyService::registrationFailed, this, [&] { ++failures; });
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [] {});
        QVERIFY(backend.failLater(101, HotkeyBackend::statusDeclined)); // already replaced
        QCOMPARE(failures, 0);
        QVERIFY(backend.failLater(102, HotkeyBackend::statusDeclined));
        QCOMPARE(failures, 1);
        QVERIFY(!service.hasHotkey());
        // Nothing is left to release, and the next registration starts afresh.
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QCOMPARE(backend.unregistered, QList<HotkeyHandle>{101});
    }

    void obstaclesLeaveTheTextOnTheClipboard_data() {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("postSucceeds");
        QTest::addColumn<QString>("text");
        QTest::newRow("no synthetic input") << false << true << QStringLiteral("第一行\n第二行");
        QTest::newRow("events could not be posted") << true << false << QStringLiteral("text");
        QTest::newRow("empty text") << false << true << QString();
    }
    void obstaclesLeaveTheTextOnTheClipboard() {
        QFETCH(bool, available);
        QFETCH(bool, postSucceeds);
        QFETCH(QString, text);
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.available = available;
        keyboard.postSucceeds = postSucceeds;
        pasteboard.setString(QStringLiteral("earlier"));
        TextInsertionService service(pasteboard, keyboard, quick);
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::copiedOnly);
        QCOMPARE(pasteboard.content, std::optional<QString>(text));
        QCOMPARE(keyboard.pastes, 0);
    }

    void aRefusedClipboardWriteIsReportedAndNothingIsPasted() {
        // Pasting now would insert whatever the clipboard held before, not this text.
        PasteboardFake pasteboard;
        pasteboard.accepts = false;
        SyntheticKeyboardFake keyboard;
        TextInsertionService service(pasteboard, keyboard, quick);
        QCOMPARE(test::run(service.insert(QStringLiteral("没有写进去"))), TextInsertionResult::notCopied);
        QCOMPARE(keyboard.postAttempts, 0);
    }

    void pasteWaitsForTheModifiersButNotPastTheLimit_data() {
        QTest::addColumn<int>("releasedAfter");
        QTest::addColumn<bool>("postedWhileHeld");
        QTest::newRow("released in time") << 30 << false;
        QTest::newRow("held past the limit") << 5000 << true;
    }
    void pasteWaitsForTheModifiersButNotPastTheLimit() {
        QFETCH(int, releasedAfter);
        QFETCH(bool, postedWhileHeld);
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        TextInsertionService service(pasteboard, keyboard, {300ms, 2ms, 1ms});
        QTimer::singleShot(releasedAfter, [&] { keyboard.modifierHeld = false; });
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QCOMPARE(keyboard.postedWhileHeld, postedWhileHeld);
        QCOMPARE(keyboard.pastes, 1);
    }

    // WM_CLASS gives an instance and a class; a Wayland app id comes alone.
    void terminalsGetControlShiftV_data() {
        QTest::addColumn<QStringList>("classes");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("only the class names a terminal") << QStringList{"paste-target", "XTerm"} << true;
        QTest::newRow("only the instance names a terminal") << QStringList{"kitty", "Other"} << true;
        QTest::newRow("case differs") << QStringList{"ALACRITTY"} << true;
        QTest::newRow("text field") << QStringList{"gedit", "Gedit"} << false;
        // Whole names only: short terminal names must not swallow longer ones.
        QTest::newRow("contains st") << QStringList{"steam", "Steam"} << false;
        QTest::newRow("terminal name inside a longer one") << QStringList{"xterm-launcher"} << false;
        QTest::newRow("nothing focused") << QStringList{} << false;
    }
    void terminalsGetControlShiftV() {
        QFETCH(QStringList, classes);
        QFETCH(bool, terminal);
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.focusedClasses = classes;
        TextInsertionService service(pasteboard, keyboard, quick);
        QCOMPARE(test::run(service.insert(QStringLiteral("ls -la"))), TextInsertionResult::inserted);
        QCOMPARE(keyboard.shortcuts,
                 std::vector<PasteShortcut>{terminal ? PasteShortcut::controlShift : PasteShortcut::control});
    }

    // The shortcut is chosen for the window focused when the paste is posted, not while the user
    // still held the hotkey.
    void theWindowFocusedAtPostingTimeDecides() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        keyboard.focusedClasses = {"gedit", "Gedit"};
        TextInsertionService service(pasteboard, keyboard, {2s, 2ms, 1ms});
        QTimer::singleShot(30ms, [&] {
            keyboard.focusedClasses = {"konsole", "konsole"};
            keyboard.modifierHeld = false;
        });
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QCOMPARE(keyboard.shortcuts, std::vector<PasteShortcut>{PasteShortcut::controlShift});
    }

    void serviceDestroyedWhileWaitingPostsNothing() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        auto* service = new TextInsertionService(pasteboard, keyboard, {5s, 2ms, 1ms});
        QTimer::singleShot(20ms, [&] { delete service; });
        QCOMPARE(test::run(service->insert(QStringLiteral("留在剪贴板"))), TextInsertionResult::copiedOnly);
        QCOMPARE(keyboard.postAttempts, 0);
        QCOMPARE(pasteboard.string(), QStringLiteral("留在剪贴板"));
    }

    void entryIsWrittenAndRemovedInTheConfigHome() {
        test::TestEnvironment environment;
        LoginItemBackendXdg backend(makeProgram(environment.root() + "/bin/murmelo"));
        QCOMPARE(backend.entryPath(), environment.configHome() + "/autostart/com.murmelo.Murmelo.desktop");
        QCOMPARE(backend.status(), LoginItemStatus::notRegistered);
        backend.registerItem();
        QCOMPARE(backend.status(), LoginItemStatus::enabled);
        backend.unregisterItem();
        QVERIFY(!QFile::exists(backend.entryPath()));

        LoginItemBackendXdg running; // the running executable by default
        running.registerItem();
        const auto keys = desktopentry::readMainGroup(test::readAll(running.entryPath()));
        QCOMPARE(desktopentry::parseExec(keys.value(QStringLiteral("Exec"))),
                 std::optional<QStringList>(QStringList{QCoreApplication::applicationFilePath()}));
    }

    void statusReadsHiddenDisabledAndMissingEntries_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<LoginItemStatus>("status");
        const QByteArray exec = "[Desktop Entry]\nExec=\"@PROGRAM@\" --flag\n";
        QTest::newRow("ours") << exec << LoginItemStatus::enabled;
        QTest::newRow("hidden by the user") << exec + "Hidden=true\n" << LoginItemStatus::notRegistered;
        QTest::newRow("switched off in GNOME")
            << exec + "X-GNOME-Autostart-enabled=false\n" << LoginItemStatus::notRegistered;
        QTest::newRow("program gone")
            << QByteArray("[Desktop Entry]\nExec=\"/nonexistent/murmelo\"\n") << LoginItemStatus::notFound;
        QTest::newRow("broken quoting")
            << QByteArray("[Desktop Entry]\nExec=\"@PROGRAM@\n") << LoginItemStatus::notFound;
        QTest::newRow("Exec of another group only")
            << QByteArray("[Desktop Entry]\nName=x\n[Desktop Action a]\nExec=\"@PROGRAM@\"\n")
            << LoginItemStatus::notFound;
    }
    void statusReadsHiddenDisabledAndMissingEntries() {
        QFETCH(QByteArray, content);
        QFETCH(LoginItemStatus, status);
        test::TestEnvironment environment;
        const QString program = makeProgram(environment.root() + "/bin/murmelo");
        LoginItemBackendXdg backend(program);
        test::writeFile(backend.entryPath(), content.replace("@PROGRAM@", program.toUtf8()));
        QCOMPARE(backend.status(), status);
        // Switching the option on replaces a hidden or stale entry.
        LaunchAtLoginService(backend).setEnabled(true);
        QCOMPARE(backend.status(), LoginItemStatus::enabled);
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

    void anotherLauncherStartsTheEntryAtAnAwkwardPath() {
        // GLib's launcher is an independent reader of the same rules: if it starts the program,
        // the quoting is right. (No "%" there: GLib checks the program before it undoes "%%".)
        QCOMPARE(desktopentry::execValue({"/opt/100%/m"}), QStringLiteral("\"/opt/100%%/m\""));
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty()) QSKIP("gio is not installed");
        test::TestEnvironment environment;
        const QString directory = environment.root() + QStringLiteral("/bin/my \"apps\" $HOME `x` a\\b 中文");
        const QString marker = environment.root() + QStringLiteral("/started");
        const QString program = makeProgram(directory + QStringLiteral("/murmelo"),
                                            "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.toUtf8() + "'\n");
        LoginItemBackendXdg backend(program);
        backend.registerItem();
        QCOMPARE(backend.status(), LoginItemStatus::enabled);

        QProcess launcher;
        launcher.start(gio, {QStringLiteral("launch"), backend.entryPath()});
        QVERIFY(launcher.waitForFinished(20000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(!test::readAll(marker).isEmpty(), 10000);
        QCOMPARE(QString::fromUtf8(test::readAll(marker)), program);
    }
};

QTEST_GUILESS_MAIN(SystemServicesTest)
#include "tst_SystemServices.moc"

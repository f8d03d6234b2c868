// Murmelo's Wayland back ends, and the built murmelo, in a private session as a user's would be: a
// headless sway that the wlroots back ends reach as any client does, and the installed
// xdg-desktop-portal with portal-mock.py (beside this file) as the desktop's back end behind it.
// scripts/setup installs sway, the portal and their helpers: a missing one fails.
#include "AsyncTest.h"
#include "HeadlessSway.h"
#include "KeyringSession.h"
#include "PulseAudioServer.h"
#include "SecretBackendFake.h"
#include "TestDisplay.h"
#include "portal/HotkeyBackendPortal.h"
#include "portal/SyntheticKeyboardPortal.h"
#include "refinement/MockTextRefinementProvider.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "wayland/PasteboardWlClipboard.h"
#include "wayland/SyntheticKeyboardWtype.h"

#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QJsonObject>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class WaylandSessionTest : public QObject {
    Q_OBJECT

    // Private HOME, XDG folders and session bus for this process and everything it starts.
    test::KeyringSession m_session{test::KeyringSession::Service::none};
    test::ChildProcesses m_sway;
    test::ChildProcesses m_portals;
    test::ChildProcesses m_windows; // and murmelo
    QProcess* m_mock = nullptr;
    QProcess* m_installedPortal = nullptr;
    std::unique_ptr<PasteboardWlClipboard> m_pasteboard;
    std::unique_ptr<SyntheticKeyboardWtype> m_keyboard;
    int m_releases = 0;

    QString root() { return m_session.environment().root(); }

    static inline const portal::PortalTimeouts quick{2s, 5s, 300ms};

    static bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
        return test::runToEnd(QProcessEnvironment::systemEnvironment(), program, arguments, output, 10s);
    }

    // The private session bus, once the test's session has started it.
    static QDBusConnection bus() { return QDBusConnection::sessionBus(); }

    // Waits until `process` owns `name`; the bus hands a name on to the next in line when its owner ends.
    static bool owns(const QString& name, const QProcess* process) {
        const auto owner = [&] { return bus().interface()->servicePid(name).value(); };
        return test::waitUntil([&] { return owner() == uint(process->processId()); }, 10s, 20ms);
    }

    static QStringList mock(const QString& method, const QVariantList& arguments = {}) {
        const QString name = "com.murmelo.test.PortalMock";
        QDBusMessage call = QDBusMessage::createMethodCall(name, "/", name, method);
        call.setArguments(arguments);
        return bus().call(call, QDBus::Block, 5000).arguments().value(0).toStringList();
    }

    static void rowsFrom(const char* file) { test::rowsFromJson(QFINDTESTDATA(file)); }

    static bool started(SyntheticKeyboardPortal& keyboard) {
        test::waitUntil([&] { return keyboard.state() != SyntheticKeyboardPortal::State::starting; }, 5s);
        return keyboard.isAvailable();
    }

    // The mock first, holding the portal's name until the installed portal replaces it.
    bool startPortal() {
        const QString mockFile = QFINDTESTDATA("portal-mock.py");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        m_mock = m_portals.start(environment, root(), "/usr/bin/python3", {mockFile});
        if (!owns("com.murmelo.test.PortalMock", m_mock)) return false;
        environment.insert("XDG_DESKTOP_PORTAL_DIR", QFileInfo(mockFile).path()); // murmelotest.portal
        environment.insert("XDG_CURRENT_DESKTOP", "murmelotest");
        m_installedPortal =
            m_portals.start(environment, root(), "/usr/libexec/xdg-desktop-portal", {"--replace"});
        return owns(portal::service, m_installedPortal);
    }

    // A paste target window as the application `appId`, which sway focuses as it opens: the file
    // its text is kept in (its key log beside it), or nothing when it did not open.
    QString openWindow(const QString& appId = "murmelo-paste-target") {
        const QString text = root() + "/" + appId;
        const bool opened = m_windows.startAndWait(
            QProcessEnvironment::systemEnvironment(), root(), test::PasteTarget::programPath(),
            {"--app-id", appId, text, text + ".changes"}, [&] { return QFile::exists(text + ".ready"); },
            15s);
        return opened ? text : QString();
    }
    static QString textOf(const QString& window) { return QString::fromUtf8(test::readAll(window)); }

    bool overlayShows(const QString& title) {
        const QByteArray shown = ("\"Murmelo — " + title).toUtf8();
        QByteArray tree;
        return test::waitUntil(
            [&] {
                return run("swaymsg", {"-t", "get_tree"}, &tree) && tree.contains(shown);
            },
            15s, 50ms);
    }

    // Waits until the mock has logged `line` since the test began.
    static bool logged(const QString& line) {
        return test::waitUntil([&] { return mock("Log").contains(line); }, 5s, 20ms);
    }

public slots:
    void released() { ++m_releases; }

private slots:
    void initTestCase() {
        QVERIFY(m_session.isReady());
        QVERIFY2(test::startHeadlessSway(m_session.environment(), m_sway),
                 test::readAll(root() + "/setpriv.log").right(2000).constData());
        m_session.environment().set("QT_QPA_PLATFORM", "wayland");
        m_session.environment().unset("XDG_SESSION_TYPE"); // murmelo picks its back ends itself
        m_session.environment().unset("MURMELO_SESSION");
        m_pasteboard = PasteboardWlClipboard::createIfSupported(); // sway offers data-control
        m_keyboard = SyntheticKeyboardWtype::createIfSupported();  // and virtual-keyboard
        QVERIFY(m_pasteboard && m_keyboard);
        QVERIFY2(startPortal(), test::readAll(root() + "/python3.log").constData());
        bus().connect(portal::service, portal::objectPath, "org.freedesktop.portal.GlobalShortcuts",
                      "Deactivated", this, SLOT(released()));
    }

    void init() { mock("Reset"); }

    void cleanup() { m_windows.stopAll(); }

    // Too large for a command line, looking like an option, with Chinese, emoji and line breaks.
    void clipboardHoldsTheTextByteExact() {
        QString text = "--clear 中文：Murmelo 🎙\n第二行\n";
        while (text.size() < 200 * 1024)
            text += QStringLiteral("第%1行 🎙 \"quotes\" \t$HOME\n").arg(text.size());
        QVERIFY(test::run(m_pasteboard->replaceContents(text)));
        QByteArray pasted;
        QVERIFY(run("wl-paste", {"--no-newline"}, &pasted));
        QCOMPARE(pasted, text.toUtf8());
    }

    void failedHelpersAreReportedNotClaimed() {
        QVERIFY(!test::run(PasteboardWlClipboard("false", "false").replaceContents("中文")));
        QVERIFY(!test::run(SyntheticKeyboardWtype("false").postPasteShortcut(PasteShortcut::control)));
    }

    // Two copies in quick succession (a history row, then the panel): the slower first write must
    // not land after the second.
    void quickWritesReachTheClipboardInCallOrder() {
        const QString script = root() + "/slow-wl-copy";
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\ntext=$(cat)\n[ \"$text\" = first ] && sleep 0.3\necho \"$text\" >>\"$0.log\"\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        PasteboardWlClipboard board(script, "false");
        QCoro::Task<bool> first = board.replaceContents("first");
        QCoro::Task<bool> second = board.replaceContents("second");
        QVERIFY(test::run(std::move(first)) && test::run(std::move(second)));
        QCOMPARE(test::readAll(script + ".log"), QByteArray("first\nsecond\n"));
    }

    // Each paste makes a new virtual keyboard, whose first key the compositor may drop: each of
    // several pastes in a row must arrive whole. A window with foot's app id stands in for the
    // terminal: the activated window decides the chord.
    void everyPasteArrivesWholeWithTheChordOfTheActivatedWindow() {
        const QString terminal = openWindow("foot");
        const QString editor = openWindow("org.example.Editor");
        QVERIFY(!terminal.isEmpty() && !editor.isEmpty());
        // The chord follows the activated window as this process last heard of it.
        QVERIFY(test::waitUntil(
            [&] {
                return test::run(m_keyboard->focusedWindowClasses()) == QStringList{"org.example.Editor"};
            },
            5s));
        TextInsertionService service(*m_pasteboard, *m_keyboard);
        for (int paste = 1; paste <= 10; ++paste) {
            QCOMPARE(test::run(service.insert("echo 你好")), TextInsertionResult::inserted);
            const QString expected = QString("echo 你好").repeated(paste);
            QVERIFY2(test::waitUntil([&] { return textOf(editor) == expected; }, 10s),
                     qPrintable(textOf(editor) + " after keys " +
                                test::chordsInKeyLog(QString::fromUtf8(test::readAll(editor + ".keys")))
                                    .join(' ')));
        }
        QVERIFY(run("swaymsg", {"[app_id=\"foot\"] focus"}));
        QVERIFY(test::waitUntil(
            [&] { return test::run(m_keyboard->focusedWindowClasses()) == QStringList{"foot"}; }, 5s));
        QCOMPARE(test::run(service.insert("echo 你好")), TextInsertionResult::inserted);
        const auto chords = [&] {
            return test::chordsInKeyLog(QString::fromUtf8(test::readAll(terminal + ".keys")));
        };
        QVERIFY(test::waitUntil([&] { return chords() == QStringList{"Ctrl+Shift+V"}; }, 10s));
    }

    // The portal's trigger syntax names every modifier; the replaced shortcut's session is closed,
    // so the desktop forgets its keys; each press runs the action once, and its release the
    // release action (hold to talk).
    void presetIsBoundWithItsKeysAndReplacesTheOldOneAndRunsOncePerPressAndRelease() {
        HotkeyBackendPortal backend(bus(), quick);
        GlobalHotkeyService service(backend);
        int runs = 0, releases = 0;
        service.setReleaseAction([&] { ++releases; });
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        QVERIFY(logged("Bind CTRL+ALT+space"));
        service.registerHotkey(HotkeyPreset::commandShiftSpace, [&] { ++runs; });
        QVERIFY(logged("Bind LOGO+SHIFT+space") && logged("Close CTRL+ALT+space"));
        mock("Press", {HotkeyBackendPortal::shortcutId});
        mock("Press", {HotkeyBackendPortal::shortcutId});
        // Once the last release has reached this process, so have both presses.
        QVERIFY(test::waitUntil([&] { return m_releases == 2; }, 5s));
        QCoreApplication::processEvents(); // the actions the presses queued
        QCOMPARE(runs, 2);
        QCOMPARE(releases, 2);
    }

    // The desktop keeps both shortcuts bound while idle: the cancel one must neither toggle nor
    // act outside a dictation.
    void cancelShortcutIsBoundBesideTheToggleAndCancelsOnlyWhileArmed() {
        HotkeyBackendPortal backend(bus(), quick);
        CancelKeyPortal cancelKey(backend);
        GlobalHotkeyService service(backend);
        int runs = 0, cancels = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        QVERIFY(logged("Bind CTRL+ALT+space") && logged("Bind CTRL+ALT+Escape"));
        const auto press = [&] {
            const int releases = m_releases;
            mock("Press", {HotkeyBackendPortal::cancelShortcutId});
            QVERIFY(test::waitUntil([&] { return m_releases == releases + 1; }, 5s));
            QCoreApplication::processEvents(); // what the press queued
        };
        press();
        QVERIFY(cancelKey.arm([&] { ++cancels; }));
        press();
        cancelKey.disarm();
        press();
        QCOMPARE(cancels, 1);
        QCOMPARE(runs, 0);
    }

    void declinedChangeKeepsTheOldShortcutFiring() {
        HotkeyBackendPortal backend(bus(), quick);
        GlobalHotkeyService service(backend);
        int runs = 0;
        bool refused = false;
        connect(&service, &GlobalHotkeyService::registrationFailed, this, [&] { refused = true; });
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        QTRY_VERIFY_WITH_TIMEOUT(service.hasHotkey(), 5000);
        mock("SetResponse", {"BindShortcuts", 1});
        service.registerHotkey(HotkeyPreset::commandShiftSpace, [&] { ++runs; });
        QTRY_VERIFY_WITH_TIMEOUT(refused, 5000);
        mock("SetResponse", {"BindShortcuts", 0});
        QVERIFY(logged("Close LOGO+SHIFT+space")); // so the press reaches the old session only
        const int releases = m_releases;
        mock("Press", {HotkeyBackendPortal::shortcutId});
        QVERIFY(test::waitUntil([&] { return m_releases == releases + 1; }, 5s));
        QCoreApplication::processEvents(); // the action the press queued
        QCOMPARE(runs, 1);
    }

    void refusedUnansweredOrEndedShortcutIsReported_data() { rowsFrom("shortcut_refusals.json"); }
    void refusedUnansweredOrEndedShortcutIsReported() {
        QFETCH(QJsonObject, row); // answer: the bind's response code; -1: never answered
        mock("SetResponse", {"BindShortcuts", row["answer"].toInt()});
        HotkeyBackendPortal backend(bus(), quick);
        QList<qint32> failures;
        backend.setFailureHandler([&](HotkeyHandle, qint32 failure) { failures << failure; });
        HotkeyHandle handle = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlOptionSpace), {}, handle), 0);
        if (row["endedByTheDesktop"].toBool()) {
            QVERIFY(logged("Bind CTRL+ALT+space"));
            mock("CloseSessions");
        }
        const qint32 status =
            row["status"].isString() ? HotkeyBackend::statusDeclined : row["status"].toInt();
        QTRY_COMPARE_WITH_TIMEOUT(failures, QList<qint32>{status}, 5000);
        QVERIFY(row["answer"].toInt() >= 0 || logged("CloseRequest"));
    }

    void keyboardPostsThePasteAsKeysymsInOrderOnlyWhileGranted_data() { rowsFrom("keyboard_grants.json"); }
    void keyboardPostsThePasteAsKeysymsInOrderOnlyWhileGranted() {
        QFETCH(QJsonObject, row); // keys: keysym and state (Control_L 65507, Shift_L 65505, v 118; 1 down)
        const auto shortcut = row["shift"].toBool() ? PasteShortcut::controlShift : PasteShortcut::control;
        const QString keys = row["keys"].toString();
        mock("SetResponse", {"Start", row["startAnswer"].toInt()});
        const auto secrets = std::make_shared<SecretBackendFake>();
        const auto keyboard = SyntheticKeyboardPortal::create(secrets, bus(), quick);
        QVERIFY(keyboard);
        QCOMPARE(started(*keyboard), row["startAnswer"].toInt() == 0);
        if (row["endedByTheDesktop"].toBool()) mock("CloseSessions");
        QTRY_COMPARE_WITH_TIMEOUT(keyboard->isAvailable(), !keys.isEmpty(), 5000);
        QCOMPARE(test::run(keyboard->postPasteShortcut(shortcut)), !keys.isEmpty());
        QCOMPARE(mock("Log").filter("Keysym ").join(", ").remove("Keysym "), keys);
    }

    // With the installed portal gone, the mock takes its name as a newer portal, whose tokens grow
    // from the one presented.
    void restoreTokenIsKeptInTheKeyringPresentedAtTheNextStartAndDroppedWhenRefused() {
        m_portals.stop(m_installedPortal);
        QVERIFY(owns(portal::service, m_mock));
        auto secrets = std::make_shared<SecretBackendFake>();
        for (const char* token : {"token+", "token++"}) {
            const auto keyboard = SyntheticKeyboardPortal::create(secrets, bus(), quick);
            QVERIFY(keyboard && started(*keyboard));
            QCOMPARE(secrets->items.values(), QList<QByteArray>{token});
        }
        mock("SetResponse", {"SelectDevices", 2});
        const auto refused = SyntheticKeyboardPortal::create(secrets, bus(), quick);
        QVERIFY(refused && !started(*refused));
        QVERIFY(secrets->items.isEmpty());
    }

    // Runs last, with no portal left: the overlay says how to bind `murmelo --toggle`, and the
    // command dictates into the focused window (the overlay, which takes the focus on Wayland,
    // leaves before the paste).
    void toggleCommandDictatesIntoTheFocusedWindowWithoutAShortcutService() {
        m_portals.stopAll();
        test::PulseAudioServer audio;
        QString error;
        QVERIFY2(audio.start(&error), qPrintable(error));
        test::MicrophoneFeeder microphone(audio.microphoneFifo());
        QVERIFY(microphone.play(test::stereoSilence(0.5), true));
        m_session.environment().set("PULSE_SERVER", audio.address().toUtf8());
        const QString window = openWindow();
        QVERIFY(!window.isEmpty());
        const QString murmelo = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo";
        m_windows.start(QProcessEnvironment::systemEnvironment(), root(), murmelo, {});
        QVERIFY(overlayShows(
            "当前桌面不提供全局快捷键服务，请在桌面的键盘设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QVERIFY(run(murmelo, {"--toggle"}));
        QVERIFY(overlayShows("正在录音"));
        QTest::qWait(800); // the user speaks
        QVERIFY(run(murmelo, {"--toggle"}));
        QVERIFY2(test::waitUntil(
                     [&] { return textOf(window) == MockTextRefinementProvider::smartDictationText(); }, 15s),
                 qPrintable(QString::fromUtf8(test::readAll(root() + "/murmelo.log")) + " keys: " +
                            test::chordsInKeyLog(QString::fromUtf8(test::readAll(window + ".keys"))).join(' ')));
    }
};

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "tst_WaylandSession.moc"

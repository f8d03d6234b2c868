// The portal back ends (global shortcut, keyboard) against the installed xdg-desktop-portal on a
// private bus, with tests/support/portal-mock.py as the desktop's back end behind it.
#include "KeyringSession.h"
#include "SecretBackendFake.h"
#include "TestDisplay.h"
#include "portal/HotkeyBackendPortal.h"
#include "portal/SyntheticKeyboardPortal.h"
#include "system/GlobalHotkeyService.h"

#include <QDBusConnectionInterface>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const portal::PortalTimeouts quick{2s, 5s, 300ms};
const QString mockName = QStringLiteral("org.freedesktop.impl.portal.desktop.murmelotest");
const SecretBackendFake::Key tokenKey{SyntheticKeyboardPortal::secretService,
                                      SyntheticKeyboardPortal::secretAccount};

bool started(SyntheticKeyboardPortal& keyboard) {
    return QTest::qWaitFor([&] { return keyboard.state() != SyntheticKeyboardPortal::State::starting; },
                           5000) &&
           keyboard.isAvailable();
}

} // namespace

class DesktopPortalTest : public QObject {
    Q_OBJECT

    test::KeyringSession m_bus{test::KeyringSession::Service::none};
    test::ChildProcesses m_children;
    QStringList m_log;
    int m_releases = 0;

    QDBusConnection connection() const { return QDBusConnection("murmelo-portal-test"); }

    // Waits until `process` owns `name` (not the one stopped before it).
    bool owns(const QString& name, const QProcess* process) {
        const auto owner = [&] { return connection().interface()->servicePid(name).value(); };
        return test::waitUntil([&] { return owner() == uint(process->processId()); }, 10s, 20ms);
    }

    // The installed portal with the mock behind it, or the mock alone as a newer portal.
    bool startPortal(bool newer) {
        m_children.stopAll();
        const QString root = m_bus.environment().root();
        QStringList arguments{qEnvironmentVariable("MURMELO_PORTAL_MOCK")};
        if (newer) arguments << "--newer-portal";
        const bool mockUp =
            owns("com.murmelo.test.PortalMock", m_children.start(QProcessEnvironment::systemEnvironment(),
                                                                 root, "/usr/bin/python3", arguments));
        if (!mockUp) qWarning("the mock did not start: %s", test::readAll(root + "/python3.log").constData());
        if (!mockUp || newer) return mockUp;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DESKTOP_PORTAL_DIR", root + "/portals");
        environment.insert("XDG_CURRENT_DESKTOP", "murmelotest");
        return owns(portal::service,
                    m_children.start(environment, root, "/usr/libexec/xdg-desktop-portal", {}));
    }

    QStringList mock(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall("com.murmelo.test.PortalMock", "/",
                                                           "com.murmelo.test.PortalMock", method);
        call.setArguments(arguments);
        const QDBusMessage reply = connection().call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            qWarning("mock: %s", qPrintable(reply.errorMessage()));
        return reply.arguments().value(0).toStringList();
    }

    // Waits until the mock has logged `line` since the test began.
    bool logged(const QString& line) {
        return test::waitUntil([&] { return (m_log += mock("Log")).contains(line); }, 5s, 20ms);
    }

    // A press of the shortcut; once its release has reached this process, the back end has been
    // handed the press as well.
    bool press() {
        const int before = m_releases;
        mock("Press", {HotkeyBackendPortal::shortcutId});
        const bool released = QTest::qWaitFor([&] { return m_releases > before; }, 5000);
        QCoreApplication::processEvents(); // the action the press queued
        return released;
    }

public slots:
    void released() { ++m_releases; }

private slots:
    void initTestCase() {
        QVERIFY2(m_bus.isReady(), qPrintable(m_bus.errorString()));
        QVERIFY(QDBusConnection::connectToBus(m_bus.busAddress(), "murmelo-portal-test").isConnected());
        test::writeFile(m_bus.environment().root() + "/portals/murmelotest.portal",
                        "[portal]\nDBusName=" + mockName.toUtf8() +
                            "\nInterfaces=org.freedesktop.impl.portal.GlobalShortcuts;"
                            "org.freedesktop.impl.portal.RemoteDesktop;\nUseIn=murmelotest\n");
        QVERIFY(startPortal(false));
        connection().connect(portal::service, portal::objectPath, "org.freedesktop.portal.GlobalShortcuts",
                             "Deactivated", this, SLOT(released()));
    }

    void init() {
        mock("Reset");
        m_log.clear();
    }

    void presetIsBoundWithItsKeysAndReplacesTheOldOneAndRunsOncePerPress_data() {
        QTest::addColumn<HotkeyPreset>("preset");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("Control + Option + Space") << HotkeyPreset::controlOptionSpace << "CTRL+ALT+space";
        QTest::newRow("Command + Shift + Space") << HotkeyPreset::commandShiftSpace << "LOGO+SHIFT+space";
    }
    void presetIsBoundWithItsKeysAndReplacesTheOldOneAndRunsOncePerPress() {
        QFETCH(HotkeyPreset, preset);
        QFETCH(QString, trigger);
        HotkeyBackendPortal backend(connection(), quick);
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { ++runs; });
        QVERIFY(logged("Bind CTRL+SHIFT+space"));
        // The replaced shortcut's session is closed, so the desktop forgets its keys.
        service.registerHotkey(preset, [&] { ++runs; });
        QVERIFY(logged("Bind " + trigger));
        QVERIFY(logged("Close CTRL+SHIFT+space"));
        QVERIFY(press());
        QVERIFY(press());
        QCOMPARE(runs, 2);
    }

    void refusedUnansweredOrEndedShortcutIsReported_data() {
        QTest::addColumn<int>("answer"); // the bind's response code; -1: never answered
        QTest::addColumn<bool>("endedByTheDesktop");
        QTest::addColumn<qint32>("status");
        QTest::newRow("cancelled by the user") << 1 << false << HotkeyBackend::statusDeclined;
        QTest::newRow("other refusal") << 2 << false << qint32(2);
        QTest::newRow("never answered: its dialog is closed") << -1 << false << HotkeyBackend::statusDeclined;
        QTest::newRow("ended by the desktop") << 0 << true << HotkeyBackend::statusDeclined;
    }
    void refusedUnansweredOrEndedShortcutIsReported() {
        QFETCH(int, answer);
        QFETCH(bool, endedByTheDesktop);
        QFETCH(qint32, status);
        mock("SetResponse", {"BindShortcuts", answer});
        HotkeyBackendPortal backend(connection(), quick);
        QList<qint32> failures;
        backend.setFailureHandler([&](HotkeyHandle, qint32 failure) { failures << failure; });
        HotkeyHandle handle = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlOptionSpace), {}, handle), 0);
        if (endedByTheDesktop) {
            QVERIFY(logged("Bind CTRL+ALT+space"));
            mock("CloseSessions");
        }
        QTRY_COMPARE_WITH_TIMEOUT(failures, QList<qint32>{status}, 5000);
        if (answer < 0) QVERIFY(logged("CloseRequest"));
    }

    void keyboardPostsThePasteAsKeysymsInOrderOnlyWhileGranted_data() {
        QTest::addColumn<PasteShortcut>("shortcut");
        QTest::addColumn<int>("startAnswer"); // the response code of the session's start
        QTest::addColumn<bool>("endedByTheDesktop");
        QTest::addColumn<QString>("keys"); // keysym and state: Control_L 65507, Shift_L 65505, v 118; 1 down
        QTest::newRow("Ctrl+V") << PasteShortcut::control << 0 << false << "65507 1, 118 1, 118 0, 65507 0";
        QTest::newRow("Ctrl+Shift+V") << PasteShortcut::controlShift << 0 << false
                                      << "65507 1, 65505 1, 118 1, 118 0, 65505 0, 65507 0";
        QTest::newRow("refused by the user") << PasteShortcut::control << 1 << false << QString();
        QTest::newRow("ended by the desktop") << PasteShortcut::control << 0 << true << QString();
    }
    void keyboardPostsThePasteAsKeysymsInOrderOnlyWhileGranted() {
        QFETCH(PasteShortcut, shortcut);
        QFETCH(int, startAnswer);
        QFETCH(bool, endedByTheDesktop);
        QFETCH(QString, keys);
        mock("SetResponse", {"Start", startAnswer});
        auto secrets = std::make_shared<SecretBackendFake>();
        secrets->items.insert(tokenKey, "from a newer portal"); // version 1 neither presents nor drops it
        const auto keyboard = SyntheticKeyboardPortal::createIfSupported(secrets, connection(), quick);
        QVERIFY(keyboard && !keyboard->postPasteShortcut(shortcut)); // not started yet
        QCOMPARE(started(*keyboard), startAnswer == 0);
        if (endedByTheDesktop) mock("CloseSessions");
        QTRY_COMPARE_WITH_TIMEOUT(keyboard->isAvailable(), !keys.isEmpty(), 5000);
        QCOMPARE(keyboard->postPasteShortcut(shortcut), !keys.isEmpty());
        QCOMPARE(mock("Log").filter("Keysym ").join(", ").remove("Keysym "), keys);
        QCOMPARE(secrets->items.value(tokenKey), QByteArray("from a newer portal"));
    }

    // Runs last: the mock takes the installed portal's place.
    void restoreTokenIsKeptInTheKeyringPresentedAtTheNextStartAndDroppedWhenRefused() {
        QVERIFY(startPortal(true));
        auto secrets = std::make_shared<SecretBackendFake>();
        for (const char* token : {"token-1", "token-2"}) {
            const auto keyboard = SyntheticKeyboardPortal::createIfSupported(secrets, connection(), quick);
            QVERIFY(keyboard && started(*keyboard));
            QCOMPARE(secrets->items.value(tokenKey), QByteArray(token));
        }
        mock("SetResponse", {"SelectDevices", 2});
        const auto refused = SyntheticKeyboardPortal::createIfSupported(secrets, connection(), quick);
        QVERIFY(refused && !started(*refused));
        QVERIFY(!secrets->items.contains(tokenKey));
        QCOMPARE(mock("Log").filter("SelectDevices"),
                 (QStringList{"SelectDevices restore_token=-", "SelectDevices restore_token=token-1",
                              "SelectDevices restore_token=token-2"}));
    }
};

QTEST_GUILESS_MAIN(DesktopPortalTest)
#include "tst_DesktopPortal.moc"

#include "HotkeyExpectations.h"
#include "PortalSession.h"
#include "portal/HotkeyBackendPortal.h"
#include "system/GlobalHotkeyService.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const portal::PortalTimeouts quick{2s, 5s, 5s};

// Counts the portal's Deactivated signals on the connection the back end uses: once one has
// arrived here, the back end has been handed it too.
class ReleaseCounter final : public QObject {
    Q_OBJECT
public:
    explicit ReleaseCounter(QDBusConnection connection)
        : m_connection(std::move(connection)) {
        m_connection.connect(portal::service, portal::objectPath,
                             QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                             QStringLiteral("Deactivated"), this, SLOT(released()));
    }
    int count = 0;

public slots:
    void released() { ++count; }

private:
    QDBusConnection m_connection;
};

QString bindLine(const QString& trigger) {
    return QStringLiteral("BindShortcuts toggle-dictation ") + trigger +
           QStringLiteral(" 开始或结束语音输入");
}

} // namespace

// The GlobalShortcuts back end against the installed xdg-desktop-portal and our mock back end.
class GlobalShortcutsPortalTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<test::PortalSession> m_portal;

    // Presses and releases the shortcut; true once the release has reached this process.
    bool pressAndRelease(ReleaseCounter& releases) {
        const int before = releases.count;
        if (!m_portal->activate(HotkeyBackendPortal::shortcutId) ||
            !m_portal->deactivate(HotkeyBackendPortal::shortcutId))
            return false;
        if (!QTest::qWaitFor([&] { return releases.count > before; }, 5000)) return false;
        QCoreApplication::processEvents(); // the actions queued by the press
        return true;
    }

private slots:
    void initTestCase() {
        m_portal = std::make_unique<test::PortalSession>();
        QVERIFY2(m_portal->isReady(), qPrintable(m_portal->errorString()));
    }

    void cleanup() {
        QVERIFY(m_portal->setResponse(QStringLiteral("BindShortcuts"), 0));
        // Every test closes what it opened: the back ends are gone by now.
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("Close GlobalShortcuts")).size(),
                                  m_portal->log(QStringLiteral("CreateSession GlobalShortcuts")).size(),
                                  5000);
    }

    void cleanupTestCase() { m_portal.reset(); }

    void eachPresetIsBoundWithItsKeysAndRunsOnKeyDownOnly_data() {
        QTest::addColumn<HotkeyPreset>("preset");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("Control + Alt + Space") << HotkeyPreset::controlOptionSpace << "CTRL+ALT+space";
        QTest::newRow("Control + Shift + Space") << HotkeyPreset::controlShiftSpace << "CTRL+SHIFT+space";
        QTest::newRow("Super + Shift + Space") << HotkeyPreset::commandShiftSpace << "LOGO+SHIFT+space";
    }
    void eachPresetIsBoundWithItsKeysAndRunsOnKeyDownOnly() {
        QFETCH(HotkeyPreset, preset);
        QFETCH(QString, trigger);
        HotkeyBackendPortal backend(m_portal->connection(), quick);
        GlobalHotkeyService service(backend);
        ReleaseCounter releases(m_portal->connection());
        int runs = 0;
        const int binds = m_portal->log(bindLine(trigger)).size();
        service.registerHotkey(preset, [&] { ++runs; });
        QVERIFY(service.hasHotkey());
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(bindLine(trigger)).size(), binds + 1, 5000);
        QVERIFY(pressAndRelease(releases));
        QCOMPARE(runs, 1);
        QVERIFY(pressAndRelease(releases));
        QCOMPARE(runs, 2);
    }

    void replacedShortcutClosesItsSessionAndOnlyTheNewOneRuns() {
        HotkeyBackendPortal backend(m_portal->connection(), quick);
        GlobalHotkeyService service(backend);
        ReleaseCounter releases(m_portal->connection());
        QStringList runs;
        const int closes = m_portal->log(QStringLiteral("Close GlobalShortcuts")).size();
        const int binds = m_portal->log(QStringLiteral("BindShortcuts")).size();
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { runs << "old"; });
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("BindShortcuts")).size(), binds + 1, 5000);
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "new"; });
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("BindShortcuts")).size(), binds + 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("Close GlobalShortcuts")).size(), closes + 1,
                                  5000);
        QVERIFY(pressAndRelease(releases));
        QCOMPARE(runs, QStringList{"new"});
    }

    void refusedBindIsReportedAndLeavesNoShortcut_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled by the user")
            << 1
            << QStringLiteral(
                   "桌面未允许注册全局快捷键，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。");
        QTest::newRow("other failure")
            << 2 << QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（2）。");
    }
    void refusedBindIsReportedAndLeavesNoShortcut() {
        QFETCH(int, code);
        QFETCH(QString, message);
        QVERIFY(m_portal->setResponse(QStringLiteral("BindShortcuts"), code));
        HotkeyBackendPortal backend(m_portal->connection(), quick);
        GlobalHotkeyService service(backend);
        QSignalSpy failures(&service, &GlobalHotkeyService::registrationFailed);
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QVERIFY(service.hasHotkey()); // asked, not answered yet
        QTRY_COMPARE_WITH_TIMEOUT(failures.size(), 1, 5000);
        QCOMPARE(failures.at(0).at(0).toString(), message);
        QVERIFY(!service.hasHotkey());
    }

    void unansweredBindIsDeclinedAndItsDialogClosed() {
        QVERIFY(m_portal->setResponse(QStringLiteral("BindShortcuts"), -1));
        const int closedRequests = m_portal->log(QStringLiteral("CloseRequest")).size();
        HotkeyBackendPortal backend(m_portal->connection(), {2s, 5s, 300ms});
        GlobalHotkeyService service(backend);
        QSignalSpy failures(&service, &GlobalHotkeyService::registrationFailed);
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QTRY_COMPARE_WITH_TIMEOUT(failures.size(), 1, 5000);
        QCOMPARE(failures.at(0).at(0).toString(),
                 QStringLiteral(
                     "桌面未允许注册全局快捷键，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("CloseRequest")).size(), closedRequests + 1,
                                  5000);
        QVERIFY(m_portal->release(QStringLiteral("BindShortcuts"), 0));
    }

    void shortcutEndedByTheDesktopIsReported() {
        HotkeyBackendPortal backend(m_portal->connection(), quick);
        GlobalHotkeyService service(backend);
        QSignalSpy failures(&service, &GlobalHotkeyService::registrationFailed);
        const int binds = m_portal->log(QStringLiteral("BindShortcuts")).size();
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("BindShortcuts")).size(), binds + 1, 5000);
        QVERIFY(m_portal->closeSessions());
        QTRY_COMPARE_WITH_TIMEOUT(failures.size(), 1, 5000);
        QCOMPARE(failures.at(0).at(0).toString(),
                 QStringLiteral(
                     "桌面未允许注册全局快捷键，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QVERIFY(!service.hasHotkey());
    }

    void handleUnregisteredWhileBindingNeverFiresNorFails_data() {
        QTest::addColumn<quint32>("code");
        QTest::newRow("bound afterwards") << 0u;
        QTest::newRow("cancelled afterwards") << 1u;
    }
    void handleUnregisteredWhileBindingNeverFiresNorFails() {
        QFETCH(quint32, code);
        HotkeyBackendPortal backend(m_portal->connection(), quick);
        ReleaseCounter releases(m_portal->connection());
        QList<HotkeyHandle> pressed, failed;
        HotkeyHandle current = 0;
        QCOMPARE(backend.installHandler([&] { pressed << current; }), 0);
        backend.setFailureHandler([&](HotkeyHandle handle, qint32) { failed << handle; });

        QVERIFY(m_portal->setResponse(QStringLiteral("BindShortcuts"), -1));
        const int binds = m_portal->log(QStringLiteral("BindShortcuts")).size();
        const int closes = m_portal->log(QStringLiteral("Close GlobalShortcuts")).size();
        HotkeyHandle early = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlOptionSpace), {}, early), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("BindShortcuts")).size(), binds + 1, 5000);
        backend.unregisterHotKey(early);
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("Close GlobalShortcuts")).size(), closes + 1,
                                  5000);
        QVERIFY(m_portal->setResponse(QStringLiteral("BindShortcuts"), 0));
        QVERIFY(m_portal->release(QStringLiteral("BindShortcuts"), code));

        // A live registration afterwards: its press shows that everything before it was handled.
        HotkeyHandle later = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlShiftSpace), {}, later), 0);
        current = later;
        QTRY_COMPARE_WITH_TIMEOUT(m_portal->log(QStringLiteral("BindShortcuts")).size(), binds + 2, 5000);
        QVERIFY(pressAndRelease(releases));
        QCOMPARE(pressed, QList<HotkeyHandle>{later});
        QVERIFY(failed.isEmpty());
    }

    void portalWithoutGlobalShortcutsTellsTheUserToBindTheToggleCommand() {
        test::PortalSession keyboardOnly({{QStringLiteral("RemoteDesktop")}});
        QVERIFY2(keyboardOnly.isReady(), qPrintable(keyboardOnly.errorString()));
        HotkeyBackendPortal backend(keyboardOnly.connection(), quick);
        GlobalHotkeyService service(backend);
        const auto error = test::registerExpectingError(service, HotkeyPreset::controlOptionSpace, [] {});
        QVERIFY(error);
        QCOMPARE(error->status(), HotkeyBackend::statusNoShortcutService);
        QCOMPARE(error->description(),
                 QStringLiteral(
                     "当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QVERIFY(keyboardOnly.log(QStringLiteral("CreateSession")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(GlobalShortcutsPortalTest)
#include "tst_GlobalShortcutsPortal.moc"

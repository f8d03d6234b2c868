#include "HotkeyExpectations.h"
#include "RivalClient.h"
#include "TestDisplay.h"
#include "system/GlobalHotkeyService.h"
#include "x11/HotkeyBackendX11.h"

#include <QRasterWindow>
#include <QTest>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <X11/keysym.h>

#include <cstdlib>
#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Modifier bits of the test server's standard keymap (Alt = Mod1, Num Lock = Mod2), written
// out here so the tests do not lean on the lookup they check.
constexpr quint16 control = XCB_MOD_MASK_CONTROL;
constexpr quint16 alt = XCB_MOD_MASK_1;
constexpr quint16 numLock = XCB_MOD_MASK_2;

using test::RivalClient;

using test::registerExpectingError;

} // namespace

class GlobalHotkeyX11Test : public QObject {
    Q_OBJECT
public:
    explicit GlobalHotkeyX11Test(test::TestDisplay& display)
        : m_display(display) {}

private:
    bool press(const QString& keys) {
        return m_display.run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
    }

    test::TestDisplay& m_display;

private slots:
    void eachPresetRunsItsActionWhenPressed_data() {
        QTest::addColumn<HotkeyPreset>("preset");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("otherKeys");
        QTest::newRow("Control + Alt + Space") << HotkeyPreset::controlOptionSpace << "ctrl+alt+space"
                                               << "ctrl+shift+space";
        QTest::newRow("Control + Shift + Space") << HotkeyPreset::controlShiftSpace << "ctrl+shift+space"
                                                 << "ctrl+alt+space";
        QTest::newRow("Super + Shift + Space") << HotkeyPreset::commandShiftSpace << "super+shift+space"
                                               << "ctrl+shift+space";
    }
    void eachPresetRunsItsActionWhenPressed() {
        QFETCH(HotkeyPreset, preset);
        QFETCH(QString, keys);
        QFETCH(QString, otherKeys);
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(preset, [&] { ++runs; });
        // Another preset's keys first: they must not count, and they arrive before ours.
        QVERIFY(press(otherKeys));
        QVERIFY(press(keys));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
        QVERIFY(press(keys));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 5000);
    }

    void shortcutWorksWithNumLockAndCapsLockOn() {
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
        QVERIFY(press(QStringLiteral("Caps_Lock")));
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 5000);
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 3, 5000);
        QVERIFY(press(QStringLiteral("Caps_Lock")));
    }

    void shortcutReachesUsWhileOurOwnWindowHasTheFocus() {
        QRasterWindow window;
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 5000));
        // As a pager would: openbox keeps new windows of an untouched application unfocused.
        QVERIFY(m_display.run(
            QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window.winId())}));
        QVERIFY(QTest::qWaitForWindowActive(&window, 5000));
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { ++runs; });
        QVERIFY(press(QStringLiteral("ctrl+shift+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
    }

    void heldShortcutRunsTheActionOnce() {
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        // Held past the server's auto-repeat delay (660 ms), so repeats are generated.
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"),
                          {QStringLiteral("keydown"), QStringLiteral("ctrl+alt+space"),
                           QStringLiteral("sleep"), QStringLiteral("1.2"), QStringLiteral("keyup"),
                           QStringLiteral("space"), QStringLiteral("keyup"), QStringLiteral("ctrl+alt")}));
        QVERIFY(press(QStringLiteral("ctrl+alt+space"))); // a second, real press
        QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 5000);
        QCoreApplication::processEvents();
        QCOMPARE(runs, 2);
    }

    void rivalGrabFailsWithBadAccessAndTheOldShortcutKeepsWorking() {
        RivalClient rival(m_display.name());
        QVERIFY(rival.grabSpace(control | alt));
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "old"; });
        const auto error =
            registerExpectingError(service, HotkeyPreset::controlOptionSpace, [&] { runs << "new"; });
        QVERIFY(error);
        QCOMPARE(error->kind(), GlobalHotkeyError::Case::registerHotKey);
        QCOMPARE(error->status(), 10);
        QCOMPARE(error->description(), QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（10）。"));
        QCOMPARE(service.nextRegistrationId(), quint32(2));
        QVERIFY(press(QStringLiteral("ctrl+shift+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, QStringList{"new"}, 5000);
    }

    void refusedLockVariantLeavesNoPartialGrabBehind() {
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        QStringList runs;
        {
            // The rival holds only the Num Lock variant: our plain grab succeeds first, then the
            // registration as a whole fails and must take the plain grab back.
            RivalClient rival(m_display.name());
            QVERIFY(rival.grabSpace(control | alt | numLock));
            const auto error =
                registerExpectingError(service, HotkeyPreset::controlOptionSpace, [&] { runs << "alt"; });
            QVERIFY(error);
            QCOMPARE(error->status(), 10);
        }
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [&] { runs << "shift"; });
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QVERIFY(press(QStringLiteral("ctrl+shift+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, QStringList{"shift"}, 5000);
    }

    void registeringTheActivePresetAgainKeepsItGrabbed() {
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        service.registerHotkey(HotkeyPreset::controlOptionSpace,
                               [&] { ++runs; }); // then the first is released
        QVERIFY(press(QStringLiteral("ctrl+alt+space")));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
    }

    void destroyedServiceReleasesTheKeyForOthers() {
        {
            HotkeyBackendX11 backend;
            GlobalHotkeyService service(backend);
            service.registerHotkey(HotkeyPreset::commandShiftSpace, [] {});
            RivalClient rival(m_display.name());
            QVERIFY(!rival.grabSpace(XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT));
        }
        RivalClient rival(m_display.name());
        QVERIFY(rival.grabSpace(XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT));
    }
};

MURMELO_DESKTOP_TEST_MAIN(GlobalHotkeyX11Test, murmelo::test::TestDisplay::Options{})
#include "tst_GlobalHotkeyX11.moc"

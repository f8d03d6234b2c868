// The X11 back ends against a real server: global grabs (with a rival client), XTest paste into a
// real window, and the focused window's class. No window manager runs, so nothing but this test
// sets _NET_ACTIVE_WINDOW or moves the input focus.
#include "AsyncTest.h"
#include "HotkeyExpectations.h"
#include "TestDisplay.h"
#include "qt/PasteboardQt.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QRasterWindow>
#include <QTest>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// The test server's standard keymap, written out so the tests do not lean on the lookups they check.
constexpr xcb_keycode_t space = 65;
constexpr quint16 controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr quint16 numLock = XCB_MOD_MASK_2;
constexpr quint16 superShift = XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT;

// Another X client holding Space with some modifiers on the root window, as a rival application would.
class RivalClient {
public:
    explicit RivalClient(const QString& display)
        : m_connection(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {}
    ~RivalClient() { xcb_disconnect(m_connection); }

    // False when someone else holds it already.
    bool grabSpace(quint16 modifiers) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_generic_error_t* error =
            xcb_request_check(m_connection, xcb_grab_key_checked(m_connection, 0, root, modifiers, space,
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }

private:
    xcb_connection_t* m_connection;
};

enum class Active { none, classed, unclassed, destroyed };

} // namespace

Q_DECLARE_METATYPE(Active)

class DesktopX11Test : public QObject {
    Q_OBJECT
public:
    explicit DesktopX11Test(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    PasteboardQt m_pasteboard;
    SyntheticKeyboardX11 m_keyboard;
    xcb_connection_t* m_connection = x11::qtConnection();

    bool press(const QString& keys) { return m_display.run("xdotool", {"key", keys}); }

    xcb_window_t createWindow(xcb_window_t parent, const QByteArray& wmClass = {}) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.isNull())
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                                XCB_ATOM_STRING, 8, quint32(wmClass.size()), wmClass.constData());
        xcb_map_window(m_connection, window);
        return window;
    }

private slots:
    // --- Global hotkeys ---

    void eachPresetRunsItsActionOncePerPress_data() {
        QTest::addColumn<HotkeyPreset>("preset");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<bool>("ownWindowFocused");
        QTest::newRow("Control + Alt + Space, our own window focused")
            << HotkeyPreset::controlOptionSpace << "ctrl+alt+space" << QStringList() << true;
        QTest::newRow("Control + Shift + Space, Num Lock on")
            << HotkeyPreset::controlShiftSpace << "ctrl+shift+space" << QStringList{"Num_Lock"} << false;
        QTest::newRow("Super + Shift + Space, Num Lock and Caps Lock on")
            << HotkeyPreset::commandShiftSpace << "super+shift+space" << QStringList{"Num_Lock", "Caps_Lock"}
            << false;
    }
    void eachPresetRunsItsActionOncePerPress() {
        QFETCH(HotkeyPreset, preset);
        QFETCH(QString, keys);
        QFETCH(QStringList, locks);
        QFETCH(bool, ownWindowFocused);
        // A grab's presses are reported to the root window, also while our own window has the focus.
        QRasterWindow window;
        if (ownWindowFocused) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window, 5000));
            QVERIFY(m_display.run("xdotool", {"windowfocus", "--sync", QString::number(window.winId())}));
        }
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(preset, [&] { ++runs; });
        for (const QString& lock : locks)
            QVERIFY(press(lock));
        QVERIFY(press(keys));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
        QVERIFY(press(keys));
        QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 5000);
        for (const QString& lock : locks) // off again
            QVERIFY(press(lock));
    }

    void heldShortcutRunsTheActionOnce() {
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ++runs; });
        // Held past the server's auto-repeat delay (660 ms), so repeats are generated.
        QVERIFY(
            m_display.run("xdotool", {"keydown", "ctrl+alt+space", "sleep", "1.2", "keyup", "space", "keyup",
                                      "ctrl+alt", "key", "ctrl+alt+space"})); // and a second, real press
        QTRY_COMPARE_WITH_TIMEOUT(runs, 2, 5000);
        QCoreApplication::processEvents();
        QCOMPARE(runs, 2);
    }

    // The rival holds the combination itself, or only its Num Lock variant: then our plain grab
    // succeeds first and must be taken back when the registration as a whole fails.
    void rivalsGrabIsRefusedWithBadAccessLeavingNoPartialGrab_data() {
        QTest::addColumn<quint16>("rivalModifiers");
        QTest::newRow("plain combination taken") << controlAlt;
        QTest::newRow("only the Num Lock variant taken") << quint16(controlAlt | numLock);
    }
    void rivalsGrabIsRefusedWithBadAccessLeavingNoPartialGrab() {
        QFETCH(quint16, rivalModifiers);
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        {
            RivalClient rival(m_display.name());
            QVERIFY(rival.grabSpace(rivalModifiers));
            const auto error = test::registerExpectingError(service, HotkeyPreset::controlOptionSpace, [] {});
            QVERIFY(error);
            QCOMPARE(error->kind(), GlobalHotkeyError::Case::registerHotKey);
            QCOMPARE(error->status(), 10); // BadAccess
        }
        QVERIFY(RivalClient(m_display.name()).grabSpace(controlAlt));
    }

    void grabHoldsWhileRegisteredAgainAndGoesWithTheService() {
        {
            HotkeyBackendX11 backend;
            GlobalHotkeyService service(backend);
            int runs = 0;
            service.registerHotkey(HotkeyPreset::commandShiftSpace, [&] { ++runs; });
            service.registerHotkey(HotkeyPreset::commandShiftSpace, [&] { ++runs; }); // releases the first
            QVERIFY(!RivalClient(m_display.name()).grabSpace(superShift));
            QVERIFY(press("super+shift+space"));
            QTRY_COMPARE_WITH_TIMEOUT(runs, 1, 5000);
        }
        QVERIFY(RivalClient(m_display.name()).grabSpace(superShift));
    }

    // --- Paste ---

    // A window of class XTerm stands in for a terminal: it must see Ctrl+Shift+V and nothing else.
    void pasteArrivesWithTheShortcutTheWindowTakes_data() {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("chord");
        // About 100 KB of UTF-8 with every kind of character a dictation produces.
        QString text;
        for (int line = 1; text.toUtf8().size() < 100 * 1024; ++line)
            text += QStringLiteral(
                        "第%1行：Murmelo 把语音变成文字 🎙 “引号” — tab\there & <xml> \\ "
                        "$HOME\n")
                        .arg(line);
        QTest::newRow("text field, 100 KB") << QString() << text << "Ctrl+V";
        QTest::newRow("terminal") << "XTerm"
                                  << "echo 你好"
                                  << "Ctrl+Shift+V";
    }
    void pasteArrivesWithTheShortcutTheWindowTakes() {
        QFETCH(QString, windowClass);
        QFETCH(QString, text);
        QFETCH(QString, chord);
        test::PasteTarget target(m_display, windowClass);
        QVERIFY(target.start());
        m_pasteboard.setString("earlier content");
        TextInsertionService service(m_pasteboard, m_keyboard);

        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        if (windowClass.isEmpty()) { // the field takes Ctrl+V only
            QVERIFY2(target.waitForText(text, 10s), qPrintable(target.text().left(200)));
            QCOMPARE(target.changes(), 1);
        }
        QVERIFY2(test::waitUntil([&] { return !target.pressedChords().isEmpty(); }, 10s),
                 qPrintable(target.keyLog()));
        QCOMPARE(target.pressedChords(), QStringList{chord});
        QVERIFY(!m_keyboard.isModifierHeld()); // nothing is left pressed
        QByteArray clipboard;                  // as another client sees it
        QVERIFY(m_display.run("xclip", {"-o", "-selection", "clipboard"}, &clipboard));
        QCOMPARE(QString::fromUtf8(clipboard), text);
    }

    void pasteWaitsForTheHotkeysModifiersButNotForLocks() {
        QVERIFY(m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"}));
        const bool heldWithLocksOn = m_keyboard.isModifierHeld();
        QVERIFY(m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"}));
        QVERIFY(!heldWithLocksOn);

        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        // The user still holds Control + Alt from the hotkey and lets go 300 ms later: a paste
        // posted before would arrive as Ctrl+Alt+V, which no field takes.
        QVERIFY(m_display.run("xdotool", {"keydown", "ctrl+alt"}));
        QVERIFY(m_keyboard.isModifierHeld());
        bool released = false;
        QTimer::singleShot(300ms, [&] { released = m_display.run("xdotool", {"keyup", "ctrl+alt"}); });
        TextInsertionService service(m_pasteboard, m_keyboard);
        QCOMPARE(test::run(service.insert("你好")), TextInsertionResult::inserted);
        QVERIFY(released);
        QVERIFY2(target.waitForText("你好", 10s), qPrintable(target.keyLog()));
    }

    // --- The focused window's class ---

    void focusedWindowClasses_data() {
        QTest::addColumn<QByteArray>("focusedClass"); // WM_CLASS of the focused top level
        QTest::addColumn<int>("depth");               // the focus this many windows below it
        QTest::addColumn<Active>("active");           // what _NET_ACTIVE_WINDOW names
        QTest::addColumn<QStringList>("expected");
        const QByteArray konsole("konsole\0konsole\0", 16);
        // xterm's keys go to its text area, a child window without WM_CLASS.
        QTest::newRow("focus in a child window")
            << QByteArray("xterm\0XTerm\0", 12) << 2 << Active::none << QStringList{"xterm", "XTerm"};
        QTest::newRow("value without its NUL")
            << QByteArray("foot") << 0 << Active::none << QStringList{"foot"};
        QTest::newRow("active window comes first")
            << konsole << 0 << Active::classed << QStringList{"kitty", "kitty"};
        // A stale or useless _NET_ACTIVE_WINDOW must not hide the window that really has the focus.
        QTest::newRow("active window without WM_CLASS")
            << konsole << 0 << Active::unclassed << QStringList{"konsole", "konsole"};
        QTest::newRow("active window destroyed")
            << konsole << 0 << Active::destroyed << QStringList{"konsole", "konsole"};
    }
    void focusedWindowClasses() {
        QFETCH(QByteArray, focusedClass);
        QFETCH(int, depth);
        QFETCH(Active, active);
        QFETCH(QStringList, expected);
        const xcb_window_t root = x11::rootWindow(m_connection);
        const xcb_window_t topLevel = createWindow(root, focusedClass);
        xcb_window_t focused = topLevel;
        for (int level = 0; level < depth; ++level)
            focused = createWindow(focused);
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_NONE, focused, XCB_CURRENT_TIME);
        const xcb_window_t other =
            createWindow(root, active == Active::classed ? QByteArray("kitty\0kitty\0", 12) : QByteArray());
        if (active == Active::destroyed) xcb_destroy_window(m_connection, other);
        const xcb_window_t activeWindow = active == Active::none ? xcb_window_t(XCB_WINDOW_NONE) : other;
        auto* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, 18, "_NET_ACTIVE_WINDOW"), nullptr);
        QVERIFY(atom);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_WINDOW, 32, 1,
                            &activeWindow);
        const QStringList classes = m_keyboard.focusedWindowClasses();

        xcb_delete_property(m_connection, root, atom->atom);
        std::free(atom);
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_NONE, XCB_INPUT_FOCUS_POINTER_ROOT,
                            XCB_CURRENT_TIME);
        xcb_destroy_window(m_connection, topLevel); // with its children
        if (active != Active::destroyed) xcb_destroy_window(m_connection, other);
        xcb_flush(m_connection);
        QCOMPARE(classes, expected);
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopX11Test, (murmelo::test::TestDisplay::Options{.windowManager = false}))
#include "tst_DesktopX11.moc"

// The X11 back ends against a real server: global grabs (with a rival client), XTest paste into a
// real window, and the focused window's class. No window manager runs, so nothing but this test
// sets _NET_ACTIVE_WINDOW or moves the input focus.
#include "AsyncTest.h"
#include "HotkeyExpectations.h"
#include "TestDisplay.h"
#include "TestEnvironment.h"
#include "qt/PasteboardQt.h"
#include "system/TextInsertionService.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QRasterWindow>
#include <QScopeGuard>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Space and the modifier bits of the test server's standard keymap, written out so the tests do
// not lean on the lookups they check.
constexpr xcb_keycode_t space = 65;
constexpr quint16 controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, numLock = XCB_MOD_MASK_2;

// Another X client grabbing Space with some modifiers on the root window, as a rival application
// would; its grabs go with it.
struct RivalClient {
    xcb_connection_t* connection;
    explicit RivalClient(const QString& display)
        : connection(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {}
    ~RivalClient() { xcb_disconnect(connection); }
    bool grabSpace(quint16 modifiers) { // false when someone else holds it already
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_grab_key_checked(connection, 0, x11::rootWindow(connection), modifiers, space,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
};

} // namespace

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

    xcb_window_t createWindow(xcb_window_t parent, const QByteArray& wmClass = {}) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.isEmpty())
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                                XCB_ATOM_STRING, 8, quint32(wmClass.size()), wmClass.constData());
        xcb_map_window(m_connection, window);
        return window;
    }

private slots:
    // Lock variants count as presses, auto-repeats of a held shortcut do not. A grab's presses
    // reach the root window also while our own window has the focus.
    void eachPressRunsTheActionOnce_data() {
        test::rowsFromJson(QFINDTESTDATA("system/hotkey_presses.json"));
    }
    void eachPressRunsTheActionOnce() {
        QFETCH(QJsonObject, row);
        QRasterWindow window;
        if (row["ownWindowFocused"].toBool()) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window, 5000));
            QVERIFY(m_display.run("xdotool", {"windowfocus", "--sync", QString::number(window.winId())}));
        }
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0;
        service.registerHotkey(*fromRawValue<HotkeyPreset>(row["preset"].toString()), [&] { ++runs; });
        QVERIFY(m_display.run("xdotool", row["xdotool"].toVariant().toStringList()));
        QTRY_COMPARE_WITH_TIMEOUT(runs, row["runs"].toInt(), 5000);
        QTest::qWait(50);
        QCOMPARE(runs, row["runs"].toInt());
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
            QCOMPARE(test::registerExpectingError(service, HotkeyPreset::controlOptionSpace, [] {}),
                     std::optional(GlobalHotkeyError(GlobalHotkeyError::Case::registerHotKey, 10)));
        }
        QVERIFY(RivalClient(m_display.name()).grabSpace(controlAlt));
    }

    // Registered again, the new grab holds while the old one is let go; the last goes with the service.
    void grabHoldsWhileRegisteredAgainAndGoesWithTheService() {
        {
            HotkeyBackendX11 backend;
            GlobalHotkeyService service(backend);
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
            QVERIFY(!RivalClient(m_display.name()).grabSpace(controlAlt));
        }
        QVERIFY(RivalClient(m_display.name()).grabSpace(controlAlt));
    }

    // The user still holds the hotkey's Control + Alt, locks on, and lets go 300 ms later: a
    // paste posted before would arrive as Ctrl+Alt+V, which no window takes. A window of class
    // XTerm stands in for a terminal: it must see Ctrl+Shift+V and nothing else.
    void pasteWaitsForTheHotkeysModifiersAndArrivesWithTheShortcutTheWindowTakes_data() {
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
    void pasteWaitsForTheHotkeysModifiersAndArrivesWithTheShortcutTheWindowTakes() {
        QFETCH(QString, windowClass);
        QFETCH(QString, text);
        QFETCH(QString, chord);
        QVERIFY(m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"}));
        const auto locksOff = qScopeGuard([&] {
            m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"});
        });
        QVERIFY(!m_keyboard.isModifierHeld());
        test::PasteTarget target(m_display, windowClass);
        QVERIFY(target.start());
        m_pasteboard.setString("earlier content");
        QVERIFY(m_display.run("xdotool", {"keydown", "ctrl+alt"}));
        QVERIFY(m_keyboard.isModifierHeld());
        bool released = false;
        QObject scope; // no release after a failed row has gone
        QTimer::singleShot(300ms, &scope, [&] {
            released = m_display.run("xdotool", {"keyup", "ctrl+alt"});
        });
        TextInsertionService service(m_pasteboard, m_keyboard);
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY(released);
        if (windowClass.isEmpty()) { // the field takes Ctrl+V only
            QVERIFY2(target.waitForText(text, 10s), qPrintable(target.text().left(200) + target.keyLog()));
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

    // The focus may sit below the window that carries WM_CLASS; a stale or useless
    // _NET_ACTIVE_WINDOW must not hide the window that really has the focus.
    void focusedWindowClassesLookPastChildWindowsAndAStaleActiveWindow_data() {
        test::rowsFromJson(QFINDTESTDATA("system/focused_windows.json"));
    }
    void focusedWindowClassesLookPastChildWindowsAndAStaleActiveWindow() {
        QFETCH(QJsonObject, row);
        const QString active = row["active"].toString();
        // Everything below one window that goes at the end, with all it holds.
        const xcb_window_t box = createWindow(x11::rootWindow(m_connection));
        xcb_window_t focused = createWindow(box, row["focusedClass"].toString().toLatin1());
        for (int level = 0; level < row["depth"].toInt(); ++level)
            focused = createWindow(focused);
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_NONE, focused, XCB_CURRENT_TIME);
        xcb_window_t other = createWindow(box, active == "classed" ? QByteArray("kitty\0kitty\0", 12) : "");
        if (active == "destroyed") xcb_destroy_window(m_connection, other);
        if (active == "none") other = XCB_WINDOW_NONE;
        auto* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, 18, "_NET_ACTIVE_WINDOW"), nullptr);
        QVERIFY(atom);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, x11::rootWindow(m_connection), atom->atom,
                            XCB_ATOM_WINDOW, 32, 1, &other);
        const QStringList classes = m_keyboard.focusedWindowClasses();
        xcb_delete_property(m_connection, x11::rootWindow(m_connection), atom->atom);
        std::free(atom);
        xcb_destroy_window(m_connection, box); // the focus reverts to none
        xcb_flush(m_connection);
        QCOMPARE(classes, row["expected"].toVariant().toStringList());
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopX11Test, (murmelo::test::TestDisplay::Options{.windowManager = false}))
#include "tst_DesktopX11.moc"

#include "TestDisplay.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace murmelo;

// Without a window manager nothing but this test sets _NET_ACTIVE_WINDOW or moves the input
// focus, so both ways of finding the focused window can be tried on their own.
class FocusedWindowClassesTest : public QObject {
    Q_OBJECT
public:
    explicit FocusedWindowClassesTest(test::TestDisplay&) {}

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_activeWindow = 0;
    std::vector<xcb_window_t> m_windows;
    SyntheticKeyboardX11 m_keyboard;

    xcb_window_t createWindow(xcb_window_t parent, const QByteArray& wmClass = {}) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.isNull())
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                                XCB_ATOM_STRING, 8, quint32(wmClass.size()), wmClass.constData());
        xcb_map_window(m_connection, window);
        m_windows.push_back(window);
        return window;
    }

    bool focus(xcb_window_t window) {
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(m_connection, xcb_set_input_focus_checked(m_connection, XCB_INPUT_FOCUS_NONE,
                                                                        window, XCB_CURRENT_TIME)),
            &std::free);
        return !error;
    }

    void setActiveWindow(xcb_window_t window) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_root, m_activeWindow, XCB_ATOM_WINDOW, 32,
                            1, &window);
        xcb_flush(m_connection);
    }

private slots:
    void initTestCase() {
        m_connection = x11::qtConnection();
        QVERIFY(m_connection);
        m_root = x11::rootWindow(m_connection);
        static const char name[] = "_NET_ACTIVE_WINDOW";
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, sizeof name - 1, name),
                                  nullptr),
            &std::free);
        QVERIFY(atom);
        m_activeWindow = atom->atom;
    }

    void cleanup() {
        xcb_delete_property(m_connection, m_root, m_activeWindow);
        focus(XCB_INPUT_FOCUS_POINTER_ROOT);
        for (const xcb_window_t window : m_windows)
            xcb_destroy_window(m_connection, window);
        m_windows.clear();
        xcb_flush(m_connection);
    }

    // xterm's keys go to its text area, a child window without WM_CLASS.
    void inputFocusInAChildWindowNamesItsTopLevel() {
        const xcb_window_t top = createWindow(m_root, QByteArray("xterm\0XTerm\0", 12));
        const xcb_window_t child = createWindow(top);
        const xcb_window_t grandchild = createWindow(child);
        QVERIFY(focus(grandchild));
        QCOMPARE(m_keyboard.focusedWindowClasses(), (QStringList{"xterm", "XTerm"}));
        QVERIFY(focus(top));
        QCOMPARE(m_keyboard.focusedWindowClasses(), (QStringList{"xterm", "XTerm"}));
    }

    void noFocusedWindowOrNoWmClassGivesNothing() {
        QVERIFY(focus(XCB_INPUT_FOCUS_POINTER_ROOT));
        QCOMPARE(m_keyboard.focusedWindowClasses(), QStringList{});
        QVERIFY(focus(XCB_WINDOW_NONE));
        QCOMPARE(m_keyboard.focusedWindowClasses(), QStringList{});
        const xcb_window_t unnamed = createWindow(m_root);
        QVERIFY(focus(createWindow(unnamed)));
        QCOMPARE(m_keyboard.focusedWindowClasses(), QStringList{});
        // A value without its terminating NUL, as some clients write it, still counts.
        QVERIFY(focus(createWindow(m_root, QByteArray("foot"))));
        QCOMPARE(m_keyboard.focusedWindowClasses(), QStringList{"foot"});
    }

    void theWindowManagersActiveWindowComesFirst() {
        const xcb_window_t focused = createWindow(m_root, QByteArray("gedit\0Gedit\0", 12));
        const xcb_window_t active = createWindow(m_root, QByteArray("kitty\0kitty\0", 12));
        QVERIFY(focus(focused));
        setActiveWindow(active);
        QCOMPARE(m_keyboard.focusedWindowClasses(), (QStringList{"kitty", "kitty"}));
    }

    // A stale or useless _NET_ACTIVE_WINDOW must not hide the window that really has the focus.
    void unusableActiveWindowFallsBackToTheInputFocus_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("none") << 0;
        QTest::newRow("without WM_CLASS") << 1;
        QTest::newRow("destroyed") << 2;
    }
    void unusableActiveWindowFallsBackToTheInputFocus() {
        QFETCH(int, kind);
        const xcb_window_t focused = createWindow(m_root, QByteArray("konsole\0konsole\0", 16));
        QVERIFY(focus(focused));
        xcb_window_t active = XCB_WINDOW_NONE;
        if (kind == 1) active = createWindow(m_root);
        if (kind == 2) {
            active = xcb_generate_id(m_connection);
            xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, active, m_root, 0, 0, 10, 10, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
            xcb_destroy_window(m_connection, active);
        }
        setActiveWindow(active);
        QCOMPARE(m_keyboard.focusedWindowClasses(), (QStringList{"konsole", "konsole"}));
    }
};

MURMELO_DESKTOP_TEST_MAIN(FocusedWindowClassesTest,
                          (murmelo::test::TestDisplay::Options{.windowManager = false}))
#include "tst_FocusedWindowClasses.moc"

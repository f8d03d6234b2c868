#include "AsyncTest.h"
#include "qt/HotkeyBackendNull.h"
#include "qt/PasteboardQt.h"
#include "qt/SyntheticKeyboardNull.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QGuiApplication>
#include <QTest>

using namespace murmelo;

// Without an X connection (here the offscreen platform, where Qt's X11 interface has a null
// connection; likewise a Wayland session without XWayland) the X11 back ends must fail the
// documented way instead of crashing, and so must the null back ends chosen for such sessions.
class X11WithoutDisplayTest : public QObject {
    Q_OBJECT
private:
    template <typename Backend> void hotkeyFailsToInstallItsHandler() {
        Backend backend;
        GlobalHotkeyService service(backend);
        bool ran = false;
        try {
            service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ran = true; });
            QFAIL("registration succeeded without a display");
        } catch (const GlobalHotkeyError& error) {
            QCOMPARE(error.kind(), GlobalHotkeyError::Case::installHandler);
            QCOMPARE(error.status(), HotkeyBackend::statusNoDisplay);
            QCOMPARE(error.description(), QStringLiteral("无法安装全局快捷键监听（-1）。"));
        }
        QVERIFY(!service.hasHandler());
        QVERIFY(!service.hasHotkey());
        HotkeyHandle handle = 0;
        QCOMPARE(backend.registerHotKey(shortcut(HotkeyPreset::controlShiftSpace), {}, handle),
                 HotkeyBackend::statusNoDisplay);
    }

    template <typename Keyboard> void insertionLeavesTheTextOnTheClipboard() {
        PasteboardQt pasteboard;
        Keyboard keyboard;
        QVERIFY(!keyboard.isAvailable());
        QVERIFY(!keyboard.isModifierHeld());
        QVERIFY(keyboard.focusedWindowClasses().isEmpty());
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::control));
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::controlShift));
        TextInsertionService service(pasteboard, keyboard);
        const QString text = QStringLiteral("你好，Murmelo 🎙\n第二行");
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::copiedOnly);
        QCOMPARE(pasteboard.string(), text);
    }

private slots:
    void offscreenHasNoX11Session() { QVERIFY(!X11Session::isAvailable()); }
    void x11HotkeyFailsWithTheNoDisplayStatus() { hotkeyFailsToInstallItsHandler<HotkeyBackendX11>(); }
    void nullHotkeyFailsWithTheNoDisplayStatus() { hotkeyFailsToInstallItsHandler<HotkeyBackendNull>(); }
    void x11KeyboardCopiesOnly() { insertionLeavesTheTextOnTheClipboard<SyntheticKeyboardX11>(); }
    void nullKeyboardCopiesOnly() { insertionLeavesTheTextOnTheClipboard<SyntheticKeyboardNull>(); }
};

QTEST_MAIN(X11WithoutDisplayTest)
#include "tst_X11WithoutDisplay.moc"

#include "AsyncTest.h"
#include "TestDisplay.h"
#include "qt/PasteboardQt.h"
#include "system/TextInsertionService.h"
#include "x11/SyntheticKeyboardX11.h"

#include <QKeyEvent>
#include <QRasterWindow>
#include <QTest>
#include <QTimer>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

QString longText() {
    // About 100 KB of UTF-8 with every kind of character a dictation produces.
    QString text;
    int line = 0;
    while (text.toUtf8().size() < 100 * 1024)
        text +=
            QStringLiteral(
                "第%1行：Murmelo 把语音变成文字 🎙 “引号” — tab\there & <xml> \\ $HOME\n")
                .arg(++line);
    return text;
}

// Logs the key events it receives, as "+Control", "-V", ...
class KeyLogWindow final : public QRasterWindow {
public:
    QStringList events;

protected:
    void keyPressEvent(QKeyEvent* event) override { events << QLatin1Char('+') + name(event); }
    void keyReleaseEvent(QKeyEvent* event) override { events << QLatin1Char('-') + name(event); }

private:
    static QString name(QKeyEvent* event) {
        if (event->key() == Qt::Key_Control) return QStringLiteral("Control");
        if (event->key() == Qt::Key_Shift) return QStringLiteral("Shift");
        return QKeySequence(event->key()).toString();
    }
};

} // namespace

class TextInsertionX11Test : public QObject {
    Q_OBJECT
public:
    explicit TextInsertionX11Test(test::TestDisplay& display)
        : m_display(display) {}

private:
    QString clipboardSeenByAnotherClient() {
        QByteArray output;
        if (!m_display.run(QStringLiteral("xclip"),
                           {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")},
                           &output))
            return QStringLiteral("<xclip failed>");
        return QString::fromUtf8(output);
    }

    test::TestDisplay& m_display;
    PasteboardQt m_pasteboard;
    SyntheticKeyboardX11 m_keyboard;

private slots:
    void init() { QVERIFY(!m_keyboard.isModifierHeld()); }

    void textArrivesIntactInTheFocusedWindow_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("Chinese, emoji, line break") << QStringLiteral("你好，Murmelo 🎙\n第二行");
        QTest::newRow("100 KB") << longText();
    }
    void textArrivesIntactInTheFocusedWindow() {
        QFETCH(QString, text);
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        m_pasteboard.setString(QStringLiteral("earlier content"));
        QVERIFY(m_keyboard.isAvailable());
        TextInsertionService service(m_pasteboard, m_keyboard);

        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY2(target.waitForText(text, 10s), qPrintable(target.text().left(200)));
        QCOMPARE(target.changes(), 1);
        QCOMPARE(clipboardSeenByAnotherClient(), text);
    }

    void pasteWaitsUntilTheHotkeyModifiersAreReleased() {
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        const QString text = QStringLiteral("你好，Murmelo 🎙\n第二行");
        // The user still holds Control + Alt from the hotkey and lets go 300 ms later.
        QVERIFY(m_display.run(QStringLiteral("xdotool"),
                              {QStringLiteral("keydown"), QStringLiteral("ctrl+alt")}));
        QVERIFY(m_keyboard.isModifierHeld());
        bool released = false;
        QTimer::singleShot(300ms, [&] {
            released = m_display.run(QStringLiteral("xdotool"),
                                     {QStringLiteral("keyup"), QStringLiteral("ctrl+alt")});
        });
        TextInsertionService service(m_pasteboard, m_keyboard);
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY(released);
        QVERIFY2(target.waitForText(text, 10s), qPrintable(target.text()));
    }

    void pasteShortcutsArePostedAsNestedKeyEvents_data() {
        QTest::addColumn<bool>("withShift");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("Ctrl+V") << false << QStringList{"+Control", "+V", "-V", "-Control"};
        QTest::newRow("Ctrl+Shift+V")
            << true << QStringList{"+Control", "+Shift", "+V", "-V", "-Shift", "-Control"};
    }
    void pasteShortcutsArePostedAsNestedKeyEvents() {
        QFETCH(bool, withShift);
        QFETCH(QStringList, expected);
        KeyLogWindow window;
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window, 5000));
        QVERIFY(m_display.run(
            QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(window.winId())}));
        QVERIFY(QTest::qWaitForWindowActive(&window, 5000));
        QVERIFY(
            m_keyboard.postPasteShortcut(withShift ? PasteShortcut::controlShift : PasteShortcut::control));
        QTRY_COMPARE_WITH_TIMEOUT(window.events.size(), expected.size(), 5000);
        QCOMPARE(window.events, expected);
        QVERIFY(!m_keyboard.isModifierHeld()); // nothing is left pressed
    }

    void focusedWindowClassesAreTheActiveWindowsWmClass() {
        test::PasteTarget terminal(m_display, QStringLiteral("XTerm"));
        QVERIFY(terminal.start());
        QCOMPARE(m_keyboard.focusedWindowClasses(), (QStringList{"murmelo-paste-target", "XTerm"}));
        test::PasteTarget editor(m_display);
        QVERIFY(editor.start());
        QCOMPARE(m_keyboard.focusedWindowClasses(),
                 (QStringList{"murmelo-paste-target", "murmelo-paste-target"}));
    }

    // A window of class XTerm stands in for a terminal: it must see Ctrl+Shift+V and nothing else,
    // and a plain text field Ctrl+V, through the whole insertion path.
    void terminalGetsControlShiftVATextFieldControlV() {
        const QString text = QStringLiteral("echo 你好");
        {
            test::PasteTarget terminal(m_display, QStringLiteral("XTerm"));
            QVERIFY(terminal.start());
            TextInsertionService service(m_pasteboard, m_keyboard);
            QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
            QVERIFY2(test::waitUntil([&] { return !terminal.pressedChords().isEmpty(); }, 10s),
                     qPrintable(terminal.keyLog()));
            QCOMPARE(terminal.pressedChords(), QStringList{"Ctrl+Shift+V"});
        }
        {
            test::PasteTarget editor(m_display);
            QVERIFY(editor.start());
            TextInsertionService service(m_pasteboard, m_keyboard);
            QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
            QVERIFY2(editor.waitForText(text, 10s), qPrintable(editor.keyLog()));
            QCOMPARE(editor.pressedChords(), QStringList{"Ctrl+V"});
        }
    }

    void locksDoNotCountAsHeldModifiers() {
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")}));
        const bool heldWithLocksOn = m_keyboard.isModifierHeld();
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("shift")}));
        const bool heldWithShift = m_keyboard.isModifierHeld();
        QVERIFY(m_display.run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("shift")}));
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        QVERIFY(
            m_display.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Caps_Lock")}));
        QVERIFY(!heldWithLocksOn);
        QVERIFY(heldWithShift);
    }
};

MURMELO_DESKTOP_TEST_MAIN(TextInsertionX11Test, murmelo::test::TestDisplay::Options{})
#include "tst_TextInsertionX11.moc"

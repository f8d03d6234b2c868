#include "AsyncTest.h"
#include "SwaySession.h"
#include "TestDisplay.h"
#include "system/TextInsertionService.h"
#include "wayland/PasteboardWlClipboard.h"
#include "wayland/SyntheticKeyboardWtype.h"
#include "wayland/WaylandClient.h"

#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

// One headless sway for the whole run; each test starts the windows it needs.
class TextInsertionWlrootsTest : public QObject {
    Q_OBJECT

    test::SwaySession m_sway;
    std::unique_ptr<PasteboardWlClipboard> m_pasteboard;
    std::unique_ptr<SyntheticKeyboardWtype> m_keyboard;

    QByteArray clipboardSeenByWlPaste() const {
        QByteArray output;
        if (!m_sway.run(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")}, &output))
            return "<wl-paste failed>";
        return output;
    }

private slots:
    void initTestCase() {
        const QStringList missing = test::SwaySession::missingPrograms();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("Wayland tests need what is not installed: ") +
                             missing.join(", ")));
        QVERIFY2(m_sway.start(), qPrintable(m_sway.errorString()));
        m_sway.exportToThisProcess();
        m_pasteboard = PasteboardWlClipboard::createIfSupported();
        m_keyboard = SyntheticKeyboardWtype::createIfSupported();
        QVERIFY(m_pasteboard);
        QVERIFY(m_keyboard);
    }

    void swayOffersTheWlrootsProtocols() {
        const auto globals = WaylandClient().globals();
        QVERIFY(globals);
        QVERIFY(globals->dataControl);
        QVERIFY(globals->virtualKeyboard);
        QVERIFY(globals->foreignToplevel);
    }

    // A compositor that accepts the connection and never answers must not hang the caller.
    void aSilentOrAbsentCompositorGivesNoAnswer() {
        QTemporaryDir folder;
        QLocalServer silent;
        QVERIFY(silent.listen(folder.filePath(QStringLiteral("silent"))));
        const WaylandClient silentClient(folder.filePath(QStringLiteral("silent")), 300ms);
        QVERIFY(!silentClient.globals());
        QCOMPARE(silentClient.activatedAppId(), QString());
        QVERIFY(!PasteboardWlClipboard::createIfSupported(silentClient));
        QVERIFY(!SyntheticKeyboardWtype::createIfSupported(silentClient));
        // The globals were asked once for all three; only the app id asked again.
        int connections = 0;
        while (silent.waitForNewConnection(0) || silent.hasPendingConnections())
            if (silent.nextPendingConnection()) ++connections;
        QCOMPARE(connections, 2);
        QVERIFY(!WaylandClient(folder.filePath(QStringLiteral("absent")), 300ms).globals());
    }

    void clipboardWriteIsReadBackByteExact_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("Chinese, emoji, line breaks") << QStringLiteral("中文：Murmelo 🎙\n第二行\n");
        QTest::newRow("looks like an option") << QStringLiteral("--clear");
        QString large;
        while (large.size() < 200 * 1024)
            large += QStringLiteral("第%1行 🎙 \"quotes\" \t$HOME\n").arg(large.size());
        QTest::newRow("200 KB") << large;
    }
    void clipboardWriteIsReadBackByteExact() {
        QFETCH(QString, text);
        QVERIFY(m_pasteboard->replaceWith(text));
        QCOMPARE(clipboardSeenByWlPaste(), text.toUtf8());
        QCOMPARE(m_pasteboard->string(), text);
    }

    void clearedClipboardHoldsNothing() {
        QVERIFY(m_pasteboard->setString(QStringLiteral("earlier content")));
        m_pasteboard->clearContents();
        QCOMPARE(m_pasteboard->string(), QString());
        QVERIFY(!m_sway.run(QStringLiteral("wl-paste"), {})); // "Nothing is copied"
    }

    // Every paste makes a new virtual keyboard, whose first key the compositor may drop: each of
    // several pastes in a row must arrive whole.
    void textArrivesWholeRightAfterTheKeyboardIsCreated() {
        test::WaylandPasteTarget target(m_sway);
        QVERIFY(target.start());
        TextInsertionService service(*m_pasteboard, *m_keyboard);
        QString expected;
        for (int paste = 0; paste < 5; ++paste) {
            QCOMPARE(test::run(service.insert(QStringLiteral("中文abc"))), TextInsertionResult::inserted);
            expected += QStringLiteral("中文abc");
            QVERIFY2(target.waitForText(expected, 10s), qPrintable(target.text() + "\n" + target.keyLog()));
        }
        QCOMPARE(target.pressedChords(), QStringList(5, QStringLiteral("Ctrl+V")));
    }

    // A window whose app id is foot's stands in for the terminal. With it and a text field open,
    // whichever the compositor has activated decides the chord.
    void terminalGetsControlShiftVATextFieldControlV() {
        const QString text = QStringLiteral("echo 你好");
        test::WaylandPasteTarget terminal(m_sway, QStringLiteral("foot"));
        QVERIFY(terminal.start());
        test::WaylandPasteTarget editor(m_sway, QStringLiteral("org.example.Editor"));
        QVERIFY(editor.start()); // sway activates the new window
        QCOMPARE(m_keyboard->focusedWindowClasses(), QStringList{"org.example.Editor"});
        TextInsertionService service(*m_pasteboard, *m_keyboard);
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY2(editor.waitForText(text, 10s), qPrintable(editor.keyLog()));
        QCOMPARE(editor.pressedChords(), QStringList{"Ctrl+V"});

        QVERIFY(m_sway.run(QStringLiteral("swaymsg"), {QStringLiteral("[app_id=\"foot\"] focus")}));
        QVERIFY(
            test::waitUntil([&] { return m_keyboard->focusedWindowClasses() == QStringList{"foot"}; }, 5s));
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY2(test::waitUntil([&] { return !terminal.pressedChords().isEmpty(); }, 10s),
                 qPrintable(terminal.keyLog()));
        QCOMPARE(terminal.pressedChords(), QStringList{"Ctrl+Shift+V"});
        QCOMPARE(editor.pressedChords(), QStringList{"Ctrl+V"}); // nothing more went to the field
    }

    // Nothing tells a Wayland client that the user still holds the hotkey's modifiers, so the
    // paste must not depend on it: the compositor applies each keyboard's own modifiers. Another
    // virtual keyboard holding Alt stands in for the user's keyboard.
    void modifiersHeldOnAnotherKeyboardDoNotJoinThePaste() {
        test::WaylandPasteTarget target(m_sway);
        QVERIFY(target.start());
        QProcess* user = m_sway.startProcess(
            QStringLiteral("wtype"),
            {QStringLiteral("-s"), QStringLiteral("300"), QStringLiteral("-M"), QStringLiteral("alt"),
             QStringLiteral("-k"), QStringLiteral("F5"), QStringLiteral("-s"), QStringLiteral("20000")});
        QVERIFY(test::waitUntil([&] { return target.pressedChords() == QStringList{"Alt+F5"}; }, 10s));
        TextInsertionService service(*m_pasteboard, *m_keyboard);
        QCOMPARE(test::run(service.insert(QStringLiteral("中文abc"))), TextInsertionResult::inserted);
        QVERIFY2(target.waitForText(QStringLiteral("中文abc"), 10s), qPrintable(target.keyLog()));
        QCOMPARE(target.pressedChords(), (QStringList{"Alt+F5", "Ctrl+V"}));
        m_sway.stopProcess(user);
    }

    void failedHelpersAreReportedAsFailures() {
        PasteboardWlClipboard refusing(QStringLiteral("false"), QStringLiteral("false"));
        QVERIFY(!refusing.setString(QStringLiteral("中文")));
        QCOMPARE(refusing.string(), QString());
        SyntheticKeyboardWtype absent(QStringLiteral("/nonexistent/wtype"));
        QVERIFY(!absent.postPasteShortcut(PasteShortcut::control));
    }

    // Runs last: it stops the compositor.
    void nothingIsClaimedOnceTheCompositorIsGone() {
        m_sway.stop();
        QVERIFY(!m_pasteboard->setString(QStringLiteral("中文")));
        QVERIFY(!m_keyboard->postPasteShortcut(PasteShortcut::control));
        QCOMPARE(m_keyboard->focusedWindowClasses(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TextInsertionWlrootsTest)
#include "tst_TextInsertionWlroots.moc"

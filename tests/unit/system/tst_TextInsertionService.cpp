#include "AsyncTest.h"
#include "PasteboardFake.h"
#include "SyntheticKeyboardFake.h"
#include "system/TerminalClasses.h"
#include "system/TextInsertionService.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Short waits so the tests do not idle; the product's values are checked where they matter.
const TextInsertionService::Timing quick{100ms, 2ms, 1ms};

QString describe(const std::vector<PasteShortcut>& shortcuts) {
    QStringList names;
    for (const PasteShortcut shortcut : shortcuts)
        names << (shortcut == PasteShortcut::controlShift ? QStringLiteral("Ctrl+Shift+V")
                                                          : QStringLiteral("Ctrl+V"));
    return names.join(QLatin1Char(' '));
}

} // namespace

class TextInsertionServiceTest : public QObject {
    Q_OBJECT
private slots:
    void clipboardIsReplacedBeforeThePasteIsPosted() {
        QStringList journal;
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        pasteboard.journal = &journal;
        keyboard.journal = &journal;
        pasteboard.setString(QStringLiteral("earlier"));
        journal.clear();
        TextInsertionService service(pasteboard, keyboard, quick);

        QCOMPARE(test::run(service.insert(QStringLiteral("你好"))), TextInsertionResult::inserted);
        QCOMPARE(journal, (QStringList{"pasteboard.clear", "pasteboard.set:你好", "keyboard.paste"}));
        QCOMPARE(keyboard.pastes, 1);
    }

    void obstaclesDegradeToCopiedOnlyWithTheTextOnTheClipboard_data() {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("postSucceeds");
        QTest::addColumn<int>("expectedAttempts");
        QTest::addColumn<QString>("text");
        QTest::newRow("no synthetic input") << false << true << 0 << QStringLiteral("第一行\n第二行");
        QTest::newRow("events could not be posted") << true << false << 1 << QStringLiteral("text");
        QTest::newRow("empty text, no synthetic input") << false << true << 0 << QString();
    }
    void obstaclesDegradeToCopiedOnlyWithTheTextOnTheClipboard() {
        QFETCH(bool, available);
        QFETCH(bool, postSucceeds);
        QFETCH(int, expectedAttempts);
        QFETCH(QString, text);
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.available = available;
        keyboard.postSucceeds = postSucceeds;
        pasteboard.setString(QStringLiteral("earlier"));
        TextInsertionService service(pasteboard, keyboard, quick);

        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::copiedOnly);
        QCOMPARE(pasteboard.content, std::optional<QString>(text));
        QCOMPARE(pasteboard.operations.mid(1), (QStringList{"clear", QStringLiteral("set:") + text}));
        QCOMPARE(keyboard.postAttempts, expectedAttempts);
        QCOMPARE(keyboard.pastes, 0);
    }

    void aRefusedClipboardWriteIsReportedAndNothingIsPasted() {
        // Pasting now would insert whatever the clipboard held before, not this text.
        PasteboardFake pasteboard;
        pasteboard.accepts = false;
        SyntheticKeyboardFake keyboard;
        TextInsertionService service(pasteboard, keyboard, quick);
        QCOMPARE(test::run(service.insert(QStringLiteral("没有写进去"))), TextInsertionResult::notCopied);
        QCOMPARE(keyboard.postAttempts, 0);
        QCOMPARE(rawValue(TextInsertionResult::notCopied), QStringLiteral("notCopied"));
    }

    void returnsNoEarlierThanTheSettleTimeAfterPosting() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        TextInsertionService service(pasteboard, keyboard); // the product's timing
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        const auto sincePost = std::chrono::steady_clock::now() - keyboard.postedAt;
        QVERIFY2(sincePost >= 120ms,
                 qPrintable(QString::number(
                     std::chrono::duration_cast<std::chrono::milliseconds>(sincePost).count())));
    }

    void waitsForTheModifiersToBeReleasedBeforePosting() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        TextInsertionService service(pasteboard, keyboard, {2s, 2ms, 1ms});
        QTimer::singleShot(30ms, [&] { keyboard.modifierHeld = false; });
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QVERIFY(!keyboard.postedWhileHeld);
        QVERIFY(keyboard.modifierPolls > 1);
        QVERIFY(clock.elapsed() >= 30);
        QVERIFY(clock.elapsed() < 2000); // released long before the limit, so it did not wait that out
    }

    void postsAnywayWhenModifiersStayDownPastTheLimit() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        TextInsertionService service(pasteboard, keyboard, {60ms, 5ms, 1ms});
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QVERIFY(keyboard.postedWhileHeld);
        QCOMPARE(keyboard.pastes, 1);
        QVERIFY(clock.elapsed() >= 60);
    }

    void productTimingGivesUpWaitingForModifiersAfterOneSecond() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        TextInsertionService service(pasteboard, keyboard);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QVERIFY(clock.elapsed() >= 1000);
        QVERIFY(keyboard.postedWhileHeld);
    }

    // WM_CLASS gives an instance and a class; a Wayland app id comes alone.
    void terminalsGetControlShiftVEverythingElseControlV_data() {
        QTest::addColumn<QStringList>("classes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("xterm") << QStringList{"xterm", "XTerm"} << "Ctrl+Shift+V";
        QTest::newRow("only the class names a terminal")
            << QStringList{"murmelo-paste-target", "XTerm"} << "Ctrl+Shift+V";
        QTest::newRow("only the instance names a terminal")
            << QStringList{"kitty", "SomethingElse"} << "Ctrl+Shift+V";
        QTest::newRow("case differs") << QStringList{"ALACRITTY"} << "Ctrl+Shift+V";
        QTest::newRow("reverse-domain app id") << QStringList{"org.gnome.Console"} << "Ctrl+Shift+V";
        QTest::newRow("gnome-terminal's server process")
            << QStringList{"gnome-terminal-server", "Gnome-terminal"} << "Ctrl+Shift+V";
        QTest::newRow("st") << QStringList{"st-256color", "St"} << "Ctrl+Shift+V";
        QTest::newRow("text field") << QStringList{"gedit", "Gedit"} << "Ctrl+V";
        QTest::newRow("browser") << QStringList{"Navigator", "firefox-esr"} << "Ctrl+V";
        // Whole names only: short terminal names must not swallow longer ones.
        QTest::newRow("contains st") << QStringList{"steam", "Steam"} << "Ctrl+V";
        QTest::newRow("contains kitty") << QStringList{"kittyland"} << "Ctrl+V";
        QTest::newRow("terminal name inside a longer one") << QStringList{"xterm-launcher"} << "Ctrl+V";
        QTest::newRow("nothing focused") << QStringList{} << "Ctrl+V";
        QTest::newRow("empty strings") << QStringList{"", ""} << "Ctrl+V";
    }
    void terminalsGetControlShiftVEverythingElseControlV() {
        QFETCH(QStringList, classes);
        QFETCH(QString, expected);
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.focusedClasses = classes;
        TextInsertionService service(pasteboard, keyboard, quick);
        QCOMPARE(test::run(service.insert(QStringLiteral("ls -la"))), TextInsertionResult::inserted);
        QCOMPARE(describe(keyboard.shortcuts), expected);
        QCOMPARE(pasteboard.string(), QStringLiteral("ls -la"));
    }

    // Every terminal named in the list, under its usual WM_CLASS instance and class.
    void commonTerminalsAreRecognised() {
        const TerminalClasses terminals;
        const QList<QStringList> windows{
            {"xterm", "XTerm"},
            {"urxvt", "URxvt"},
            {"gnome-terminal-server", "Gnome-terminal"},
            {"kgx", "Kgx"},
            {"org.gnome.Ptyxis", "Ptyxis"},
            {"konsole", "konsole"},
            {"yakuake", "yakuake"},
            {"xfce4-terminal", "Xfce4-terminal"},
            {"mate-terminal", "Mate-terminal"},
            {"lxterminal", "Lxterminal"},
            {"qterminal", "qterminal"},
            {"terminator", "Terminator"},
            {"tilix", "Tilix"},
            {"guake", "Guake"},
            {"tilda", "Tilda"},
            {"Alacritty", "Alacritty"},
            {"kitty", "kitty"},
            {"foot", "foot"},
            {"org.wezfurlong.wezterm", "org.wezfurlong.wezterm"},
            {"com.mitchellh.ghostty", "com.mitchellh.ghostty"},
            {"st", "St"},
            {"sakura", "Sakura"},
            {"terminology", "terminology"},
            {"deepin-terminal", "deepin-terminal"},
        };
        for (const QStringList& window : windows)
            QVERIFY2(terminals.pasteShortcutFor(window) == PasteShortcut::controlShift,
                     qPrintable(window.join(' ')));
    }

    void aListOfOtherNamesIsMatchedTheSameWay() {
        const TerminalClasses terminals(QStringList{"My-Term"});
        QVERIFY(terminals.matches({"other", "my-term"}));
        QVERIFY(terminals.matches({"MY-TERM"}));
        QVERIFY(!terminals.matches({"xterm", "XTerm"})); // the built-in list is replaced, not extended
        QVERIFY(!terminals.matches({"my-term2"}));
    }

    // The shortcut is chosen for the window that has the focus when the paste is posted, not for
    // the one focused while the user still held the hotkey.
    void theWindowFocusedAtPostingTimeDecides() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        keyboard.focusedClasses = {"gedit", "Gedit"};
        TextInsertionService service(pasteboard, keyboard, {2s, 2ms, 1ms});
        QTimer::singleShot(30ms, [&] {
            keyboard.focusedClasses = {"konsole", "konsole"};
            keyboard.modifierHeld = false;
        });
        QCOMPARE(test::run(service.insert(QStringLiteral("x"))), TextInsertionResult::inserted);
        QCOMPARE(describe(keyboard.shortcuts), QStringLiteral("Ctrl+Shift+V"));
    }

    void serviceDestroyedWhileWaitingPostsNothing() {
        PasteboardFake pasteboard;
        SyntheticKeyboardFake keyboard;
        keyboard.modifierHeld = true;
        auto* service = new TextInsertionService(pasteboard, keyboard, {5s, 2ms, 1ms});
        QTimer::singleShot(20ms, [&] { delete service; });
        QCOMPARE(test::run(service->insert(QStringLiteral("留在剪贴板"))), TextInsertionResult::copiedOnly);
        QCOMPARE(keyboard.postAttempts, 0);
        QCOMPARE(pasteboard.string(), QStringLiteral("留在剪贴板"));
    }
};

QTEST_GUILESS_MAIN(TextInsertionServiceTest)
#include "tst_TextInsertionService.moc"

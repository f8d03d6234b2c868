#include "AsyncTest.h"
#include "PasteboardFake.h"
#include "SyntheticKeyboardFake.h"
#include "system/TextInsertionService.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Short waits so the tests do not idle; the product's values are checked where they matter.
const TextInsertionService::Timing quick{100ms, 2ms, 1ms};

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

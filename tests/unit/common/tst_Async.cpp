#include "AsyncTest.h"
#include "common/AsyncMutex.h"
#include "common/Completion.h"
#include "dictation/WithTimeout.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class AsyncTest : public QObject {
    Q_OBJECT
private slots:
    void sleepIsCancelledThroughItsScope() {
        CancelScope scope;
        QTimer::singleShot(10ms, [&] { scope.cancelAll(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(test::runExpectingError<CancellationError>(sleepFor(5s, &scope)));
        QVERIFY(clock.elapsed() < 2000);
        // A later wait on the same scope is not affected by the earlier cancellation.
        test::run(sleepFor(1ms, &scope));
    }

    void completionWaitWithLimitReportsWhichCameFirst() {
        auto slow = std::make_shared<Completion>();
        QCOMPARE(test::run(Completion::wait(slow, 5ms)), false);
        auto fast = std::make_shared<Completion>();
        QTimer::singleShot(1ms, fast.get(), [&] { fast->complete(); });
        QCOMPARE(test::run(Completion::wait(fast, 5s)), true);
        QCOMPARE(test::run(Completion::wait(fast, 0ms)), true); // already done: no wait at all
    }

    void mutexRunsOperationsOneAtATimeInCallOrder() {
        AsyncMutex mutex;
        QStringList trace;
        int running = 0, maxRunning = 0;
        auto operation = [&](QString name, std::chrono::milliseconds pause) -> QCoro::Task<> {
            auto lock = co_await mutex.lock();
            maxRunning = std::max(maxRunning, ++running);
            trace << name + QStringLiteral("+");
            co_await sleepFor(pause);
            trace << name + QStringLiteral("-");
            --running;
        };
        auto a = operation(QStringLiteral("a"), 20ms);
        auto b = operation(QStringLiteral("b"), 1ms);
        auto c = operation(QStringLiteral("c"), 1ms);
        test::run(std::move(a));
        test::run(std::move(b));
        test::run(std::move(c));
        QCOMPARE(trace, QStringList({"a+", "a-", "b+", "b-", "c+", "c-"}));
        QCOMPARE(maxRunning, 1);
        QVERIFY(!mutex.isLocked());
    }

    void timeoutPassesValueAndErrorsThrough() {
        auto quick = []() -> QCoro::Task<int> {
            co_await sleepFor(1ms);
            co_return 42;
        };
        QCOMPARE(test::run(withTimeout<int>(1s, quick(), {})), 42);

        auto failing = []() -> QCoro::Task<int> {
            co_await sleepFor(1ms);
            throw NetworkError(NetworkError::cannotConnectToHost);
        };
        const auto error = test::runExpectingError<NetworkError>(withTimeout<int>(1s, failing(), {}));
        QVERIFY(error);
        QCOMPARE(error->code(), int(NetworkError::cannotConnectToHost));
    }

    void timeoutCancelsAndWaitsForTheOperationToReact() {
        CancelScope scope;
        bool operationEnded = false;
        auto slow = [&]() -> QCoro::Task<QString> {
            try {
                co_await sleepFor(10s, &scope);
            } catch (const CancellationError&) {
                operationEnded = true;
                throw;
            }
            co_return QStringLiteral("late");
        };
        int cancels = 0;
        QElapsedTimer clock;
        clock.start();
        const auto error = test::runExpectingError<DictationCoordinatorError>(withTimeout<QString>(20ms, slow(), [&] {
            ++cancels;
            scope.cancelAll();
        }));
        QVERIFY(error);
        QCOMPARE(error->kind(), DictationCoordinatorError::Case::timedOut);
        QCOMPARE(cancels, 1);
        QVERIFY2(operationEnded, "timedOut must reach the caller only after the operation reacted");
        QVERIFY(clock.elapsed() < 5000);
    }

    void timeoutGivesUpOnAnOperationThatIgnoresCancellation() {
        auto stubborn = []() -> QCoro::Task<> { co_await sleepFor(300ms); };
        QElapsedTimer clock;
        clock.start();
        QVERIFY(test::runExpectingError<DictationCoordinatorError>(withTimeout<void>(10ms, stubborn(), {}, 20ms)));
        QVERIFY(clock.elapsed() < 250);
        QTest::qWait(350); // let the abandoned operation finish before the test ends
    }
};

QTEST_GUILESS_MAIN(AsyncTest)
#include "tst_Async.moc"

#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "common/Error.h"
#include "common/JsonFile.h"
#include "common/AsyncMutex.h"
#include "common/Completion.h"
#include "dictation/WithTimeout.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class CommonTest : public QObject {
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

    void writesPrivateFilesInPrivateDirectories() {
        test::TestEnvironment environment;
        const QString directory = environment.dataHome() + QStringLiteral("/Murmelo");
        const QString path = directory + QStringLiteral("/history.json");
        files::writePrivateFileAtomically(path, "[]");
        QCOMPARE(test::readAll(path), QByteArray("[]"));
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(directory), 0700);
    }

    void tightensLooserExistingPermissions() {
        test::TestEnvironment environment;
        const QString directory = environment.root() + QStringLiteral("/open");
        const QString path = directory + QStringLiteral("/file.json");
        test::writeFile(path, "old");
        QFile::setPermissions(directory, QFileDevice::Permissions(0x7755));
        QFile::setPermissions(path, QFileDevice::Permissions(0x6644));
        files::writePrivateFileAtomically(path, "new");
        QCOMPARE(test::readAll(path), QByteArray("new"));
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(directory), 0700);
    }

    void failedWriteKeepsTheOldFile() {
        test::TestEnvironment environment;
        const QString path = environment.root() + QStringLiteral("/blocked/file.json");
        test::writeFile(path, "precious");
        // A directory where the temporary file would go makes the write fail.
        QFile::setPermissions(environment.root() + QStringLiteral("/blocked"),
                              QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(environment.root() + QStringLiteral("/blocked")).isWritable())
            QSKIP("running with privileges that ignore directory permissions");
        QVERIFY_THROWS_EXCEPTION(FileError, files::writePrivateFileAtomically(path, "new"));
        QCOMPARE(test::readAll(path), QByteArray("precious"));
    }

    void readingReportsMissingDirectoriesAndOversizedFiles() {
        test::TestEnvironment environment;
        QVERIFY(!files::readFileIfExists(environment.root() + QStringLiteral("/absent.json")));
        QDir().mkpath(environment.root() + QStringLiteral("/dir.json"));
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(environment.root() + QStringLiteral("/dir.json")));
        test::writeFile(environment.root() + QStringLiteral("/big.json"), QByteArray(2048, 'x'));
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(environment.root() + QStringLiteral("/big.json"), 1024));
    }

    void movesUnreadableFilesAsideWithoutOverwritingEarlierCopies() {
        test::TestEnvironment environment;
        const QString path = environment.root() + QStringLiteral("/dictionary.json");
        test::writeFile(path, "{broken");
        const auto first = files::moveAsideUnreadable(path);
        QVERIFY(first);
        QVERIFY(first->startsWith(path + QStringLiteral(".unreadable-")));
        QCOMPARE(first->size(), path.size() + qsizetype(QStringLiteral(".unreadable-yyyyMMdd-HHmmss").size()));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(test::readAll(*first), QByteArray("{broken"));

        test::writeFile(path, "{also broken");
        const auto second = files::moveAsideUnreadable(path);
        QVERIFY(second && *second != *first);
        QCOMPARE(test::readAll(*first), QByteArray("{broken"));
        QVERIFY(!files::moveAsideUnreadable(path)); // nothing left to move
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_Common.moc"

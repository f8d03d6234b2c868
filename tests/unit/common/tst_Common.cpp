#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "common/AsyncMutex.h"
#include "common/Completion.h"
#include "common/Error.h"
#include "common/JsonFile.h"
#include "dictation/WithTimeout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

class CommonTest : public QObject {
    Q_OBJECT
private slots:
    void mutexRunsOperationsOneAtATimeInCallOrder() {
        AsyncMutex mutex;
        QStringList trace;
        auto operation = [&](QString name, std::chrono::milliseconds pause) -> QCoro::Task<> {
            auto lock = co_await mutex.lock();
            trace << name + "+";
            co_await sleepFor(pause);
            trace << name + "-";
        };
        auto a = operation("a", 20ms), b = operation("b", 1ms), c = operation("c", 1ms);
        test::run(std::move(a));
        test::run(std::move(b));
        test::run(std::move(c));
        QCOMPARE(trace, QStringList({"a+", "a-", "b+", "b-", "c+", "c-"}));
        QVERIFY(!mutex.isLocked());
    }

    void timeoutPassesValuesAndErrorsThroughEvenWhenAlreadyDone() {
        auto ready = []() -> QCoro::Task<int> { co_return 42; };
        QCOMPARE(test::run(withTimeout<int>(0ms, ready(), {})), 42);
        auto failing = []() -> QCoro::Task<int> {
            co_await sleepFor(1ms);
            throw NetworkError(NetworkError::cannotConnectToHost);
        };
        const auto error = test::runExpectingError<NetworkError>(withTimeout<int>(1s, failing(), {}));
        QVERIFY(error);
        QCOMPARE(error->code(), int(NetworkError::cannotConnectToHost));
    }

    // The cancel ends the operation's sleep through its scope; timedOut comes only after that.
    void timeoutCancelsOnceAndWaitsForTheOperationToReact() {
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
        const auto error = test::runExpectingError<DictationCoordinatorError>(withTimeout<QString>(20ms, slow(), [&] {
            ++cancels;
            scope.cancelAll();
        }));
        QVERIFY(error);
        QCOMPARE(error->kind(), DictationCoordinatorError::Case::timedOut);
        QCOMPARE(cancels, 1);
        QVERIFY(operationEnded);
        test::run(sleepFor(1ms, &scope)); // an earlier cancellation does not reach a later wait
    }

    void timeoutGivesUpOnAnOperationThatIgnoresCancellation() {
        bool operationEnded = false;
        auto stubborn = [&]() -> QCoro::Task<> {
            co_await sleepFor(300ms);
            operationEnded = true;
        };
        QVERIFY(test::runExpectingError<DictationCoordinatorError>(withTimeout<void>(10ms, stubborn(), {}, 20ms)));
        QVERIFY(!operationEnded);
        QVERIFY(test::waitUntil([&] { return operationEnded; })); // before the test's objects go
    }

    void writtenFilesAndTheirFoldersBecomePrivate() {
        test::TestEnvironment environment;
        const QString fresh = environment.dataHome() + "/Murmelo/history.json";
        const QString loose = environment.root() + "/open/file.json";
        test::writeFile(loose, "old");
        QFile::setPermissions(QFileInfo(loose).path(), QFileDevice::Permissions(0x7755));
        QFile::setPermissions(loose, QFileDevice::Permissions(0x6644));
        for (const QString& path : {fresh, loose}) {
            files::writePrivateFileAtomically(path, "new");
            QCOMPARE(test::readAll(path), QByteArray("new"));
            QCOMPARE(test::unixMode(path), 0600);
            QCOMPARE(test::unixMode(QFileInfo(path).path()), 0700);
        }
    }

    void failedWriteKeepsTheOldFile() {
        test::TestEnvironment environment;
        const QString folder = environment.root() + "/blocked";
        test::writeFile(folder + "/file.json", "precious");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(folder).isWritable()) QSKIP("running with privileges that ignore directory permissions");
        QVERIFY_THROWS_EXCEPTION(FileError, files::writePrivateFileAtomically(folder + "/file.json", "new"));
        QCOMPARE(test::readAll(folder + "/file.json"), QByteArray("precious"));
    }

    void readingTellsAbsentFromUnreadableAndOversized() {
        test::TestEnvironment environment;
        const QString root = environment.root();
        QVERIFY(!files::readFileIfExists(root + "/absent.json"));
        QDir().mkpath(root + "/dir.json");
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(root + "/dir.json"));
        test::writeFile(root + "/big.json", QByteArray(2048, 'x'));
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(root + "/big.json", 1024));
    }

    void unreadableFilesMovedAsideNeverOverwriteEarlierCopies() {
        test::TestEnvironment environment;
        const QString path = environment.root() + "/dictionary.json";
        test::writeFile(path, "{broken");
        const auto first = files::moveAsideUnreadable(path);
        QVERIFY(first && first->startsWith(path + ".unreadable-") && !QFile::exists(path));
        test::writeFile(path, "{also broken");
        const auto second = files::moveAsideUnreadable(path); // within the same second
        QVERIFY(second && *second != *first);
        QCOMPARE(test::readAll(*first), QByteArray("{broken"));
        QCOMPARE(test::readAll(*second), QByteArray("{also broken"));
        QVERIFY(!files::moveAsideUnreadable(path)); // nothing left to move
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_Common.moc"

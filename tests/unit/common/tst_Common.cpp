#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "common/AsyncMutex.h"
#include "common/Completion.h"
#include "common/Error.h"
#include "common/JsonFile.h"
#include "dictation/WithTimeout.h"

#include <QFile>
#include <QScopeGuard>
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

    // After the limit, cancel is called once and we wait, at most the grace, for the operation to
    // end: one that honours the cancel has ended when timedOut arrives, one that ignores it has not.
    void timeoutCancelsOnceThenWaitsAtMostTheGraceForTheOperation_data() {
        QTest::addColumn<bool>("honoursCancel");
        QTest::newRow("honours") << true;
        QTest::newRow("ignores") << false;
    }
    void timeoutCancelsOnceThenWaitsAtMostTheGraceForTheOperation() {
        QFETCH(bool, honoursCancel);
        CancelScope scope;
        bool ended = false;
        auto operation = [&]() -> QCoro::Task<> {
            const auto end = qScopeGuard([&] { ended = true; });
            co_await sleepFor(400ms, honoursCancel ? &scope : nullptr);
        };
        int cancels = 0;
        const auto cancel = [&] {
            ++cancels;
            scope.cancelAll();
        };
        const auto error = test::runExpectingError<DictationCoordinatorError>(withTimeout<void>(10ms, operation(), cancel, 100ms));
        QVERIFY(error);
        QCOMPARE(error->kind(), DictationCoordinatorError::Case::timedOut);
        QCOMPARE(cancels, 1);
        QCOMPARE(ended, honoursCancel);
        QVERIFY(test::waitUntil([&] { return ended; })); // before the test's objects go
        test::run(sleepFor(1ms, &scope)); // an earlier cancellation does not reach a later wait
    }

    void writingTightensALooseFileAndFolderToPrivate() {
        test::TestEnvironment environment;
        const QString path = environment.root() + "/open/file.json";
        test::writeFile(path, "old");
        QFile::setPermissions(environment.root() + "/open", QFileDevice::Permissions(0x7755));
        QFile::setPermissions(path, QFileDevice::Permissions(0x6644));
        files::writePrivateFileAtomically(path, "new");
        QCOMPARE(test::readAll(path), QByteArray("new"));
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(environment.root() + "/open"), 0700);
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_Common.moc"

// The helpers every layer stands on (an async mutex, time limits, private files) and the settings
// stored with them.
#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "common/AsyncMutex.h"
#include "common/Completion.h"
#include "dictation/WithTimeout.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
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
        for (auto* task : {&a, &b, &c})
            test::run(std::move(*task));
        QCOMPARE(trace, QStringList({"a+", "a-", "b+", "b-", "c+", "c-"}));
        QVERIFY(!mutex.isLocked());
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

    // A stored value counts only with its own JSON type and an exact enum name; `read` is what the
    // settings write back.
    void storedValuesAreReadOnlyWithTheirOwnType_data() {
        test::rowsFromJson(QFINDTESTDATA("common/stored_values.json"));
    }
    void storedValuesAreReadOnlyWithTheirOwnType() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        defaults.set(row["key"].toString(), row["stored"]);
        AppSettings settings(defaults);
        settings.persist();
        QCOMPARE(defaults.value(row["key"].toString()), row["read"]);
    }

    // Each unreadable file goes aside, in the same second too, and no copy overwrites another.
    void unreadableFileIsKeptAsideBeforeTheFirstWriteNeverOverwritingACopy() {
        test::TestEnvironment environment;
        const QString folder = environment.configHome() + "/Murmelo";
        QList<QByteArray> contents;
        for (const QByteArray& content : {QByteArray("{truncated"), QByteArray("[1,2]"), QByteArray("\xff\xfe")}) {
            test::writeFile(folder + "/settings.json", content);
            auto defaults = UserDefaults::standard();
            QVERIFY(defaults->snapshot().isEmpty());
            QCOMPARE(test::readAll(folder + "/settings.json"), content); // reading alone changes nothing
            defaults->set("k", 1);
            QCOMPARE(QJsonDocument::fromJson(test::readAll(folder + "/settings.json")).object(), QJsonObject({{"k", 1}}));
            contents << content;
        }
        QList<QByteArray> aside; // by name, which is also the order they went aside in
        for (const QString& name : QDir(folder).entryList({"settings.json.unreadable-*"}))
            aside << test::readAll(folder + "/" + name);
        QCOMPARE(aside, contents);
    }
};

QTEST_GUILESS_MAIN(CommonTest)
#include "tst_Common.moc"

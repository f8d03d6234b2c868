#include "SingleInstance.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace murmelo;

class SingleInstanceTest : public QObject {
    Q_OBJECT

    // The client blocks, so it runs on another thread while this one serves.
    static bool sendFromAnotherThread(const QString& command, const QString& path) {
        bool delivered = false;
        QThread* thread = QThread::create([&] { delivered = SingleInstance::sendToRunningInstance(command, 3000, path); });
        thread->start();
        QDeadlineTimer deadline(5000);
        while (!thread->isFinished() && !deadline.hasExpired()) QTest::qWait(5);
        const bool finished = thread->wait(QDeadlineTimer(100));
        delete thread;
        return finished && delivered;
    }

private slots:
    void secondStartHandsItsRequestToTheFirst() {
        test::TestEnvironment environment;
        const QString path = environment.root() + "/murmelo.socket";
        SingleInstance first;
        QVERIFY(first.listen(path));
        QSignalSpy received(&first, &SingleInstance::commandReceived);
        QVERIFY(sendFromAnotherThread(SingleInstance::openSettingsCommand, path));
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.first().first().toString(), QStringLiteral("settings"));
        QVERIFY(sendFromAnotherThread(SingleInstance::toggleCommand, path));
        QTRY_COMPARE(received.size(), 2);
        QVERIFY(!sendFromAnotherThread("rm -rf", path)); // unknown requests are refused
        QCOMPARE(received.size(), 2);
    }

    void nobodyListeningMeansNoDelivery() {
        test::TestEnvironment environment;
        QVERIFY(!SingleInstance::sendToRunningInstance("settings", 500, environment.root() + "/none.socket"));
    }

    void aSocketLeftByACrashIsReplaced() {
        test::TestEnvironment environment;
        const QString path = environment.root() + "/murmelo.socket";
        test::writeFile(path, ""); // stands in for a dead socket file
        SingleInstance instance;
        QVERIFY(instance.listen(path));
        QVERIFY(sendFromAnotherThread(SingleInstance::toggleCommand, path));
    }

    void socketPathPrefersTheRuntimeDirectory() {
        test::TestEnvironment environment;
        environment.set("XDG_RUNTIME_DIR", environment.root().toUtf8());
        QCOMPARE(SingleInstance::socketPath(), environment.root() + "/murmelo.socket");
        environment.set("XDG_RUNTIME_DIR", "/nonexistent-runtime");
        QVERIFY(SingleInstance::socketPath().endsWith(".socket"));
        QVERIFY(!SingleInstance::socketPath().startsWith("/nonexistent-runtime"));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_SingleInstance.moc"

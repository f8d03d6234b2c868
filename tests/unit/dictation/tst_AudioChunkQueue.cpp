#include "AsyncTest.h"
#include "dictation/AudioChunkQueue.h"

#include <QTest>
#include <QThread>
#include <QTimer>

using namespace murmelo;

class AudioChunkQueueTest : public QObject {
    Q_OBJECT

    static QCoro::Task<QList<QByteArray>> drain(AudioChunkQueue* queue) {
        QList<QByteArray> received;
        while (auto chunk = co_await queue->next()) received.append(*chunk);
        co_return received;
    }

private slots:
    void chunksFromAnotherThreadArriveInOrderAndComplete() {
        AudioChunkQueue queue;
        constexpr int count = 5000;
        QThread* producer = QThread::create([&] {
            for (int i = 0; i < count; ++i) queue.push(QByteArray::number(i));
        });
        producer->start();
        // Finish only after the producer is done, from the consumer's thread, as the coordinator does.
        QTimer::singleShot(0, [&] {
            while (!producer->wait(QDeadlineTimer(1))) QCoreApplication::processEvents();
            queue.finish();
        });
        const QList<QByteArray> received = test::run(drain(&queue));
        delete producer;
        QCOMPARE(received.size(), count);
        for (int i = 0; i < count; ++i) QCOMPARE(received.at(i), QByteArray::number(i));
        QCOMPARE(queue.pendingBytes(), 0);
    }

    void finishedQueueDrainsThenEndsAndDropsLatePushes() {
        AudioChunkQueue queue;
        queue.push("a");
        queue.push("bc");
        QCOMPARE(queue.pendingBytes(), 3);
        queue.finish();
        queue.push("late");
        QCOMPARE(test::run(drain(&queue)), QList<QByteArray>({"a", "bc"}));
        QVERIFY(!test::run(queue.next()));
    }

    void waitingConsumerWakesForAPush() {
        AudioChunkQueue queue;
        QTimer::singleShot(5, [&] { queue.push("x"); });
        QCOMPARE(test::run(queue.next()), std::optional<QByteArray>("x"));
    }
};

QTEST_GUILESS_MAIN(AudioChunkQueueTest)
#include "tst_AudioChunkQueue.moc"

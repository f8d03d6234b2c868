#pragma once

#include "common/Completion.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>
#include <optional>

namespace murmelo {

// The one hand-over point between the capture thread and the main thread: the capture thread
// pushes chunks without ever waiting; a single consumer on the owner's thread takes them in order.
// Unbounded: memory grows with the audio the consumer has not taken yet.
class AudioChunkQueue final : public QObject {
    Q_OBJECT
public:
    explicit AudioChunkQueue(QObject* parent = nullptr);

    // Any thread. Chunks pushed after finish() are dropped.
    void push(QByteArray chunk);
    // Owner's thread: no more chunks will come; next() yields nothing once the queue is drained.
    void finish();
    // Owner's thread, one consumer: the next chunk, or nothing at the end of the stream.
    QCoro::Task<std::optional<QByteArray>> next();

    qsizetype pendingBytes() const;

private:
    void wake();
    // A chunk, the end of the stream (an empty inner value), or nothing yet.
    std::optional<std::optional<QByteArray>> tryTake();
    std::shared_ptr<Completion> armWake();

    mutable QMutex m_mutex;
    std::deque<QByteArray> m_chunks;
    qsizetype m_pendingBytes = 0;
    bool m_finished = false;
    bool m_wakePosted = false;
    std::shared_ptr<Completion> m_waiting;
};

} // namespace murmelo

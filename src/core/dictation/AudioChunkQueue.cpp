#include "dictation/AudioChunkQueue.h"

#include <QMetaObject>

namespace murmelo {

AudioChunkQueue::AudioChunkQueue(QObject* parent)
    : QObject(parent) {}

void AudioChunkQueue::push(QByteArray chunk) {
    {
        QMutexLocker lock(&m_mutex);
        if (m_finished) return;
        m_pendingBytes += chunk.size();
        m_chunks.push_back(std::move(chunk));
        // One queued wake-up at a time is enough: the consumer drains everything it finds.
        if (m_wakePosted) return;
        m_wakePosted = true;
    }
    QMetaObject::invokeMethod(this, &AudioChunkQueue::wake, Qt::QueuedConnection);
}

void AudioChunkQueue::finish() {
    {
        QMutexLocker lock(&m_mutex);
        m_finished = true;
    }
    wake();
}

void AudioChunkQueue::wake() {
    {
        QMutexLocker lock(&m_mutex);
        m_wakePosted = false;
    }
    if (auto waiting = std::exchange(m_waiting, nullptr)) waiting->complete();
}

std::optional<std::optional<QByteArray>> AudioChunkQueue::tryTake() {
    QMutexLocker lock(&m_mutex);
    if (!m_chunks.empty()) {
        QByteArray chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_pendingBytes -= chunk.size();
        return std::optional<QByteArray>(std::move(chunk));
    }
    if (m_finished) return std::optional<QByteArray>();
    return std::nullopt;
}

std::shared_ptr<Completion> AudioChunkQueue::armWake() {
    m_waiting = std::make_shared<Completion>();
    return m_waiting;
}

// Kept free of locals that live across the co_await: g++ 12 corrupted such a frame here.
QCoro::Task<std::optional<QByteArray>> AudioChunkQueue::next() {
    for (;;) {
        if (auto taken = tryTake()) co_return std::move(*taken);
        co_await Completion::wait(armWake());
    }
}

qsizetype AudioChunkQueue::pendingBytes() const {
    QMutexLocker lock(&m_mutex);
    return m_pendingBytes;
}

} // namespace murmelo

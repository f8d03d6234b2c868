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

QCoro::Task<std::optional<QByteArray>> AudioChunkQueue::next() {
    while (true) {
        {
            QMutexLocker lock(&m_mutex);
            if (!m_chunks.empty()) {
                QByteArray chunk = std::move(m_chunks.front());
                m_chunks.pop_front();
                m_pendingBytes -= chunk.size();
                co_return chunk;
            }
            if (m_finished) co_return std::nullopt;
        }
        auto waiting = std::make_shared<Completion>();
        m_waiting = waiting;
        co_await Completion::wait(waiting);
    }
}

qsizetype AudioChunkQueue::pendingBytes() const {
    QMutexLocker lock(&m_mutex);
    return m_pendingBytes;
}

} // namespace murmelo

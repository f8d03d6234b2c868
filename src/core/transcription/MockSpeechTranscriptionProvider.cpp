#include "transcription/MockSpeechTranscriptionProvider.h"

#include "transcription/TranscriptionProviderError.h"

namespace murmelo {

QString MockSpeechTranscriptionProvider::partialText() {
    return QStringLiteral("这是一个用于验证完整流程的模拟转写。");
}

QString MockSpeechTranscriptionProvider::transcriptText() {
    return QStringLiteral("我想做一个语音输入工具，它首先要足够快，然后中文识别要准确，另外还要能够把比较混乱的口述自动整理成几个"
                          "清晰的重点。");
}

MockSpeechTranscriptionProvider::MockSpeechTranscriptionProvider(std::chrono::milliseconds delay)
    : m_delay(delay) {}

QCoro::Task<> MockSpeechTranscriptionProvider::start(TranscriptionContext, PartialHandler onPartial) {
    if (m_started) throw TranscriptionProviderError(TranscriptionProviderError::Case::alreadyStarted);
    m_started = true;
    m_receivedBytes = 0;
    m_onPartial = std::move(onPartial);
    co_return;
}

QCoro::Task<> MockSpeechTranscriptionProvider::sendAudio(QByteArray chunk) {
    if (!m_started) throw TranscriptionProviderError(TranscriptionProviderError::Case::notStarted);
    const qint64 before = m_receivedBytes;
    m_receivedBytes += chunk.size();
    // Exactly one partial per session: from the chunk that carries the total past the threshold.
    if (m_receivedBytes > partialThresholdBytes && before <= partialThresholdBytes && m_onPartial)
        m_onPartial(partialText());
    co_return;
}

QCoro::Task<TranscriptionResult> MockSpeechTranscriptionProvider::finish() {
    if (!m_started) throw TranscriptionProviderError(TranscriptionProviderError::Case::notStarted);
    co_await sleepFor(m_delay, &m_waits); // a cancelled wait throws and leaves the session open
    m_started = false;
    co_return TranscriptionResult{transcriptText(), {QStringLiteral("zh-cn")}};
}

QCoro::Task<> MockSpeechTranscriptionProvider::cancel() {
    m_started = false;
    m_onPartial = nullptr;
    m_waits.cancelAll();
    co_return;
}

} // namespace murmelo

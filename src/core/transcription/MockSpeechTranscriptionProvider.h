#pragma once

#include "common/Completion.h"
#include "transcription/SpeechTranscriptionProvider.h"

#include <chrono>

namespace murmelo {

// Offline stand-in: counts the audio, delivers one fixed partial once half a second of audio has
// arrived, and returns a fixed transcript after a short delay.
class MockSpeechTranscriptionProvider final : public SpeechTranscriptionProvider {
public:
    static constexpr qint64 partialThresholdBytes = 24000;
    static QString partialText();
    static QString transcriptText();

    explicit MockSpeechTranscriptionProvider(std::chrono::milliseconds delay = std::chrono::milliseconds(250));
    // A wait still pending fails with CancellationError before the members go away.
    ~MockSpeechTranscriptionProvider() override { m_waits.cancelAll(); }

    QCoro::Task<> start(TranscriptionContext context, PartialHandler onPartial) override;
    QCoro::Task<> sendAudio(QByteArray chunk) override;
    QCoro::Task<TranscriptionResult> finish() override;
    QCoro::Task<> cancel() override;

    bool isStarted() const { return m_started; }
    qint64 receivedBytes() const { return m_receivedBytes; }

private:
    std::chrono::milliseconds m_delay;
    PartialHandler m_onPartial;
    qint64 m_receivedBytes = 0;
    bool m_started = false;
    CancelScope m_waits;
};

} // namespace murmelo

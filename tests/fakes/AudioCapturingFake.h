#pragma once

#include "audio/AudioCapturing.h"

#include <functional>

namespace murmelo {

// A microphone the test drives: start() can be told to fail, chunks are delivered on demand.
class AudioCapturingFake final : public AudioCapturing {
public:
    std::function<void()> failStartWith; // throws the error to fail with
    int starts = 0;

    bool isRecording() const override { return m_recording; }
    QCoro::Task<> start(ChunkHandler onChunk, LossHandler onLost) override {
        ++starts;
        if (failStartWith) failStartWith();
        if (!m_recording) {
            m_handler = std::move(onChunk);
            m_onLost = std::move(onLost);
        }
        m_recording = true;
        co_return;
    }
    void stop() override {
        m_recording = false;
        m_handler = nullptr;
        m_onLost = nullptr;
    }
    // The microphone goes away while recording: capture stops, then the owner hears of it.
    void lose() {
        LossHandler onLost = m_onLost;
        stop();
        if (onLost) onLost();
    }
    // Delivers one chunk as the capture thread would; nothing when not recording.
    void deliver(const QByteArray& chunk) {
        if (m_recording && m_handler) m_handler(chunk);
    }

private:
    bool m_recording = false;
    ChunkHandler m_handler;
    LossHandler m_onLost;
};

} // namespace murmelo

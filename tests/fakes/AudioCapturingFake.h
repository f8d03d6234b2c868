#pragma once

#include "audio/AudioCapturing.h"
#include "common/Error.h"

#include <QList>

#include <exception>
#include <functional>
#include <optional>

namespace murmelo {

// A microphone the test drives: start() can be told to fail, chunks are delivered on demand.
class AudioCapturingFake final : public AudioCapturing {
public:
    std::function<void()> failStartWith; // throws the error to fail with
    int starts = 0, stops = 0;
    ChunkHandler handler;

    bool isRecording() const override { return m_recording; }
    QCoro::Task<> start(ChunkHandler onChunk) override {
        ++starts;
        if (failStartWith) failStartWith();
        if (m_recording) co_return;
        handler = std::move(onChunk);
        m_recording = true;
    }
    void stop() override {
        ++stops;
        m_recording = false;
        handler = nullptr;
    }
    // Delivers one chunk as the capture thread would; nothing when not recording.
    void deliver(const QByteArray& chunk) {
        if (m_recording && handler) handler(chunk);
    }

private:
    bool m_recording = false;
};

} // namespace murmelo

#pragma once

#include <QByteArray>
#include <QCoroTask>

#include <functional>

namespace murmelo {

// The microphone as the dictation coordinator sees it: a stream of 24 kHz PCM16 mono chunks.
class AudioCapturing {
public:
    // Called on the capture thread, once per captured buffer, in order, never concurrently with
    // itself. It must not block.
    using ChunkHandler = std::function<void(QByteArray)>;

    virtual ~AudioCapturing() = default;

    // True between a successful start() and the next stop().
    virtual bool isRecording() const = 0;
    // Begins capturing; fails with AudioCaptureError or AudioInputDeviceError. While recording it
    // returns at once and the earlier handler stays in force.
    virtual QCoro::Task<> start(ChunkHandler onChunk) = 0;
    // Ends capturing; once it returns, the handler is not called again. Safe at any time, prompt
    // even when the audio server has gone away.
    virtual void stop() = 0;
};

} // namespace murmelo

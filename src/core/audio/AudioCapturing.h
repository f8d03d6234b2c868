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
    // Called on the main thread when the microphone goes away while recording (the audio server
    // gone, the source unplugged, the stream failed). Capture has stopped by then: isRecording() is
    // false and no chunk follows.
    using LossHandler = std::function<void()>;

    virtual ~AudioCapturing() = default;

    // True between a successful start() and the next stop().
    virtual bool isRecording() const = 0;
    // Begins capturing; fails with AudioCaptureError or AudioInputDeviceError, or with
    // CancellationError when stop() came first. While recording it returns at once and the earlier
    // handlers stay in force.
    virtual QCoro::Task<> start(ChunkHandler onChunk, LossHandler onLost) = 0;
    // Ends capturing, also a start still under way; once it returns, the handlers are not called
    // again. Safe at any time, prompt even when the audio server has gone away.
    virtual void stop() = 0;
};

} // namespace murmelo

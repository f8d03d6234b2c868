#pragma once

#include "audio/AudioInputBackend.h"

#include <chrono>
#include <memory>

namespace murmelo {

// The audio engine on PulseAudio, or PipeWire through its PulseAudio service: one connection to
// the server, kept across recordings and re-established when the server went away; one record
// stream per recording, in 32-bit float at the source's own rate and channels. The capture thread
// is libpulse's threaded main loop: it gathers exactly `bufferFrames` frames and calls the tap there.
// Requests run on that loop and their answers come back to the main thread's event loop, so the
// main thread never waits for the server; each wait for an answer gives up after `timeout`.
class AudioInputBackendPulse final : public AudioInputBackend {
public:
    struct Options {
        // Empty: libpulse's own choice ($PULSE_SERVER, the session's server). For example
        // "unix:/run/user/1000/pulse/native".
        QString server;
        std::chrono::milliseconds timeout{3000};
    };

    AudioInputBackendPulse();
    explicit AudioInputBackendPulse(Options options);
    ~AudioInputBackendPulse() override;
    AudioInputBackendPulse(const AudioInputBackendPulse&) = delete;
    AudioInputBackendPulse& operator=(const AudioInputBackendPulse&) = delete;

    QCoro::Task<QList<AudioInputDevice>> inputDevices() override;
    bool canChooseDevice() const override { return true; }
    QCoro::Task<AudioDeviceLookup> lookUpDevice(QString uid) override;
    qint32 setCurrentDevice(const QString& uid) override;
    QCoro::Task<AudioInputFormat> inputFormat() override;
    void installTap(int bufferFrames, const AudioInputFormat& format, Tap tap) override;
    void removeTap() override;
    QCoro::Task<std::optional<QString>> start(LossHandler onLoss) override;
    void stop() override;
    void reset() override;

    // True while a record stream is open and healthy; false once the server or the source went away.
    bool isStreaming() const;

private:
    struct Impl;
    std::shared_ptr<Impl> d; // shared with the tasks still waiting for the server
};

} // namespace murmelo

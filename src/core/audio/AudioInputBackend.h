#pragma once

#include "audio/AudioInputDevice.h"
#include "audio/AudioPCMBuffer.h"

#include <QCoroTask>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace murmelo {

// The format of the input the engine will record from.
struct AudioInputFormat {
    double sampleRate = 0;
    int channelCount = 0;
    // Set when the audio server could not be asked at all: its own message. Rate and channel count
    // are then 0.
    QString failure;

    bool operator==(const AudioInputFormat&) const = default;
};

// What the audio server answered when asked for a device by uid.
struct AudioDeviceLookup {
    qint32 status = 0; // 0: the server answered; otherwise its error code
    bool found = false;
};

// The audio engine the capture service drives: one input, one tap, started and stopped as a whole.
// Every call comes from the main thread and never makes it wait for the audio server: what needs
// the server is a task, which ends within the engine's own time limit whatever the server does.
// The tap runs on the engine's capture thread.
class AudioInputBackend {
public:
    // Receives each captured buffer, in order, never concurrently with itself.
    using Tap = std::function<void(const AudioPCMBuffer&)>;
    // Called on the main thread, at most once per start, when the open input ends without stop():
    // the server went away, the source was removed, the stream failed.
    using LossHandler = std::function<void()>;

    virtual ~AudioInputBackend() = default;

    // The inputs that are microphones (never monitors of an output), in the server's order; empty
    // when the server cannot be reached.
    virtual QCoro::Task<QList<AudioInputDevice>> inputDevices() = 0;

    // Whether the engine can record from a chosen device rather than the system default.
    virtual bool canChooseDevice() const = 0;
    virtual QCoro::Task<AudioDeviceLookup> lookUpDevice(QString uid) = 0;
    // Records from `uid` from now until reset(); returns the server's status, 0 = done.
    virtual qint32 setCurrentDevice(const QString& uid) = 0;

    // The current device's own format (the one the tap receives).
    virtual QCoro::Task<AudioInputFormat> inputFormat() = 0;

    // At most one tap exists; installing replaces it. Buffers carry `bufferFrames` frames each.
    virtual void installTap(int bufferFrames, const AudioInputFormat& format, Tap tap) = 0;
    // After this returns the tap is never called again.
    virtual void removeTap() = 0;

    // Opens the input and starts delivering buffers to the tap. Nothing when it did; otherwise the
    // server's message. `onLoss` hears of the input ending on its own later.
    virtual QCoro::Task<std::optional<QString>> start(LossHandler onLoss) = 0;
    // Closes the input; harmless when it is not open or has died. No loss is reported for it.
    virtual void stop() = 0;
    // Returns to the initial state: system default device, no pending data.
    virtual void reset() = 0;
};

} // namespace murmelo

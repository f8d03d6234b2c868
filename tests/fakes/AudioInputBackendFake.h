#pragma once

#include "audio/AudioInputBackend.h"

#include <QStringList>

#include <mutex>
#include <optional>

namespace murmelo {

// An audio engine that records what it is asked to do and delivers buffers only when told to.
// Control fields are read on the main thread; deliver() may be called from any thread.
class AudioInputBackendFake final : public AudioInputBackend {
public:
    // --- control
    QList<AudioInputDevice> devices; // also decides which uids lookUpDevice() finds
    bool deviceChoiceSupported = true;
    qint32 lookupStatus = 0;    // non-zero: the server fails every lookup with this code
    qint32 setDeviceStatus = 0; // non-zero: switching the device fails with this code
    AudioInputFormat format{48000, 1, {}};
    std::optional<QString> startFailure; // the server's message when start() must fail

    // --- record
    QStringList calls;     // "inputDevices", "lookUp:<uid>", "setCurrentDevice:<uid>",
                           // "inputFormat", "installTap:<frames>", "removeTap", "start",
                           // "stop", "reset"
    QString currentDevice; // empty: the system default
    bool running = false;
    int tapBufferFrames = 0;

    bool hasTap() const;
    // Hands one buffer to the tap as the capture thread would; false when there is no tap.
    bool deliver(const AudioPCMBuffer& buffer);

    // --- AudioInputBackend
    QList<AudioInputDevice> inputDevices() override;
    bool canChooseDevice() const override { return deviceChoiceSupported; }
    AudioDeviceLookup lookUpDevice(const QString& uid) override;
    qint32 setCurrentDevice(const QString& uid) override;
    AudioInputFormat inputFormat() override;
    void installTap(int bufferFrames, const AudioInputFormat& format, Tap tap) override;
    void removeTap() override;
    bool start(QString* errorMessage) override;
    void stop() override;
    void reset() override;

private:
    mutable std::mutex m_tapMutex;
    Tap m_tap;
};

} // namespace murmelo

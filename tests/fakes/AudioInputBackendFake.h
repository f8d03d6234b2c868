#pragma once

#include "audio/AudioInputBackend.h"

#include <algorithm>
#include <mutex>
#include <optional>

namespace murmelo {

// An audio engine whose answers the test sets and whose state it reads. Buffers reach the tap only
// through deliver(), which may be called from any thread.
class AudioInputBackendFake final : public AudioInputBackend {
public:
    // --- control
    QList<AudioInputDevice> devices; // also decides which uids lookUpDevice() finds
    bool deviceChoiceSupported = true;
    qint32 lookupStatus = 0;    // non-zero: the server fails every lookup with this code
    qint32 setDeviceStatus = 0; // non-zero: switching the device fails with this code
    AudioInputFormat format{48000, 1, {}};
    std::optional<QString> startFailure; // the server's message when start() must fail

    // --- state
    QString currentDevice; // empty: the system default
    bool running = false;
    int tapBufferFrames = 0;

    bool hasTap() const {
        std::lock_guard lock(m_tapMutex);
        return static_cast<bool>(m_tap);
    }
    // Hands one buffer to the tap as the capture thread would; false when there is no tap. Like a
    // real engine: one tap call at a time, none after removal.
    bool deliver(const AudioPCMBuffer& buffer) {
        std::lock_guard lock(m_tapMutex);
        if (m_tap) m_tap(buffer);
        return static_cast<bool>(m_tap);
    }

    // --- AudioInputBackend
    QList<AudioInputDevice> inputDevices() override { return devices; }
    bool canChooseDevice() const override { return deviceChoiceSupported; }
    AudioDeviceLookup lookUpDevice(const QString& uid) override {
        const auto has = [&](const AudioInputDevice& device) { return device.uid == uid; };
        return {lookupStatus, lookupStatus == 0 && std::ranges::any_of(devices, has)};
    }
    qint32 setCurrentDevice(const QString& uid) override {
        if (setDeviceStatus == 0) currentDevice = uid;
        return setDeviceStatus;
    }
    AudioInputFormat inputFormat() override { return format; }
    void installTap(int bufferFrames, const AudioInputFormat&, Tap tap) override {
        std::lock_guard lock(m_tapMutex);
        tapBufferFrames = bufferFrames;
        m_tap = std::move(tap);
    }
    void removeTap() override { installTap(tapBufferFrames, format, nullptr); }
    bool start(QString* errorMessage) override {
        if (startFailure && errorMessage) *errorMessage = *startFailure;
        return running = !startFailure;
    }
    void stop() override { running = false; }
    void reset() override { currentDevice.clear(); }

private:
    mutable std::mutex m_tapMutex;
    Tap m_tap;
};

} // namespace murmelo

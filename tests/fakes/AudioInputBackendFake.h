#pragma once

#include "audio/AudioInputBackend.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

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

    // Ends the open input as a vanished server or source would; false when none is open.
    bool loseInput() {
        if (!running) return false;
        running = false;
        if (auto lost = std::exchange(m_onLoss, nullptr)) lost();
        return true;
    }

    // --- AudioInputBackend
    QCoro::Task<QList<AudioInputDevice>> inputDevices() override { co_return devices; }
    bool canChooseDevice() const override { return deviceChoiceSupported; }
    QCoro::Task<AudioDeviceLookup> lookUpDevice(QString uid) override {
        const auto has = [&](const AudioInputDevice& device) { return device.uid == uid; };
        co_return AudioDeviceLookup{lookupStatus, lookupStatus == 0 && std::ranges::any_of(devices, has)};
    }
    qint32 setCurrentDevice(const QString& uid) override {
        if (setDeviceStatus == 0) currentDevice = uid;
        return setDeviceStatus;
    }
    QCoro::Task<AudioInputFormat> inputFormat() override { co_return format; }
    void installTap(int bufferFrames, const AudioInputFormat&, Tap tap) override {
        std::lock_guard lock(m_tapMutex);
        tapBufferFrames = bufferFrames;
        m_tap = std::move(tap);
    }
    void removeTap() override { installTap(tapBufferFrames, format, nullptr); }
    QCoro::Task<std::optional<QString>> start(LossHandler onLoss) override {
        running = !startFailure;
        if (running) m_onLoss = std::move(onLoss);
        co_return startFailure;
    }
    void stop() override {
        running = false;
        m_onLoss = nullptr;
    }
    void reset() override { currentDevice.clear(); }

private:
    mutable std::mutex m_tapMutex;
    Tap m_tap;
    LossHandler m_onLoss;
};

} // namespace murmelo

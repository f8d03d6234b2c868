#include "AudioInputBackendFake.h"

namespace murmelo {

bool AudioInputBackendFake::hasTap() const {
    std::lock_guard lock(m_tapMutex);
    return static_cast<bool>(m_tap);
}

bool AudioInputBackendFake::deliver(const AudioPCMBuffer& buffer) {
    std::lock_guard lock(m_tapMutex); // like a real engine: one tap call at a time, none after removal
    if (!m_tap) return false;
    m_tap(buffer);
    return true;
}

QList<AudioInputDevice> AudioInputBackendFake::inputDevices() {
    calls << QStringLiteral("inputDevices");
    return devices;
}

AudioDeviceLookup AudioInputBackendFake::lookUpDevice(const QString& uid) {
    calls << QStringLiteral("lookUp:") + uid;
    if (lookupStatus != 0) return {lookupStatus, false};
    for (const AudioInputDevice& device : devices)
        if (device.uid == uid) return {0, true};
    return {0, false};
}

qint32 AudioInputBackendFake::setCurrentDevice(const QString& uid) {
    calls << QStringLiteral("setCurrentDevice:") + uid;
    if (setDeviceStatus != 0) return setDeviceStatus;
    currentDevice = uid;
    return 0;
}

AudioInputFormat AudioInputBackendFake::inputFormat() {
    calls << QStringLiteral("inputFormat");
    return format;
}

void AudioInputBackendFake::installTap(int bufferFrames, const AudioInputFormat&, Tap tap) {
    calls << QStringLiteral("installTap:") + QString::number(bufferFrames);
    std::lock_guard lock(m_tapMutex);
    tapBufferFrames = bufferFrames;
    m_tap = std::move(tap);
}

void AudioInputBackendFake::removeTap() {
    calls << QStringLiteral("removeTap");
    std::lock_guard lock(m_tapMutex);
    m_tap = nullptr;
}

bool AudioInputBackendFake::start(QString* errorMessage) {
    calls << QStringLiteral("start");
    if (startFailure) {
        if (errorMessage) *errorMessage = *startFailure;
        return false;
    }
    running = true;
    return true;
}

void AudioInputBackendFake::stop() {
    calls << QStringLiteral("stop");
    running = false;
}

void AudioInputBackendFake::reset() {
    calls << QStringLiteral("reset");
    currentDevice.clear();
}

} // namespace murmelo

#include "audio/AudioInputDeviceSelector.h"

#include "audio/AudioInputBackend.h"
#include "audio/AudioInputDeviceError.h"

namespace murmelo::AudioInputDeviceSelector {

void resolveDevice(const QString& uid, AudioInputBackend& backend) {
    const AudioDeviceLookup lookup = backend.lookUpDevice(uid);
    if (lookup.status != 0)
        throw AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, lookup.status);
    if (!lookup.found) throw AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound);
}

void apply(const QString& uid, AudioInputBackend& backend) {
    if (uid.isEmpty()) return;
    if (!backend.canChooseDevice())
        throw AudioInputDeviceError(AudioInputDeviceError::Case::audioUnitUnavailable);
    resolveDevice(uid, backend);
    const qint32 status = backend.setCurrentDevice(uid);
    if (status != 0) throw AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, status);
}

} // namespace murmelo::AudioInputDeviceSelector

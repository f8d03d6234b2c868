#include "audio/AudioInputDeviceSelector.h"

#include "audio/AudioInputBackend.h"
#include "audio/AudioInputDeviceError.h"

namespace murmelo::AudioInputDeviceSelector {

QCoro::Task<> resolveDevice(QString uid, AudioInputBackend& backend) {
    const AudioDeviceLookup lookup = co_await backend.lookUpDevice(uid);
    if (lookup.status != 0)
        throw AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, lookup.status);
    if (!lookup.found) throw AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound);
}

QCoro::Task<> apply(QString uid, AudioInputBackend& backend) {
    if (uid.isEmpty()) co_return;
    if (!backend.canChooseDevice())
        throw AudioInputDeviceError(AudioInputDeviceError::Case::audioUnitUnavailable);
    co_await resolveDevice(uid, backend);
    const qint32 status = backend.setCurrentDevice(uid);
    if (status != 0) throw AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, status);
}

} // namespace murmelo::AudioInputDeviceSelector

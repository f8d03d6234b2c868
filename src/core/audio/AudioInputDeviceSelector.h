#pragma once

#include <QCoroTask>
#include <QString>

namespace murmelo {

class AudioInputBackend;

// Points the engine at the microphone the user chose. The backend must outlive the tasks.
namespace AudioInputDeviceSelector {

// An empty uid leaves the engine on the system default input without touching it. Otherwise the
// device must exist: throws AudioInputDeviceError (`deviceNotFound`, `coreAudio` with the server's
// status, `audioUnitUnavailable` when the engine cannot switch devices). There is no fallback to the
// default input.
QCoro::Task<> apply(QString uid, AudioInputBackend& backend);

// Checks that the server knows `uid`; throws as apply() does.
QCoro::Task<> resolveDevice(QString uid, AudioInputBackend& backend);

} // namespace AudioInputDeviceSelector
} // namespace murmelo

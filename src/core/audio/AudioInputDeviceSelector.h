#pragma once

#include <QString>

namespace murmelo {

class AudioInputBackend;

// Points the engine at the microphone the user chose.
namespace AudioInputDeviceSelector {

// An empty uid leaves the engine on the system default input without touching it. Otherwise the
// device must exist: throws AudioInputDeviceError (`deviceNotFound`, `coreAudio` with the server's
// status, `audioUnitUnavailable` when the engine cannot switch devices). There is no fallback to the
// default input.
void apply(const QString& uid, AudioInputBackend& backend);

// Checks that the server knows `uid`; throws as apply() does.
void resolveDevice(const QString& uid, AudioInputBackend& backend);

} // namespace AudioInputDeviceSelector
} // namespace murmelo

#pragma once

#include "audio/AudioPCMBuffer.h"

#include <QByteArray>

namespace murmelo {

// Turns one captured buffer into 24 kHz signed 16-bit little-endian mono PCM, the format the
// realtime transcription service accepts. Stateless: every buffer is resampled on its own (linear
// interpolation, no filter, no phase carried over), channels are averaged, values are clamped to
// ±32767 and truncated toward zero.
namespace PCM24kEncoder {

inline constexpr double outputSampleRate = 24000;

// An empty result for a buffer without samples, frames, channels or rate.
QByteArray encode(const AudioPCMBuffer& buffer);

} // namespace PCM24kEncoder
} // namespace murmelo

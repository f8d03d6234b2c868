#pragma once

namespace murmelo {

// One captured buffer as the engine hands it over: 32-bit float samples, one array per channel
// (non-interleaved). The arrays belong to the engine and are valid only during the tap call.
struct AudioPCMBuffer {
    const float* const* channelData = nullptr; // null when the buffer carries no float samples
    int frameLength = 0;
    int channelCount = 0;
    double sampleRate = 0;
};

} // namespace murmelo

#include "audio/PCM24kEncoder.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace murmelo::PCM24kEncoder {

namespace {

// A broken driver can deliver NaN or infinities; converting those to an integer is undefined, so a
// NaN is read as silence and an infinity as full scale. Finite samples pass untouched.
inline float readable(float sample) {
    if (std::isfinite(sample)) return sample;
    if (std::isnan(sample)) return 0.0f;
    return sample > 0 ? 1.0f : -1.0f;
}

inline qint16 toPCM16(float average) {
    // Huge finite samples can still overflow into NaN during interpolation (inf - inf).
    if (std::isnan(average)) return 0;
    const float scaled = average < -1.0f ? -32767.0f : std::min(average, 1.0f) * 32767.0f;
    return static_cast<qint16>(scaled); // truncation toward zero: -32768 never occurs
}

} // namespace

QByteArray encode(const AudioPCMBuffer& buffer) {
    const int frames = buffer.frameLength;
    const int channels = buffer.channelCount;
    if (buffer.channelData == nullptr || frames <= 0 || channels <= 0 || !(buffer.sampleRate > 0)) return {};

    const double ratio = outputSampleRate / buffer.sampleRate;
    const double wanted = std::floor(ratio * static_cast<double>(frames));
    // An absurdly low rate would ask for more samples than a buffer can hold; a byte array caps at
    // about 2^31 bytes.
    if (!(wanted < static_cast<double>(INT32_MAX / 2))) return {};
    const qsizetype outputCount = std::max<qsizetype>(1, static_cast<qsizetype>(wanted));
    const qsizetype last = frames - 1;

    QByteArray bytes(outputCount * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(bytes.data());
    const float channelCount = static_cast<float>(channels);
    for (qsizetype i = 0; i < outputCount; ++i) {
        const double position = static_cast<double>(i) / ratio;
        const qsizetype j = std::min(last, static_cast<qsizetype>(position));
        const qsizetype k = std::min(last, j + 1);
        const float fraction = static_cast<float>(position - static_cast<double>(j));
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) {
            const float* samples = buffer.channelData[c];
            const float a = readable(samples[j]);
            const float b = readable(samples[k]);
            // For finite samples a + (b - a) * 0 == a, so the shortcut changes no result; it keeps a
            // full-scale sample at full scale where (b - a) would overflow.
            sum += (fraction == 0.0f || a == b) ? a : a + (b - a) * fraction;
        }
        qToLittleEndian<qint16>(toPCM16(sum / channelCount), out + 2 * i);
    }
    return bytes;
}

} // namespace murmelo::PCM24kEncoder

#include "audio/PCM24kEncoder.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <vector>

using namespace murmelo;

namespace {

// Channel arrays for a buffer, kept alive by the caller.
struct Samples {
    std::vector<std::vector<float>> channels;
    std::vector<const float*> pointers;

    explicit Samples(std::vector<std::vector<float>> data)
        : channels(std::move(data)) {
        for (const auto& channel : channels)
            pointers.push_back(channel.data());
    }
    AudioPCMBuffer buffer(double rate) const {
        return {pointers.data(), static_cast<int>(channels.front().size()), static_cast<int>(channels.size()),
                rate};
    }
};

QByteArray encode(std::vector<std::vector<float>> channels, double rate) {
    const Samples samples(std::move(channels));
    return PCM24kEncoder::encode(samples.buffer(rate));
}

QList<int> values(const QByteArray& bytes) {
    QList<int> out;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        out << static_cast<qint16>(static_cast<quint8>(bytes[i]) | (static_cast<quint8>(bytes[i + 1]) << 8));
    return out;
}

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

} // namespace

class PCM24kEncoderTest : public QObject {
    Q_OBJECT
private slots:
    void outputLengthFollowsTheRateOfEachBuffer_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bytes");
        QTest::newRow("48 kHz halves") << 48000.0 << 1024 << 1 << 1024;
        QTest::newRow("48 kHz stereo is still mono out") << 48000.0 << 1024 << 2 << 1024;
        QTest::newRow("24 kHz copies") << 24000.0 << 1024 << 1 << 2048;
        QTest::newRow("16 kHz upsamples") << 16000.0 << 1024 << 1 << 3072;
        QTest::newRow("44.1 kHz drops the fraction") << 44100.0 << 1024 << 1 << 1114;
        QTest::newRow("one frame still gives a sample") << 48000.0 << 1 << 1 << 2;
        QTest::newRow("one frame at 96 kHz") << 96000.0 << 1 << 6 << 2;
    }
    void outputLengthFollowsTheRateOfEachBuffer() {
        QFETCH(double, rate);
        QFETCH(int, frames);
        QFETCH(int, channels);
        QFETCH(int, bytes);
        const QByteArray chunk = encode(std::vector(channels, std::vector<float>(frames, 0.25f)), rate);
        QCOMPARE(chunk.size(), bytes);
        for (int value : values(chunk))
            QCOMPARE(value, 8191);
    }

    void unreadableBuffersGiveNothing() {
        const Samples samples({{0.5f, 0.5f}});
        AudioPCMBuffer buffer = samples.buffer(48000);
        QVERIFY(!PCM24kEncoder::encode(buffer).isEmpty());
        for (double rate : {0.0, -48000.0, double(notANumber)}) {
            AudioPCMBuffer bad = buffer;
            bad.sampleRate = rate;
            QVERIFY2(PCM24kEncoder::encode(bad).isEmpty(), qPrintable(QString::number(rate)));
        }
        AudioPCMBuffer noData = buffer;
        noData.channelData = nullptr;
        QVERIFY(PCM24kEncoder::encode(noData).isEmpty());
        AudioPCMBuffer noFrames = buffer;
        noFrames.frameLength = 0;
        QVERIFY(PCM24kEncoder::encode(noFrames).isEmpty());
        AudioPCMBuffer noChannels = buffer;
        noChannels.channelCount = 0;
        QVERIFY(PCM24kEncoder::encode(noChannels).isEmpty());
    }

    void clampsAndTruncatesLittleEndian() {
        const QByteArray chunk = encode({{1.0f, -1.0f, 1.5f, -2.0f, 0.5f, -0.5f, 0.0f, 0.00001f}}, 24000);
        QCOMPARE(chunk.left(8), QByteArray::fromHex("ff7f0180ff7f0180"));
        QCOMPARE(values(chunk), QList<int>({32767, -32767, 32767, -32767, 16383, -16383, 0, 0}));
    }

    void downsamplingTakesEveryOtherSampleWithoutFilter() {
        QCOMPARE(values(encode({{0.25f, 0.9f, -0.5f, 0.9f, 0.125f, -0.9f}}, 48000)),
                 QList<int>({8191, -16383, 4095}));
    }

    void upsamplingInterpolatesAndRepeatsTheLastSample() {
        // Positions 0, 2/3 and 4/3: the last one lies past the final input sample, which is repeated.
        QCOMPARE(values(encode({{0.0f, 0.3f}}, 16000)), QList<int>({0, 6553, 9830}));
    }

    void everyBufferStartsAfresh() {
        // 44.1 kHz: each buffer starts at position 0, so two equal buffers give two equal chunks
        // and no sample of the first reaches the second.
        std::vector<float> ramp(1024);
        for (int i = 0; i < 1024; ++i)
            ramp[i] = static_cast<float>(i) / 1024.0f;
        const QByteArray first = encode({ramp}, 44100);
        QCOMPARE(first, encode({ramp}, 44100));
        QCOMPARE(values(first).first(), 0);
        QCOMPARE(values(first).size(), 557);
    }

    void channelsAreAveragedBeforeClamping() {
        QCOMPARE(values(encode({{1.0f, 0.5f}, {-1.0f, 0.5f}}, 24000)), QList<int>({0, 16383}));
        // 2.0 and -1.0 average to 0.5: clamping happens after the average, not per channel.
        QCOMPARE(values(encode({{2.0f}, {-1.0f}}, 24000)), QList<int>({16383}));
        QCOMPARE(values(encode({{1.0f}, {1.0f}, {-1.0f}, {-1.0f}}, 24000)), QList<int>({0}));
    }

    void nonFiniteSamplesEncodeSafely_data() {
        QTest::addColumn<double>("rate");
        QTest::newRow("24 kHz") << 24000.0;
        QTest::newRow("48 kHz") << 48000.0;
        QTest::newRow("16 kHz, interpolated") << 16000.0;
        QTest::newRow("44.1 kHz, interpolated") << 44100.0;
    }
    void nonFiniteSamplesEncodeSafely() {
        QFETCH(double, rate);
        for (int value : values(encode({std::vector<float>(8, notANumber)}, rate)))
            QCOMPARE(value, 0);
        for (int value : values(encode({std::vector<float>(8, infinity)}, rate)))
            QCOMPARE(value, 32767);
        for (int value : values(encode({std::vector<float>(8, -infinity)}, rate)))
            QCOMPARE(value, -32767);
        // A NaN in one channel is silence in that channel only.
        for (int value :
             values(encode({std::vector<float>(8, notANumber), std::vector<float>(8, 0.5f)}, rate)))
            QCOMPARE(value, 8191);
    }

    void hugeFiniteSamplesThatOverflowEncodeAsSilence() {
        // Interpolating between ±3e38 overflows to ∓inf per channel; their sum is NaN.
        const QList<int> out = values(encode({{3e38f, -3e38f}, {-3e38f, 3e38f}}, 16000));
        QCOMPARE(out, QList<int>({0, 0, 0}));
        QCOMPARE(values(encode({{3e38f, -3e38f}}, 48000)), QList<int>({32767}));
    }
};

QTEST_GUILESS_MAIN(PCM24kEncoderTest)
#include "tst_PCM24kEncoder.moc"

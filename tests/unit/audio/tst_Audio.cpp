// The 24 kHz encoder, the capture service on a fake engine, and the microphone catalog.
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDeviceError.h"
#include "audio/PCM24kEncoder.h"

#include <QFile>
#include <QTest>
#include <QtEndian>

#include <limits>
#include <thread>

using namespace murmelo;
using Channels = QList<QList<float>>;

namespace {

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

QByteArray encode(const Channels& channels, double rate) {
    std::vector<const float*> pointers;
    for (const auto& channel : channels)
        pointers.push_back(channel.constData());
    const int frames = channels.isEmpty() ? 0 : int(channels.first().size());
    return PCM24kEncoder::encode({pointers.data(), frames, int(channels.size()), rate});
}

QList<int> samplesOf(const QByteArray& bytes) {
    QList<int> samples;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        samples << qFromLittleEndian<qint16>(bytes.constData() + i);
    return samples;
}

// A capture service on a fake engine with two microphones; the test picks the microphone.
struct Capture {
    AudioInputBackendFake* engine = new AudioInputBackendFake;
    QString microphone = QStringLiteral("usb-1");
    bool accessAllowed = true;
    AudioCaptureService service{std::unique_ptr<AudioInputBackend>(engine), [this] { return microphone; },
                                [this]() -> QCoro::Task<bool> { co_return accessAllowed; }};
    Capture() {
        engine->format = {24000, 1, {}};
        engine->devices = {{"usb-1", "USB 1"}, {"usb-2", "USB 2"}};
    }
    QString start(AudioCapturing::ChunkHandler handler = [](QByteArray) {}) {
        return test::failureOf(service.start(std::move(handler)));
    }
};

} // namespace

class AudioTest : public QObject {
    Q_OBJECT
private slots:
    void encodedLengthFollowsTheRateOfEachBuffer_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bytes");
        QTest::newRow("48 kHz halves") << 48000.0 << 1024 << 1 << 1024;
        QTest::newRow("stereo is still mono out") << 48000.0 << 1024 << 2 << 1024;
        QTest::newRow("24 kHz copies") << 24000.0 << 1024 << 1 << 2048;
        QTest::newRow("16 kHz upsamples") << 16000.0 << 1024 << 1 << 3072;
        QTest::newRow("44.1 kHz drops the fraction") << 44100.0 << 1024 << 1 << 1114;
        QTest::newRow("one frame at 96 kHz still gives a sample") << 96000.0 << 1 << 6 << 2;
        QTest::newRow("rate 0") << 0.0 << 1024 << 1 << 0;
        QTest::newRow("negative rate") << -48000.0 << 1024 << 1 << 0;
        QTest::newRow("rate not a number") << double(notANumber) << 1024 << 1 << 0;
        QTest::newRow("no frames") << 48000.0 << 0 << 1 << 0;
    }
    void encodedLengthFollowsTheRateOfEachBuffer() {
        QFETCH(double, rate);
        QFETCH(int, frames);
        QFETCH(int, channels);
        QFETCH(int, bytes);
        const QByteArray chunk = encode(Channels(channels, QList<float>(frames, 0.25f)), rate);
        QCOMPARE(chunk.size(), bytes);
        for (int sample : samplesOf(chunk))
            QCOMPARE(sample, 8191);
        const float sample = 0.25f;
        const float* channel = &sample;
        QVERIFY(PCM24kEncoder::encode({&channel, 1, 0, rate}).isEmpty()); // no channels
        QVERIFY(PCM24kEncoder::encode({nullptr, 1, 1, rate}).isEmpty());  // no float samples
    }

    void samplesAreResampledAveragedAndClamped_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<Channels>("channels");
        QTest::addColumn<QList<int>>("samples");
        QTest::newRow("clamped and truncated")
            << 24000.0 << Channels{{1.0f, -1.0f, 1.5f, -2.0f, 0.5f, -0.5f, 0.0f, 0.00001f}}
            << QList<int>{32767, -32767, 32767, -32767, 16383, -16383, 0, 0};
        QTest::newRow("48 kHz takes every other sample, unfiltered")
            << 48000.0 << Channels{{0.25f, 0.9f, -0.5f, 0.9f, 0.125f, -0.9f}}
            << QList<int>{8191, -16383, 4095};
        QTest::newRow("16 kHz interpolates and repeats the last sample")
            << 16000.0 << Channels{{0.0f, 0.3f}} << QList<int>{0, 6553, 9830};
        QTest::newRow("channels are averaged before clamping")
            << 24000.0 << Channels{{1.0f, 0.5f, 2.0f}, {-1.0f, 0.5f, -1.0f}} << QList<int>{0, 16383, 16383};
        QTest::newRow("NaN is silence in its own channel")
            << 24000.0 << Channels{{notANumber, notANumber}, {0.5f, 0.5f}} << QList<int>{8191, 8191};
        QTest::newRow("infinities clamp")
            << 24000.0 << Channels{{infinity, -infinity, notANumber}} << QList<int>{32767, -32767, 0};
        QTest::newRow("interpolated NaN")
            << 16000.0 << Channels{{notANumber, notANumber}} << QList<int>{0, 0, 0};
        QTest::newRow("interpolated infinity")
            << 44100.0 << Channels{{infinity, infinity}} << QList<int>{32767};
        QTest::newRow("interpolation that overflows is silence")
            << 16000.0 << Channels{{3e38f, -3e38f}, {-3e38f, 3e38f}} << QList<int>{0, 0, 0};
        QTest::newRow("huge but finite at 48 kHz")
            << 48000.0 << Channels{{3e38f, -3e38f}} << QList<int>{32767};
    }
    void samplesAreResampledAveragedAndClamped() {
        QFETCH(double, rate);
        QFETCH(Channels, channels);
        QFETCH(QList<int>, samples);
        QCOMPARE(samplesOf(encode(channels, rate)), samples);
    }

    void capturedBuffersGoOutEncodedOnTheCaptureThreadUntilStop() {
        Capture capture;
        QList<QByteArray> chunks;
        std::thread::id handlerThread;
        capture.microphone = QStringLiteral("usb-2");
        QCOMPARE(capture.start([&](QByteArray chunk) {
            chunks << chunk;
            handlerThread = std::this_thread::get_id();
        }),
                 QString());
        QVERIFY(capture.service.isRecording() && capture.engine->running);
        QCOMPARE(capture.engine->tapBufferFrames, 1024);
        QCOMPARE(capture.engine->currentDevice, QStringLiteral("usb-2"));
        QCOMPARE(capture.start(), QString()); // a second start keeps the first handler
        const float samples[] = {0.5f, 0.5f};
        const float* channel = samples;
        std::thread thread([&] {
            QVERIFY(capture.engine->deliver({&channel, 2, 1, 24000}));
            QVERIFY(capture.engine->deliver({&channel, 0, 1, 24000})); // encodes to nothing: no chunk
        });
        const auto captureThread = thread.get_id();
        thread.join();
        QCOMPARE(chunks, QList<QByteArray>{QByteArray::fromHex("ff3fff3f")});
        QVERIFY(handlerThread == captureThread);

        capture.service.stop();
        QVERIFY(!capture.service.isRecording() && !capture.engine->running && !capture.engine->hasTap());
        QVERIFY(capture.engine->currentDevice.isEmpty()); // back on the system default
        capture.microphone = QStringLiteral("usb-1");     // the choice is read at every start
        QCOMPARE(capture.start(), QString());
        QCOMPARE(capture.engine->currentDevice, QStringLiteral("usb-1"));
    }

    void failedStartLeavesNoStreamNoTapNoDeviceChoice_data() {
        QTest::addColumn<QString>("message");
        using C = AudioCaptureError::Case;
        using D = AudioInputDeviceError::Case;
        QTest::newRow("access refused") << AudioCaptureError(C::microphoneDenied).description();
        QTest::newRow("rate 0") << AudioCaptureError(C::invalidInputFormat).description();
        QTest::newRow("no channels") << AudioCaptureError(C::invalidInputFormat).description();
        QTest::newRow("no server")
            << AudioCaptureError(C::engineStartFailed, "Connection refused").description();
        QTest::newRow("stream refused")
            << AudioCaptureError(C::engineStartFailed, "No such entity").description();
        QTest::newRow("unplugged") << AudioInputDeviceError(D::deviceNotFound).description();
        QTest::newRow("lookup fails") << AudioInputDeviceError(D::coreAudio, 6).description();
        QTest::newRow("switch refused") << AudioInputDeviceError(D::coreAudio, -50).description();
        QTest::newRow("engine cannot choose") << AudioInputDeviceError(D::audioUnitUnavailable).description();
    }
    void failedStartLeavesNoStreamNoTapNoDeviceChoice() {
        QFETCH(QString, message);
        const QByteArray step = QTest::currentDataTag();
        Capture capture;
        auto& engine = *capture.engine;
        capture.accessAllowed = step != "access refused";
        if (step == "rate 0") engine.format = {0, 2, {}};
        if (step == "no channels") engine.format = {48000, 0, {}};
        if (step == "no server") engine.format = {0, 0, "Connection refused"};
        if (step == "stream refused") engine.startFailure = QStringLiteral("No such entity");
        if (step == "unplugged") capture.microphone = QStringLiteral("unplugged");
        if (step == "lookup fails") engine.lookupStatus = 6;
        if (step == "switch refused") engine.setDeviceStatus = -50;
        if (step == "engine cannot choose") engine.deviceChoiceSupported = false;
        QCOMPARE(capture.start(), message);
        QVERIFY(!capture.service.isRecording() && !engine.running && !engine.hasTap());
        QVERIFY(engine.currentDevice.isEmpty());
        // The system default needs no choice; the next start works once the engine does.
        capture.accessAllowed = true;
        capture.microphone.clear();
        engine.format = {48000, 2, {}};
        engine.startFailure.reset();
        QCOMPARE(capture.start(), QString());
        QVERIFY(capture.service.isRecording());
    }

    void aThrowingHandlerNeverUnwindsIntoTheCaptureThread() {
        Capture capture;
        int calls = 0;
        QCOMPARE(capture.start([&](QByteArray) {
            ++calls;
            throw std::runtime_error("handler failed");
        }),
                 QString());
        const float sample = 0.1f;
        const float* channel = &sample;
        QVERIFY(capture.engine->deliver({&channel, 1, 1, 24000}));
        QVERIFY(capture.engine->deliver({&channel, 1, 1, 24000}));
        QCOMPARE(calls, 2);
    }

    void catalogSortsLikeAFileManagerAndKeepsEqualNamesInOrder() {
        AudioInputBackendFake backend;
        backend.devices = {{"usb-10", "USB Mic 10"}, {"hdmi", "beta"},   {"dock-b", "Dock"},
                           {"usb-2", "USB Mic 2"},   {"alpha", "Alpha"}, {"dock-a", "Dock"},
                           {"lower", "dock"}};
        QStringList uids;
        for (const auto& device : AudioInputDevice::availableDevices(backend))
            uids << device.uid;
        QCOMPARE(uids, QStringList({"alpha", "hdmi", "dock-b", "dock-a", "lower", "usb-2", "usb-10"}));
    }

    void privacySettingsOpenTheDesktopsOwnSoundSettingsFirst() {
        test::TestEnvironment environment;
        const QString bin = environment.root() + "/bin";
        environment.set("PATH", bin.toUtf8());
        environment.set("XDG_CURRENT_DESKTOP", "XFCE");
        QVERIFY(!AudioCaptureService::openMicrophonePrivacySettings()); // nothing installed
        for (const QString program : {"pavucontrol", "gnome-control-center"}) {
            test::writeFile(bin + "/" + program, QStringLiteral("#!/bin/sh\necho \"$0 $*\" > '%1/%2.ran'\n")
                                                     .arg(environment.root(), program)
                                                     .toUtf8());
            QFile::setPermissions(bin + "/" + program, QFile::ReadOwner | QFile::ExeOwner);
        }
        const auto ran = [&](const QString& program) {
            const QString marker = environment.root() + "/" + program + ".ran";
            test::waitUntil([&] { return !test::readAll(marker).isEmpty(); }, 10000);
            return QString::fromUtf8(test::readAll(marker)).trimmed();
        };
        QVERIFY(AudioCaptureService::openMicrophonePrivacySettings());
        QCOMPARE(ran("pavucontrol"), bin + "/pavucontrol --tab=4");
        environment.set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        QVERIFY(AudioCaptureService::openMicrophonePrivacySettings());
        QCOMPARE(ran("gnome-control-center"), bin + "/gnome-control-center sound");
    }
};

QTEST_GUILESS_MAIN(AudioTest)
#include "tst_Audio.moc"

#include "AsyncTest.h"
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDeviceError.h"
#include "audio/AudioInputDeviceSelector.h"
#include "pulse/AudioInputBackendPulse.h"

#include <QDeadlineTimer>
#include <QTest>

#include <cmath>
#include <mutex>
#include <thread>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Everything the chunk handler received, in order.
struct Recording {
    std::mutex mutex;
    QByteArray samples; // concatenated chunks
    int chunks = 0;
    bool oddChunk = false;

    AudioCapturing::ChunkHandler handler() {
        return [this](QByteArray chunk) {
            std::lock_guard lock(mutex);
            oddChunk = oddChunk || chunk.size() % 2 != 0;
            samples += chunk;
            ++chunks;
        };
    }
    qsizetype sampleCount() {
        std::lock_guard lock(mutex);
        return samples.size() / 2;
    }
    int chunkCount() {
        std::lock_guard lock(mutex);
        return chunks;
    }
    // Polls until `count` samples arrived or `limit` passed.
    bool waitForSamples(qsizetype count, std::chrono::milliseconds limit) {
        QDeadlineTimer deadline(limit);
        while (sampleCount() < count) {
            if (deadline.hasExpired()) return false;
            QTest::qWait(10);
        }
        return true;
    }
    double rms() {
        std::lock_guard lock(mutex);
        const auto* values = reinterpret_cast<const qint16*>(samples.constData());
        const qsizetype count = samples.size() / 2;
        double sum = 0;
        for (qsizetype i = 0; i < count; ++i)
            sum += double(values[i]) * values[i];
        return count ? std::sqrt(sum / count) / 32767.0 : 0;
    }
};

// RMS of the channel average of the first `frames` interleaved stereo frames.
double monoRms(const std::vector<float>& interleaved, size_t frames) {
    double sum = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double mono = (double(interleaved[2 * i]) + interleaved[2 * i + 1]) / 2;
        sum += mono * mono;
    }
    return frames ? std::sqrt(sum / double(frames)) : 0;
}

std::vector<float> concatenate(std::initializer_list<std::vector<float>> parts) {
    std::vector<float> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace

class AudioCapturePulseTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestEnvironment> m_environment;
    std::unique_ptr<test::PulseAudioServer> m_server;
    std::vector<float> m_speech;
    QString m_microphone; // what the settings would hold

    std::unique_ptr<AudioCaptureService> makeService(AudioInputBackendPulse** backend = nullptr) {
        auto engine = std::make_unique<AudioInputBackendPulse>(
            AudioInputBackendPulse::Options{m_server->address(), 3000ms});
        if (backend) *backend = engine.get();
        return std::make_unique<AudioCaptureService>(std::move(engine), [this] { return m_microphone; });
    }

private slots:
    void initTestCase() {
        m_environment = std::make_unique<test::TestEnvironment>();
        m_server = std::make_unique<test::PulseAudioServer>();
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        m_speech = test::mandarinSpeech(QStringLiteral("你好，我们开始听写。"), &error);
        QVERIFY2(!m_speech.empty(), qPrintable(error));
    }

    void init() { m_microphone.clear(); }

    void catalogListsMicrophonesButNoMonitor() {
        AudioInputBackendPulse backend({m_server->address(), 3000ms});
        const QList<AudioInputDevice> devices = AudioInputDevice::availableDevices(backend);
        QCOMPARE(devices, QList<AudioInputDevice>({{"vmic", "VirtualMic"}}));

        const int second = m_server->addPipeMicrophone("mic10", "Mic 10");
        const int third = m_server->addPipeMicrophone("mic2", "Mic 2");
        QVERIFY(second >= 0 && third >= 0);
        QCOMPARE(AudioInputDevice::availableDevices(backend),
                 QList<AudioInputDevice>({{"mic2", "Mic 2"}, {"mic10", "Mic 10"}, {"vmic", "VirtualMic"}}));
        QVERIFY(m_server->unloadModule(second));
        QVERIFY(m_server->unloadModule(third));
    }

    void capturesFedSpeechAsWholeBuffersOfPCM16() {
        for (const QString& microphone : {QString(), QStringLiteral("vmic")}) {
            m_microphone = microphone;
            auto service = makeService();
            Recording recording;
            test::run(service->start(recording.handler()));
            QVERIFY(service->isRecording());

            const std::vector<float> fed =
                concatenate({test::stereoSilence(0.2), m_speech, test::stereoSilence(0.3)});
            const size_t fedFrames = fed.size() / 2;
            test::MicrophoneFeeder feeder(m_server->microphoneFifo());
            feeder.play(fed);
            QVERIFY(feeder.waitUntilDone(30s));
            // Only whole 1024-frame buffers are delivered: 512 samples each at 48 kHz.
            const qsizetype expected = qsizetype(fedFrames / 1024) * 512;
            QVERIFY2(recording.waitForSamples(expected, 5s),
                     qPrintable(QString::number(recording.sampleCount())));
            service->stop();
            QVERIFY(!service->isRecording());

            QCOMPARE(recording.sampleCount(), expected);
            QCOMPARE(recording.chunkCount(), int(fedFrames / 1024));
            QVERIFY(!recording.oddChunk);
            QVERIFY(std::abs(double(recording.sampleCount()) - double(fedFrames) / 2) < 512);
            const double fedRms = monoRms(fed, (fedFrames / 1024) * 1024);
            QVERIFY(fedRms > 0.01); // the speech is audible
            QVERIFY2(std::abs(recording.rms() - fedRms) < 0.1 * fedRms,
                     qPrintable(QStringLiteral("%1 vs %2").arg(recording.rms()).arg(fedRms)));
        }
    }

    void tapGetsExactBuffersInTheSourcesOwnFormat_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::newRow("48 kHz stereo") << 48000 << 2;
        QTest::newRow("44.1 kHz mono") << 44100 << 1;
        QTest::newRow("16 kHz, 4 channels") << 16000 << 4;
    }
    void tapGetsExactBuffersInTheSourcesOwnFormat() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        const QString name = QStringLiteral("src%1x%2").arg(rate).arg(channels);
        const int module = m_server->addPipeMicrophone(name, name, rate, channels);
        QVERIFY(module >= 0);
        AudioInputBackendPulse backend({m_server->address(), 3000ms});
        AudioInputDeviceSelector::apply(name, backend);
        const AudioInputFormat format = backend.inputFormat();
        QCOMPARE(format, (AudioInputFormat{double(rate), channels, {}}));

        // Every channel gets its own signal, so a mix-up of channels or frames shows.
        const int frames = 3 * 1024 + 100;
        std::vector<float> fed(size_t(frames) * channels);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                fed[size_t(i) * channels + c] = float((i * (c + 1)) % 2000) / 2000.0f - 0.5f;

        std::mutex mutex;
        std::vector<float> received; // interleaved again
        QStringList problems;
        const auto mainThread = std::this_thread::get_id();
        backend.installTap(1024, format, [&](const AudioPCMBuffer& buffer) {
            std::lock_guard lock(mutex);
            if (buffer.frameLength != 1024 || buffer.channelCount != channels || buffer.sampleRate != rate ||
                std::this_thread::get_id() == mainThread)
                problems << QStringLiteral("buffer %1 frames, %2 channels, %3 Hz")
                                .arg(buffer.frameLength)
                                .arg(buffer.channelCount)
                                .arg(buffer.sampleRate);
            for (int i = 0; i < buffer.frameLength; ++i)
                for (int c = 0; c < buffer.channelCount; ++c)
                    received.push_back(buffer.channelData[c][i]);
        });
        QString message;
        QVERIFY2(backend.start(&message), qPrintable(message));
        test::MicrophoneFeeder feeder(m_server->fifoPath(name), rate, channels);
        feeder.play(fed);
        QVERIFY(feeder.waitUntilDone(10s));
        QVERIFY(waitUntil(
            [&] {
                std::lock_guard lock(mutex);
                return received.size() >= size_t(3 * 1024 * channels);
            },
            5s));
        backend.removeTap();
        backend.stop();
        backend.reset();
        QVERIFY(m_server->unloadModule(module));

        std::lock_guard lock(mutex);
        QCOMPARE(problems, QStringList());
        QCOMPARE(received.size(), size_t(3 * 1024 * channels)); // the last 100 frames wait for a full buffer
        QVERIFY(std::equal(received.begin(), received.end(), fed.begin()));
    }

    void streamThatCannotBeOpenedReportsTheServersMessage() {
        AudioInputBackendPulse backend({m_server->address(), 3000ms});
        QCOMPARE(backend.setCurrentDevice("ghost"), 0);
        backend.installTap(1024, {48000, 2, {}}, [](const AudioPCMBuffer&) {});
        QString message;
        QVERIFY(!backend.start(&message));
        QCOMPARE(message, QString("No such entity"));
        QVERIFY(!backend.isStreaming());
        backend.stop(); // harmless
    }

    void nothingArrivesAfterStop() {
        auto service = makeService();
        Recording recording;
        test::run(service->start(recording.handler()));
        test::MicrophoneFeeder feeder(m_server->microphoneFifo());
        feeder.play(test::stereoSilence(0.5), true);
        QVERIFY(recording.waitForSamples(512, 5s));
        service->stop();
        const qsizetype atStop = recording.sampleCount();
        // Keep feeding for several buffers' worth: none may reach the handler.
        QTest::qWait(150);
        QCOMPARE(recording.sampleCount(), atStop);
        feeder.stop();
    }

    void missingOrVanishedMicrophoneIsNotFound() {
        auto service = makeService();
        Recording recording;
        m_microphone = "unplugged";
        auto error = test::runExpectingError<AudioInputDeviceError>(service->start(recording.handler()));
        QCOMPARE(error, AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound));

        // Listed a moment ago, gone at the start: fails at once, without falling back to the default.
        const int module = m_server->addPipeMicrophone("usb", "USB");
        QVERIFY(module >= 0);
        AudioInputBackendPulse backend({m_server->address(), 3000ms});
        QVERIFY(AudioInputDevice::availableDevices(backend).contains(AudioInputDevice{"usb", "USB"}));
        QVERIFY(m_server->unloadModule(module));
        m_microphone = "usb";
        error = test::runExpectingError<AudioInputDeviceError>(service->start(recording.handler()));
        QCOMPARE(error, AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound));
        QVERIFY(!service->isRecording());

        // A monitor is not a microphone either.
        m_microphone = "speakers.monitor";
        error = test::runExpectingError<AudioInputDeviceError>(service->start(recording.handler()));
        QCOMPARE(error, AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound));
    }

    void microphoneUnpluggedWhileRecordingEndsTheChunks() {
        const int module = m_server->addPipeMicrophone("headset", "Headset");
        QVERIFY(module >= 0);
        AudioInputBackendPulse* backend = nullptr;
        auto service = makeService(&backend);
        Recording recording;
        m_microphone = "headset";
        test::run(service->start(recording.handler()));
        test::MicrophoneFeeder feeder(m_server->fifoPath("headset"));
        feeder.play(test::stereoSilence(0.5), true);
        QVERIFY(recording.waitForSamples(512, 5s));

        QVERIFY(m_server->unloadModule(module));
        QVERIFY(waitUntil([&] { return !backend->isStreaming(); }, 5s)); // not moved to another input
        feeder.stop();
        service->stop();
        QVERIFY(!service->isRecording());

        // The engine is reusable: the default microphone records again.
        m_microphone.clear();
        Recording again;
        test::run(service->start(again.handler()));
        test::MicrophoneFeeder vmic(m_server->microphoneFifo());
        vmic.play(test::stereoSilence(0.1));
        QVERIFY(again.waitForSamples(512, 5s));
        service->stop();
    }

    void noServerFailsToStart() {
        auto engine = std::make_unique<AudioInputBackendPulse>(
            AudioInputBackendPulse::Options{"unix:" + m_environment->root() + "/nothing/native", 3000ms});
        AudioInputBackendPulse* backend = engine.get();
        AudioCaptureService service(std::move(engine), [this] { return m_microphone; });
        Recording recording;
        auto error = test::runExpectingError<AudioCaptureError>(service.start(recording.handler()));
        QVERIFY(error);
        QCOMPARE(error->description(), QString("无法启动麦克风：Connection refused"));
        QVERIFY(!service.isRecording());
        QVERIFY(backend->inputDevices().isEmpty());

        m_microphone = "vmic"; // a chosen microphone asks the server first: its error code
        auto deviceError = test::runExpectingError<AudioInputDeviceError>(service.start(recording.handler()));
        QVERIFY(deviceError);
        QCOMPARE(deviceError->kind(), AudioInputDeviceError::Case::coreAudio);
        QCOMPARE(deviceError->description(), QString("切换麦克风失败（Core Audio 6）。"));
    }

    // Last: the server does not come back.
    void serverKilledWhileRecordingStopsPromptly() {
        AudioInputBackendPulse* backend = nullptr;
        auto service = makeService(&backend);
        Recording recording;
        test::run(service->start(recording.handler()));
        test::MicrophoneFeeder feeder(m_server->microphoneFifo());
        feeder.play(test::stereoSilence(0.5), true);
        QVERIFY(recording.waitForSamples(512, 5s));

        m_server->kill();
        QVERIFY(waitUntil([&] { return !backend->isStreaming(); }, 5s));
        feeder.stop();
        service->stop(); // returns: a hang here fails the test by its time limit
        QVERIFY(!service->isRecording());
        const int chunks = recording.chunkCount();

        auto error = test::runExpectingError<AudioCaptureError>(service->start(recording.handler()));
        QVERIFY(error);
        QCOMPARE(error->kind(), AudioCaptureError::Case::engineStartFailed);
        QVERIFY(AudioInputDevice::availableDevices(service->engine()).isEmpty());
        QCOMPARE(recording.chunkCount(), chunks);
    }
};

QTEST_GUILESS_MAIN(AudioCapturePulseTest)
#include "tst_AudioCapturePulse.moc"

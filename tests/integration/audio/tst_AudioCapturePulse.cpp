// The real capture engine and service on a private PulseAudio server, its microphones pipe-sources
// the test feeds at real-time pace.
#include "AsyncTest.h"
#include "PulseAudioServer.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDeviceError.h"
#include "audio/AudioInputDeviceSelector.h"
#include "pulse/AudioInputBackendPulse.h"

#include <QJsonObject>
#include <QTest>

#include <atomic>
#include <thread>

using namespace murmelo;
using namespace std::chrono_literals;

class AudioCapturePulseTest : public QObject {
    Q_OBJECT

    test::TestEnvironment m_environment; // no client configuration or cookie of the user's
    test::PulseAudioServer m_server;
    QString m_microphone; // what the settings would hold

    std::unique_ptr<AudioCaptureService> makeService() {
        return std::make_unique<AudioCaptureService>(
            std::make_unique<AudioInputBackendPulse>(
                AudioInputBackendPulse::Options{m_server.address(), 3000ms}),
            [this] { return m_microphone; });
    }
    // Starts the service and feeds silence until it has delivered a first chunk; `losses` counts
    // the losses it reports.
    static bool recordsFrom(AudioCaptureService& service, test::MicrophoneFeeder& feeder, int* losses = nullptr) {
        auto bytes = std::make_shared<std::atomic<qsizetype>>(0); // the capture thread may outlive us
        test::run(service.start([bytes](QByteArray chunk) { *bytes += chunk.size(); }, [losses] {
            if (losses) ++*losses;
        }));
        feeder.play(test::stereoSilence(0.5), true);
        return test::waitUntil([&] { return *bytes > 0; }, 5s);
    }

private slots:
    void initTestCase() {
        QString error;
        QVERIFY2(m_server.start(&error), qPrintable(error));
    }

    void tapGetsExactBuffersInTheSourcesOwnFormatUntilStop_data() {
        test::rowsFromJson(QFINDTESTDATA("audio/source_formats.json"));
    }
    void tapGetsExactBuffersInTheSourcesOwnFormatUntilStop() {
        QFETCH(QJsonObject, row);
        const QString source = row["source"].toString(); // none: the system default, "vmic"
        const int rate = row["rate"].toInt();
        const int channels = row["channels"].toInt();
        const int module = source.isEmpty() ? -1 : m_server.addPipeMicrophone(source, source, rate, channels);
        AudioInputBackendPulse backend({m_server.address(), 3000ms});
        test::run(AudioInputDeviceSelector::apply(source, backend));
        const AudioInputFormat format = test::run(backend.inputFormat());
        QCOMPARE(format, (AudioInputFormat{double(rate), channels, {}}));

        // Every channel gets its own signal, so a mix-up of channels or frames shows.
        std::vector<float> fed(size_t(3 * 1024 + 100) * channels);
        for (size_t i = 0; i < fed.size(); ++i)
            fed[i] = float((i / channels * (i % channels + 1)) % 2000) / 2000.0f - 0.5f;
        std::vector<float> received;          // interleaved again; read once the stream is closed
        std::atomic<size_t> receivedCount{0}; // what the test may watch meanwhile
        std::atomic<bool> misshapen = false;
        const auto mainThread = std::this_thread::get_id();
        backend.installTap(1024, format, [&](const AudioPCMBuffer& buffer) {
            misshapen = misshapen || buffer.frameLength != 1024 || buffer.sampleRate != rate ||
                        std::this_thread::get_id() == mainThread;
            for (int i = 0; i < buffer.frameLength; ++i)
                for (int c = 0; c < buffer.channelCount; ++c)
                    received.push_back(buffer.channelData[c][i]);
            receivedCount = received.size();
        });
        const std::optional<QString> refused = test::run(backend.start({}));
        QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
        test::MicrophoneFeeder feeder(m_server.fifoPath(source.isEmpty() ? "vmic" : source), rate, channels);
        feeder.play(fed);
        const size_t expected = size_t(3 * 1024 * channels); // the last 100 frames wait for a full buffer
        QVERIFY(test::waitUntil([&] { return receivedCount >= expected; }, 15s));
        backend.stop();
        QVERIFY(test::waitUntil([&] { return !m_server.hasRecordStreams(); }, 5s));
        if (module >= 0) QVERIFY(m_server.unloadModule(module));
        QVERIFY(!misshapen);
        QVERIFY(received == std::vector<float>(fed.begin(), fed.begin() + qsizetype(expected)));
    }

    void unpluggedOrMonitorMicrophoneIsNotFound_data() {
        QTest::addColumn<QString>("microphone");
        QTest::newRow("unplugged microphone") << "unplugged";
        QTest::newRow("monitor chosen as microphone") << "speakers.monitor";
    }
    void unpluggedOrMonitorMicrophoneIsNotFound() {
        QFETCH(QString, microphone);
        m_microphone = microphone;
        QCOMPARE(test::failureOf(makeService()->start([](QByteArray) {}, {})),
                 AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound).description());
    }

    // Listed a moment ago, gone by the time the stream opens.
    void unopenableStreamReportsTheServersMessage() {
        AudioInputBackendPulse backend({m_server.address(), 3000ms});
        QCOMPARE(backend.setCurrentDevice("ghost"), 0);
        backend.installTap(1024, {48000, 2, {}}, [](const AudioPCMBuffer&) {});
        QCOMPARE(test::run(backend.start({})), std::optional<QString>("No such entity"));
        QVERIFY(!backend.isStreaming());
    }

    // A source goes: the catalog follows, the recording ends rather than moving to another input and
    // the service says so, once, and the next start records from the default or names the missing
    // server.
    void catalogAndRecordingFollowTheSourceGoingAndNeverMoveElsewhere_data() {
        QTest::addColumn<bool>("serverKilled"); // else the microphone is unplugged
        QTest::newRow("microphone unplugged") << false;
        QTest::newRow("server killed") << true; // last: the server does not come back
    }
    void catalogAndRecordingFollowTheSourceGoingAndNeverMoveElsewhere() {
        QFETCH(bool, serverKilled);
        const int module = m_server.addPipeMicrophone("headset", "Headset");
        m_microphone = "headset";
        const auto service = makeService();
        const auto& backend = static_cast<const AudioInputBackendPulse&>(service->engine());
        const AudioInputDevice vmic{"vmic", "VirtualMic"};
        // The plugged microphone is offered, the speakers' monitor never.
        QCOMPARE(test::run(AudioInputDevice::availableDevices(service->engine())),
                 QList({AudioInputDevice{"headset", "Headset"}, vmic}));
        test::MicrophoneFeeder feeder(m_server.fifoPath("headset"));
        int losses = 0;
        QVERIFY(recordsFrom(*service, feeder, &losses));
        if (serverKilled)
            m_server.kill();
        else
            QVERIFY(m_server.unloadModule(module));
        QVERIFY(test::waitUntil([&] { return losses > 0; }, 5s));
        QVERIFY(!service->isRecording() && !backend.isStreaming()); // not on "vmic" now
        feeder.stop();
        service->stop(); // returns: a hang here fails the test by its time limit
        QTest::qWait(100);
        QCOMPARE(losses, 1);

        m_microphone.clear();
        test::MicrophoneFeeder again(m_server.microphoneFifo());
        if (!serverKilled) {
            QCOMPARE(test::run(AudioInputDevice::availableDevices(service->engine())), QList{vmic});
            QVERIFY(recordsFrom(*service, again)); // the engine records again, from the default
            return;
        }
        // Without the server a start names the refused connection; with a chosen microphone, the
        // error code of asking for it.
        const auto failure = [&] { return test::failureOf(service->start([](QByteArray) {}, {})); };
        const AudioCaptureError refused(AudioCaptureError::Case::engineStartFailed, "Connection refused");
        QCOMPARE(failure(), refused.description());
        m_microphone = "vmic";
        QCOMPARE(failure(), AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, 6).description());
        QVERIFY(test::run(AudioInputDevice::availableDevices(service->engine())).isEmpty());
    }
};

QTEST_GUILESS_MAIN(AudioCapturePulseTest)
#include "tst_AudioCapturePulse.moc"

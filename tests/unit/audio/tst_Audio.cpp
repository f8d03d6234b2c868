// The 24 kHz encoder and the capture service on a fake engine.
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDeviceError.h"
#include "audio/PCM24kEncoder.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QtEndian>

#include <thread>

using namespace murmelo;

namespace {

// A capture service on a fake engine with two microphones; the test picks the microphone.
struct Capture {
    AudioInputBackendFake* engine = new AudioInputBackendFake;
    QString microphone = QStringLiteral("usb-1");
    bool accessAllowed = true;
    AudioCaptureService service{std::unique_ptr<AudioInputBackend>(engine), [this] { return microphone; },
                                [this]() -> QCoro::Task<bool> { co_return accessAllowed; }};
    Capture() { engine->devices = {{"usb-1", "USB 1"}, {"usb-2", "USB 2"}}; }
    QString start(AudioCapturing::ChunkHandler handler = [](QByteArray) {}, AudioCapturing::LossHandler lost = {}) {
        return test::failureOf(service.start(std::move(handler), std::move(lost)));
    }
};

} // namespace

class AudioTest : public QObject {
    Q_OBJECT
private slots:
    // Rows give the channels' samples ("nan", "inf", "-inf" as strings), or a frame and channel
    // count of samples at 0.25 with the number of samples they encode to.
    void encoderResamplesAveragesAndClampsEveryBuffer_data() {
        test::rowsFromJson(QFINDTESTDATA("audio/encoder_cases.json"));
    }
    void encoderResamplesAveragesAndClampsEveryBuffer() {
        QFETCH(QJsonObject, row);
        const auto number = [](const QJsonValue& v) { return v.isString() ? v.toString().toDouble() : v.toDouble(); };
        int frames = row["frames"].toInt();
        QList<QList<float>> channels(row["channelCount"].toInt(), QList<float>(frames, 0.25f));
        for (const QJsonValue& channel : row["channels"].toArray()) {
            channels.append(QList<float>());
            for (const QJsonValue& sample : channel.toArray())
                channels.last().append(float(number(sample)));
            frames = int(channels.last().size());
        }
        std::vector<const float*> pointers;
        for (const auto& channel : channels)
            pointers.push_back(channel.constData());
        const QByteArray bytes = PCM24kEncoder::encode({pointers.data(), frames, int(channels.size()), number(row["rate"])});
        QJsonArray samples;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            samples.append(qFromLittleEndian<qint16>(bytes.constData() + i));
        if (row.contains("length"))
            QCOMPARE(samples, QJsonArray::fromVariantList(QVariantList(row["length"].toInt(), 8191)));
        else
            QCOMPARE(samples, row["samples"].toArray());
    }

    void capturedBuffersGoOutEncodedFromTheCaptureThreadUntilStop() {
        Capture capture;
        QList<QByteArray> chunks; // filled on the capture thread, read once it has ended
        capture.microphone = QStringLiteral("usb-2");
        QCOMPARE(capture.start([&](QByteArray chunk) { chunks << chunk; }), QString());
        QVERIFY(capture.service.isRecording() && capture.engine->running);
        QCOMPARE(capture.engine->currentDevice, QStringLiteral("usb-2"));
        QCOMPARE(capture.start(), QString()); // a second start keeps the first handler
        const float samples[] = {0.5f, 0.5f};
        const float* channel = samples;
        std::thread thread([&] {
            for (const AudioPCMBuffer& buffer : {AudioPCMBuffer{&channel, 2, 1, 24000}, AudioPCMBuffer{&channel, 0, 1, 24000},
                                                 AudioPCMBuffer{nullptr, 2, 1, 24000}, AudioPCMBuffer{&channel, 2, 1, 24000}})
                QVERIFY(capture.engine->deliver(buffer)); // buffers without samples give no chunk
        });
        thread.join();
        QCOMPARE(chunks, QList<QByteArray>(2, QByteArray::fromHex("ff3fff3f")));

        capture.service.stop();
        QVERIFY(!capture.service.isRecording() && !capture.engine->running && !capture.engine->hasTap());
        QVERIFY(capture.engine->currentDevice.isEmpty()); // back on the system default
        capture.microphone = QStringLiteral("usb-1");     // the choice is read at every start
        QCOMPARE(capture.start(), QString());
        QCOMPARE(capture.engine->currentDevice, QStringLiteral("usb-1"));
    }

    // The real audio server's test sees the messages of an unplugged microphone and a failed lookup.
    void failedStartLeavesNoStreamNoTapNoDeviceChoice_data() {
        QTest::addColumn<QString>("message");
        using C = AudioCaptureError::Case;
        using D = AudioInputDeviceError::Case;
        QTest::newRow("access refused") << AudioCaptureError(C::microphoneDenied).description();
        QTest::newRow("rate 0") << AudioCaptureError(C::invalidInputFormat).description();
        QTest::newRow("no channels") << AudioCaptureError(C::invalidInputFormat).description();
        QTest::newRow("no server") << AudioCaptureError(C::engineStartFailed, "Connection refused").description();
        QTest::newRow("stream refused") << AudioCaptureError(C::engineStartFailed, "No such entity").description();
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
    }
};

QTEST_GUILESS_MAIN(AudioTest)
#include "tst_Audio.moc"

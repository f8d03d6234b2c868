#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioCaptureService.h"
#include "audio/AudioInputDeviceError.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <mutex>
#include <thread>
#include <vector>

using namespace murmelo;

Q_DECLARE_METATYPE(murmelo::AudioInputFormat)

namespace {

// What the chunk handler saw, filled from the capture thread.
struct Received {
    std::mutex mutex;
    QList<QByteArray> chunks;
    std::vector<std::thread::id> threads;

    AudioCapturing::ChunkHandler handler() {
        return [this](QByteArray chunk) {
            std::lock_guard lock(mutex);
            chunks << chunk;
            threads.push_back(std::this_thread::get_id());
        };
    }
    QList<QByteArray> snapshot() {
        std::lock_guard lock(mutex);
        return chunks;
    }
};

// A mono 24 kHz buffer of `frames` samples at `value`, which encodes to the same count of samples.
struct Buffer {
    std::vector<float> samples;
    const float* channel = nullptr;
    Buffer(int frames, float value)
        : samples(frames, value)
        , channel(samples.data()) {}
    AudioPCMBuffer pcm() const { return {&channel, static_cast<int>(samples.size()), 1, 24000}; }
};

struct Fixture {
    AudioInputBackendFake* engine = nullptr;
    QString microphone;
    std::unique_ptr<AudioCaptureService> service;

    explicit Fixture(
        AudioCaptureService::AccessRequest access = &AudioCaptureService::requestMicrophoneAccess) {
        auto backend = std::make_unique<AudioInputBackendFake>();
        engine = backend.get();
        engine->format = {24000, 1, {}};
        engine->devices = {{"usb-1", "USB 1"}, {"usb-2", "USB 2"}};
        service = std::make_unique<AudioCaptureService>(
            std::move(backend), [this] { return microphone; }, std::move(access));
    }
};

QCoro::Task<bool> refuse() {
    co_return false;
}

} // namespace

class AudioCaptureServiceTest : public QObject {
    Q_OBJECT
private slots:
    void recordsThroughTheEngineAndStopsCleanly() {
        Fixture f;
        Received received;
        test::run(f.service->start(received.handler()));
        QVERIFY(f.service->isRecording());
        QCOMPARE(f.engine->calls, QStringList({"inputFormat", "removeTap", "installTap:1024", "start"}));
        QVERIFY(f.engine->running);

        // The capture thread encodes and hands chunks on, in order, on that thread.
        std::thread capture([&] {
            QVERIFY(f.engine->deliver(Buffer(4, 0.5f).pcm()));
            QVERIFY(f.engine->deliver(Buffer(0, 0.5f).pcm())); // encodes to nothing: no chunk
            QVERIFY(f.engine->deliver(Buffer(2, -1.0f).pcm()));
        });
        const auto captureThread = capture.get_id();
        capture.join();
        QCOMPARE(received.snapshot(), QList<QByteArray>({QByteArray::fromHex("ff3fff3fff3fff3f"),
                                                         QByteArray::fromHex("01800180")}));
        QCOMPARE(received.threads, std::vector({captureThread, captureThread}));

        f.engine->calls.clear();
        f.service->stop();
        QVERIFY(!f.service->isRecording());
        QCOMPARE(f.engine->calls, QStringList({"removeTap", "stop", "reset"}));
        QVERIFY(!f.engine->deliver(Buffer(4, 0.5f).pcm())); // nothing reaches the handler after stop

        f.engine->calls.clear();
        f.service->stop();
        QVERIFY(f.engine->calls.isEmpty());
    }

    void startWhileRecordingKeepsTheFirstHandler() {
        Fixture f;
        Received first, second;
        test::run(f.service->start(first.handler()));
        f.engine->calls.clear();
        test::run(f.service->start(second.handler()));
        QVERIFY(f.engine->calls.isEmpty());
        f.engine->deliver(Buffer(1, 0.0f).pcm());
        QCOMPARE(first.snapshot().size(), 1);
        QCOMPARE(second.snapshot().size(), 0);
    }

    void stopWhenIdleDoesNothing() {
        Fixture f;
        f.service->stop();
        f.service->stop();
        QVERIFY(f.engine->calls.isEmpty());
        QVERIFY(!f.service->isRecording());
    }

    void chosenMicrophoneIsReadAtEveryStart() {
        Fixture f;
        Received received;
        f.microphone = "usb-2";
        test::run(f.service->start(received.handler()));
        QCOMPARE(f.engine->calls.mid(0, 3),
                 QStringList({"lookUp:usb-2", "setCurrentDevice:usb-2", "inputFormat"}));
        QCOMPARE(f.engine->currentDevice, QString("usb-2"));
        f.service->stop();

        f.engine->calls.clear();
        f.microphone.clear();
        test::run(f.service->start(received.handler()));
        QCOMPARE(f.engine->calls.first(), QString("inputFormat"));
        QVERIFY(f.engine->currentDevice.isEmpty()); // back on the system default
    }

    void refusedPermissionTouchesNoEngine() {
        Fixture f(&refuse);
        Received received;
        const auto error = test::runExpectingError<AudioCaptureError>(f.service->start(received.handler()));
        QCOMPARE(error, AudioCaptureError(AudioCaptureError::Case::microphoneDenied));
        QVERIFY(f.engine->calls.isEmpty());
        QVERIFY(!f.service->isRecording());
    }

    void deviceErrorsPassThroughUnchanged() {
        Fixture f;
        Received received;
        f.microphone = "unplugged";
        auto error = test::runExpectingError<AudioInputDeviceError>(f.service->start(received.handler()));
        QCOMPARE(error, AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound));
        QCOMPARE(f.engine->calls, QStringList({"lookUp:unplugged"}));

        f.engine->lookupStatus = 6;
        error = test::runExpectingError<AudioInputDeviceError>(f.service->start(received.handler()));
        QCOMPARE(error, AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, 6));
        QVERIFY(!f.service->isRecording());
        QVERIFY(!f.engine->hasTap());
    }

    void failedStartLeavesNoTapNoStreamAndNoDeviceChoice_data() {
        QTest::addColumn<AudioInputFormat>("format");
        QTest::addColumn<QString>("startFailure");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("calls");
        const QStringList chosen{"lookUp:usb-1", "setCurrentDevice:usb-1", "inputFormat"};
        QTest::newRow("rate 0") << AudioInputFormat{0, 2, {}} << QString() << "当前麦克风格式不可用。"
                                << chosen + QStringList{"reset"};
        QTest::newRow("no channels") << AudioInputFormat{48000, 0, {}} << QString()
                                     << "当前麦克风格式不可用。" << chosen + QStringList{"reset"};
        QTest::newRow("no server") << AudioInputFormat{0, 0, "Connection refused"} << QString()
                                   << "无法启动麦克风：Connection refused" << chosen + QStringList{"reset"};
        QTest::newRow("stream refused")
            << AudioInputFormat{48000, 2, {}} << "No such entity"
            << "无法启动麦克风：No such entity"
            << chosen + QStringList{"removeTap", "installTap:1024", "start", "removeTap", "reset"};
    }
    void failedStartLeavesNoTapNoStreamAndNoDeviceChoice() {
        QFETCH(AudioInputFormat, format);
        QFETCH(QString, startFailure);
        QFETCH(QString, description);
        QFETCH(QStringList, calls);
        Fixture f;
        Received received;
        f.microphone = "usb-1";
        f.engine->format = format;
        if (!startFailure.isEmpty()) f.engine->startFailure = startFailure;
        const auto error = test::runExpectingError<AudioCaptureError>(f.service->start(received.handler()));
        QVERIFY(error);
        QCOMPARE(error->description(), description);
        QCOMPARE(f.engine->calls, calls);
        QVERIFY(!f.service->isRecording());
        QVERIFY(!f.engine->hasTap());
        QVERIFY(!f.engine->running);
        QVERIFY(f.engine->currentDevice.isEmpty());

        // The next start works once the engine does.
        f.engine->format = {48000, 2, {}};
        f.engine->startFailure.reset();
        test::run(f.service->start(received.handler()));
        QVERIFY(f.service->isRecording());
    }

    void aThrowingHandlerDoesNotReachTheCaptureThread() {
        Fixture f;
        int calls = 0;
        test::run(f.service->start([&](QByteArray) {
            ++calls;
            throw std::runtime_error("handler failed");
        }));
        QVERIFY(f.engine->deliver(Buffer(2, 0.1f).pcm()));
        QVERIFY(f.engine->deliver(Buffer(2, 0.1f).pcm()));
        QCOMPARE(calls, 2);
    }

    void privacySettingsStartTheDesktopsSoundSettings() {
        test::TestEnvironment environment;
        const QString bin = environment.root() + "/bin";
        QVERIFY(QDir().mkpath(bin));
        environment.set("PATH", bin.toUtf8());
        environment.set("XDG_CURRENT_DESKTOP", "XFCE");
        QVERIFY(!AudioCaptureService::openMicrophonePrivacySettings()); // nothing installed: nothing happens

        const auto install = [&](const QString& program) {
            const QString path = bin + "/" + program;
            test::writeFile(path, QStringLiteral("#!/bin/sh\necho \"$0 $*\" > '%1/%2.ran'\n")
                                      .arg(environment.root(), program)
                                      .toUtf8());
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        const auto ran = [&](const QString& program) {
            const QString marker = environment.root() + "/" + program + ".ran";
            QDeadlineTimer deadline(10000);
            while (!QFile::exists(marker) || QFileInfo(marker).size() == 0) {
                if (deadline.hasExpired()) return QString();
                QTest::qWait(10);
            }
            return QString::fromUtf8(test::readAll(marker)).trimmed();
        };
        install("pavucontrol");
        install("gnome-control-center");
        QVERIFY(AudioCaptureService::openMicrophonePrivacySettings());
        QCOMPARE(ran("pavucontrol"), bin + "/pavucontrol --tab=4");

        environment.set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        QVERIFY(AudioCaptureService::openMicrophonePrivacySettings());
        QCOMPARE(ran("gnome-control-center"), bin + "/gnome-control-center sound");
    }
};

QTEST_GUILESS_MAIN(AudioCaptureServiceTest)
#include "tst_AudioCaptureService.moc"

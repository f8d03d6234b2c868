// Faults met through the built murmelo as a user meets them: a real X display with a tray, the hotkey
// pressed with xdotool, a private audio server, GNOME Keyring, the fake services. Each fault ends in
// the message the user reads on the overlay, with the microphone closed and the application running.
#include "FakeServices.h"
#include "KeyringSession.h"
#include "MurmeloProcess.h"
#include "PulseAudioServer.h"
#include "TestDisplay.h"
#include "refinement/MockTextRefinementProvider.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace murmelo;
using murmelo::test::KeyringSession;
using namespace std::chrono_literals;

class DesktopFaultsTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopFaultsTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    test::PulseAudioServer m_audio;
    std::unique_ptr<test::MicrophoneFeeder> m_feeder;
    std::unique_ptr<test::MurmeloProcess> m_murmelo;

    // Recording streams on the audio server while the microphone is open.
    bool microphoneOpen() const {
        QString streams;
        return m_audio.pactl({"list", "short", "source-outputs"}, &streams) && !streams.trimmed().isEmpty();
    }

    void press() { QVERIFY(m_display.run("xdotool", {"key", "ctrl+alt+space"})); }

    // Starts `murmelo` on the real providers (OpenAI for both steps, history on) against `services`,
    // presses the hotkey and waits until the service heard `frames` frames of speech; false on any
    // step failing.
    bool startRecording(test::MurmeloProcess& murmelo, const fake::FakeServices& services, int frames = 4) {
        const bool written = murmelo.writeSettings({{"settings.useMockProviders", false},
                                                    {"settings.refinementProvider", "openAI"},
                                                    {"settings.saveHistory", true}});
        QProcessEnvironment environment = murmelo.environment();
        environment.insert("OPENAI_API_KEY", "sk-faults");
        environment.insert("MURMELO_OPENAI_BASE_URL", services.baseUrl().toString());
        if (!written || !murmelo.start(environment) || !m_display.run("xdotool", {"key", "ctrl+alt+space"}))
            return false;
        if (!murmelo.waitForOverlay(QStringLiteral("正在录音"))) {
            qWarning("overlay: %s", qPrintable(murmelo.overlayTitle()));
            return false;
        }
        return test::waitUntil(
            [&] { return !services.sessions.isEmpty() && services.sessions.first().frameCount >= frames; },
            10s, 20ms);
    }

private slots:
    void initTestCase() {
        QString error;
        QVERIFY2(m_audio.start(&error), qPrintable(error));
        std::vector<float> speech = test::mandarinSpeech(QStringLiteral("你好，语音输入。"), &error);
        QVERIFY2(!speech.empty(), qPrintable(error));
        m_feeder = std::make_unique<test::MicrophoneFeeder>(m_audio.microphoneFifo());
        QVERIFY(m_feeder->play(speech, true));
    }

    void init() { m_murmelo = std::make_unique<test::MurmeloProcess>(m_display, m_audio.address()); }
    void cleanup() { m_murmelo.reset(); }

    void cleanupTestCase() {
        if (m_feeder) m_feeder->stop();
    }

    // The key was saved, then the screen lock locked the keyring: no key comes out, so the
    // dictation asks for one instead of opening the microphone or a connection.
    void lockedKeyringAsksForTheKey() {
        KeyringSession keyring(KeyringSession::Service::gnomeKeyring);
        QVERIFY2(keyring.isReady(), qPrintable(keyring.errorString()));
        qputenv("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress().toUtf8());
        KeychainStore(std::make_shared<SecretBackendLibsecret>())
            .save(QStringLiteral("sk-locked"), CredentialKind::openAI);
        QVERIFY(keyring.lockLoginCollection());
        fake::FakeServices services;
        QVERIFY(services.listen());

        QVERIFY(m_murmelo->writeSettings(
            {{"settings.useMockProviders", false}, {"settings.refinementProvider", "openAI"}}));
        QProcessEnvironment environment = m_murmelo->environment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress());
        environment.insert("MURMELO_OPENAI_BASE_URL", services.baseUrl().toString());
        QVERIFY(m_murmelo->start(environment));
        press();
        QVERIFY2(
            m_murmelo->waitForOverlay(QStringLiteral("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。")),
            qPrintable(m_murmelo->overlayTitle()));
        QVERIFY(!microphoneOpen());
        QVERIFY(services.sessions.isEmpty());
        QVERIFY(m_murmelo->isRunning());
    }

    // The service ends the session mid-sentence: the user learns it at the stop, nothing is pasted
    // and the microphone is closed.
    void serviceClosingWhileRecordingIsReportedAtTheStop() {
        fake::FakeServices services;
        QVERIFY(services.listen());
        services.script.realtime.onFirstAudio = {fake::Frame{fake::Frame::Kind::close, {}, 1011, 0}};
        test::PasteTarget target(m_display);
        QVERIFY(target.start());

        QVERIFY(startRecording(*m_murmelo, services, 1));
        QVERIFY(test::waitUntil([&] { return services.sessions.first().closed; }, 10s, 20ms));
        QVERIFY(microphoneOpen()); // the user does not know yet and goes on speaking
        press();
        QVERIFY2(m_murmelo->waitForOverlay(QStringLiteral("语音识别连接已断开。")),
                 qPrintable(m_murmelo->overlayTitle()));
        QVERIFY(test::waitUntil([&] { return !microphoneOpen(); }, 5s, 20ms));
        QCOMPARE(target.changes(), 0);
        QVERIFY(!QFile::exists(m_murmelo->dataDirectory() + "/history.json"));
        QVERIFY(m_murmelo->isRunning());
    }

    // The services fail after the speech was heard. Nothing is pasted; the raw transcript, when
    // there is one, waits on the clipboard. The product's own limits apply (35 s for the
    // transcript, 20 s for the refinement), so the unanswered cases take that long.
    void servicesFailingAfterTheSpeech_data() {
        QTest::addColumn<bool>("answerCommit");
        QTest::addColumn<fake::HttpScript>("refinement");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard");
        const QString timedOut = QStringLiteral("AI 处理超时，原始转写已保留到剪贴板。");
        const QString transcript = QStringLiteral("下午三点开会");
        QTest::newRow("refinement answers 500")
            << true << fake::HttpScript{500, QByteArray(R"({"error":{"message":"boom"}})"), 0, false, -1}
            << QStringLiteral("文字整理服务请求失败（HTTP 500）。") << transcript;
        QTest::newRow("refinement body cut short") << true << fake::HttpScript{0, std::nullopt, 0, false, 12}
                                                   << QStringLiteral("网络连接已中断。") << transcript;
        QTest::newRow("refinement never answers")
            << true << fake::HttpScript{0, std::nullopt, 0, true, -1} << timedOut << transcript;
        QTest::newRow("commit never answered") << false << fake::HttpScript{} << timedOut << QString();
    }
    void servicesFailingAfterTheSpeech() {
        QFETCH(bool, answerCommit);
        QFETCH(fake::HttpScript, refinement);
        QFETCH(QString, message);
        QFETCH(QString, clipboard);
        // Whatever an earlier case left went with its murmelo: the X clipboard starts empty.
        fake::FakeServices services;
        QVERIFY(services.listen());
        services.script.realtime.transcript = QStringLiteral("下午三点开会");
        services.script.realtime.answerCommit = answerCommit;
        services.script.responses = refinement;
        test::PasteTarget target(m_display);
        QVERIFY(target.start());

        QVERIFY(startRecording(*m_murmelo, services));
        press();
        QVERIFY2(m_murmelo->waitForOverlay(message, 45s), qPrintable(m_murmelo->overlayTitle()));
        QVERIFY(!microphoneOpen());
        QByteArray copied;
        m_display.run("xclip", {"-o", "-selection", "clipboard"}, &copied, 3s);
        QCOMPARE(QString::fromUtf8(copied), clipboard);
        QCOMPARE(target.changes(), 0);
        QVERIFY(!QFile::exists(m_murmelo->dataDirectory() + "/history.json"));
        QVERIFY(m_murmelo->isRunning());
    }

    // The audio server goes away mid-sentence: what was heard is still transcribed and pasted.
    void audioServerDyingWhileRecording() {
        test::PulseAudioServer dying;
        QString error;
        QVERIFY2(dying.start(&error), qPrintable(error));
        test::MicrophoneFeeder feeder(dying.microphoneFifo());
        QVERIFY(feeder.play(test::stereoSilence(0.5), true));
        fake::FakeServices services;
        QVERIFY(services.listen());
        services.script.realtime.transcript = QStringLiteral("麦克风断开之前说的话");
        services.script.realtime.delayMs = 400; // see the dictation test: a real service takes a while
        test::PasteTarget target(m_display);
        QVERIFY(target.start());

        test::MurmeloProcess murmelo(m_display, dying.address());
        QVERIFY(startRecording(murmelo, services));
        dying.kill();
        feeder.stop();
        press();
        QVERIFY2(target.waitForText(QStringLiteral("麦克风断开之前说的话"), 20s),
                 qPrintable(target.text() + " / " + murmelo.overlayTitle()));
        QVERIFY(murmelo.isRunning());
    }

    // History cannot be written (a file stands where its folder should be): the text still
    // arrives, and the next dictation works too.
    void unwritableHistoryStillInserts() {
        QDir().mkpath(QFileInfo(m_murmelo->dataDirectory()).path());
        QFile blocker(m_murmelo->dataDirectory());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        QVERIFY(m_murmelo->writeSettings({{"settings.saveHistory", true}}));
        QVERIFY(m_murmelo->start());
        for (int dictation = 1; dictation <= 2; ++dictation) {
            press();
            QVERIFY2(m_murmelo->waitForOverlay(QStringLiteral("正在录音")),
                     qPrintable(m_murmelo->overlayTitle()));
            QTest::qWait(800);
            press();
            QVERIFY2(test::waitUntil([&] { return target.changes() >= dictation; }, 15s, 20ms),
                     qPrintable(target.text()));
            QVERIFY(m_murmelo->waitForOverlayHidden());
        }
        QVERIFY(target.text().contains(MockTextRefinementProvider::smartDictationText()));
        QVERIFY(QFileInfo(m_murmelo->dataDirectory()).isFile()); // nothing replaced the user's file
        QVERIFY(m_murmelo->isRunning());
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopFaultsTest, (murmelo::test::TestDisplay::Options{true, true, true}))
#include "tst_DesktopFaults.moc"

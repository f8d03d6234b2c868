// The whole cycle as a user sees it: the built murmelo on a real X display with a tray, a private
// audio server whose microphone speaks Mandarin, the keyring, and the fake speech services.
#include "FakeServices.h"
#include "KeyringSession.h"
#include "MurmeloProcess.h"
#include "PulseAudioServer.h"
#include "RivalClient.h"
#include "TestDisplay.h"
#include "refinement/MockTextRefinementProvider.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cmath>

using namespace murmelo;
using namespace murmelo::fake;
using murmelo::test::KeyringSession;
using namespace std::chrono_literals;

namespace {

using test::RivalClient;

QString artifacts() {
    const QString directory =
        qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/artifacts/desktop");
    QDir().mkpath(directory);
    return directory;
}

} // namespace

class DesktopDictationTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopDictationTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    test::PulseAudioServer m_audio;
    std::unique_ptr<test::MicrophoneFeeder> m_feeder;
    std::vector<float> m_speech;
    std::unique_ptr<test::MurmeloProcess> m_murmelo;

    QString overlayTitle() const { return m_murmelo->overlayTitle(); }

    void screenshot(const QString& name) const {
        m_display.run("import", {"-window", "root", artifacts() + "/" + name + ".png"}, nullptr, 10s);
    }

    void press(const QString& keys) { QVERIFY(m_display.run("xdotool", {"key", keys})); }

    // Keeps recording for `seconds` while the microphone speaks; returns how long it really was.
    double speak(double seconds) {
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(int(seconds * 1000));
        return clock.elapsed() / 1000.0;
    }

private slots:
    void initTestCase() {
        QString error;
        QVERIFY2(m_audio.start(&error), qPrintable(error));
        m_speech = test::mandarinSpeech(QStringLiteral("你好，语音输入。"), &error);
        QVERIFY2(!m_speech.empty(), qPrintable(error));
        // The speech over and over, then a pause: like a person who keeps talking.
        std::vector<float> loop = m_speech;
        const auto silence = test::stereoSilence(0.3);
        loop.insert(loop.end(), silence.begin(), silence.end());
        m_feeder = std::make_unique<test::MicrophoneFeeder>(m_audio.microphoneFifo());
        QVERIFY(m_feeder->play(loop, true));
    }

    void init() { m_murmelo = std::make_unique<test::MurmeloProcess>(m_display, m_audio.address()); }
    void cleanup() { m_murmelo.reset(); }

    void cleanupTestCase() {
        if (m_feeder) m_feeder->stop();
    }

    void mockDictationArrivesInTheFocusedWindow() {
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        QByteArray activeBefore;
        QVERIFY(m_display.run("xdotool", {"getactivewindow"}, &activeBefore));
        QVERIFY(m_murmelo->start());
        QVERIFY(overlayTitle().isNull()); // idle: hidden

        press("ctrl+alt+space");
        QVERIFY2(test::waitUntil([&] { return overlayTitle() == QStringLiteral("正在录音"); }, 10s, 20ms),
                 qPrintable(overlayTitle()));
        speak(2.0);
        screenshot("overlay-recording");
        press("ctrl+alt+space");

        QVERIFY2(target.waitForText(MockTextRefinementProvider::smartDictationText(), 15s),
                 qPrintable(target.text()));
        // Success shows for 1.5 s, then the overlay goes.
        QVERIFY(test::waitUntil([&] { return overlayTitle().isNull(); }, 5s, 50ms));
        QByteArray activeAfter;
        QVERIFY(m_display.run("xdotool", {"getactivewindow"}, &activeAfter));
        QCOMPARE(activeAfter, activeBefore); // focus never left the target
    }

    void realServicesReceiveTheSpeechAndTheRefinedTextArrives() {
        KeyringSession keyring(KeyringSession::Service::gnomeKeyring);
        QVERIFY2(keyring.isReady(), qPrintable(keyring.errorString()));
        FakeServices services;
        QVERIFY(services.listen());
        services.script.apiKey = QString(); // any key is fine for the socket; the header is checked below
        services.script.refinedText = QStringLiteral("整理好的文字：Murmelo 很快。");
        // Real services take a while to answer; an instant one would paste while the hotkey's own
        // grab still keeps the target window unfocused, which no user meets.
        services.script.realtime.delayMs = 400;

        // The OpenAI key goes into the keyring the way the settings window saves it. (This process
        // has not touched D-Bus before, so GLib takes the keyring's bus.)
        qputenv("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress().toUtf8());
        KeychainStore(std::make_shared<SecretBackendLibsecret>())
            .save(QStringLiteral("sk-test-openai"), CredentialKind::openAI);

        QVERIFY(m_murmelo->writeSettings(
            {{"settings.useMockProviders", false}, {"settings.refinementProvider", "deepSeek"}}));
        QProcessEnvironment environment = m_murmelo->environment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress());
        environment.insert("DEEPSEEK_API_KEY", "sk-test-deepseek");
        environment.remove("OPENAI_API_KEY");
        environment.insert("MURMELO_OPENAI_BASE_URL", services.baseUrl().toString());
        environment.insert("MURMELO_DEEPSEEK_BASE_URL", services.baseUrl().toString());

        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        QVERIFY(m_murmelo->start(environment));
        press("ctrl+alt+space");
        QVERIFY2(test::waitUntil([&] { return overlayTitle() == QStringLiteral("正在录音"); }, 10s, 20ms),
                 qPrintable(overlayTitle()));
        const double spoken = speak(2.0);
        press("ctrl+alt+space");
        QVERIFY2(target.waitForText(services.script.refinedText, 20s),
                 qPrintable(target.text() + "\n" + target.keyLog()));

        // The socket carried the OpenAI key and the speech: about its length, and not silence.
        QCOMPARE(services.sessions.size(), 1);
        const RecordedSession& session = services.sessions.first();
        QCOMPARE(session.authorization, QByteArray("Bearer sk-test-openai"));
        QByteArray audio;
        for (const RecordedFrame& frame : session.frames) {
            const QJsonObject event = QJsonDocument::fromJson(frame.data).object();
            if (event.value("type").toString() == "input_audio_buffer.append")
                audio += QByteArray::fromBase64(event.value("audio").toString().toLatin1());
        }
        const double seconds = double(audio.size()) / 2.0 / 24000.0;
        // Recording starts a little before the overlay shows and ends a little after the press.
        QVERIFY2(seconds > spoken - 0.3 && seconds < spoken + 0.6,
                 qPrintable(QString("%1 s of audio for %2 s of speaking").arg(seconds).arg(spoken)));
        double sumSquares = 0;
        const auto* samples = reinterpret_cast<const qint16*>(audio.constData());
        for (qsizetype i = 0; i < audio.size() / 2; ++i)
            sumSquares += double(samples[i]) * samples[i];
        const double rms = std::sqrt(sumSquares / double(audio.size() / 2));
        QVERIFY2(rms > 100, qPrintable(QString::number(rms)));
        // The transcript went to DeepSeek with its own key.
        bool refined = false;
        for (const RecordedRequest& request : services.requests)
            if (request.target == "/chat/completions") {
                refined = true;
                QCOMPARE(request.headers.value("authorization"), QByteArray("Bearer sk-test-deepseek"));
                QVERIFY(QString::fromUtf8(request.body).contains(services.script.realtime.transcript));
            }
        QVERIFY(refined);
    }

    void aTakenShortcutFallsBackOrIsReported() {
        RivalClient rival(m_display.name());
        QVERIFY(rival.grabSpace(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1)); // Control + Alt + Space
        QVERIFY(m_murmelo->writeSettings({{"settings.hotkeyPreset", "controlShiftSpace"}}));
        QVERIFY(m_murmelo->start());
        QVERIFY(overlayTitle().isNull()); // its own preset was free: no error
        press("ctrl+shift+space");
        QVERIFY2(test::waitUntil([&] { return overlayTitle() == QStringLiteral("正在录音"); }, 10s, 20ms),
                 qPrintable(overlayTitle()));
        press("ctrl+shift+space");
        QVERIFY(test::waitUntil([&] { return overlayTitle().isNull(); }, 15s, 50ms));
        m_murmelo->stop();

        QVERIFY(rival.grabSpace(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT)); // now both are taken
        QVERIFY(m_murmelo->start());
        QVERIFY(test::waitUntil(
            [&] {
                return overlayTitle() == QStringLiteral("无法注册全局快捷键，可能已被其他应用占用（10）。");
            },
            10s, 50ms));
        screenshot("hotkey-taken");
        QTest::qWait(300);
        QVERIFY(m_murmelo->isRunning()); // it runs on without a shortcut
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopDictationTest, (murmelo::test::TestDisplay::Options{true, true, true}))
#include "tst_DesktopDictation.moc"

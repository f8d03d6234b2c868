// The built murmelo as a user meets it: a real X display with a window manager and a tray, a
// private audio server whose microphone speaks Mandarin, GNOME Keyring on a private bus, and the
// fake speech services; the text has to arrive in a real window. And the settings window, in this
// process on fakes, as a user sees it there: every tab renders its Chinese text in full at 620 × 460
// (a screenshot of each tab is kept with the artefacts).
#include "../../unit/ui/SettingsFixture.h"
#include "AsyncTest.h"
#include "FakeServices.h"
#include "KeyringSession.h"
#include "PulseAudioServer.h"
#include "TestDisplay.h"
#include "TestEnvironment.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include <cmath>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

QString artifacts() {
    const QString directory = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/artifacts/desktop";
    QDir().mkpath(directory);
    return directory;
}

// Labels and buttons of `page` that a user can see but that do not get the room they need, stick
// out of the window, or lie outside the viewport of a scroll area around them (the form needs
// scrolling then).
QStringList clippedIn(QWidget* page, QWidget* window) {
    QStringList clipped;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!widget->isVisibleTo(window) || (!label && !button)) continue;
        const QString text =
            widget->metaObject()->className() + (": " + (label ? label->text() : button->text()));
        const bool wraps = label && label->wordWrap();
        // A wrapping label may be capped on purpose (a history text shows five lines at most).
        if (wraps ? widget->height() <
                        std::min(widget->heightForWidth(widget->width()), widget->maximumHeight())
                  : widget->width() < widget->minimumSizeHint().width())
            clipped << "too small: " + text;
        QWidget* frame = window;
        for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(parent);
                area && area->objectName() != "historyList") {
                frame = area->viewport(); // a list scrolls by nature; a form must fit its window
                break;
            }
        if (!frame->rect().contains(QRect(widget->mapTo(frame, QPoint(0, 0)), widget->size())))
            clipped << "outside the window: " + text;
    }
    return clipped;
}

} // namespace

class DesktopAppTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopAppTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    test::PulseAudioServer m_audio;
    std::unique_ptr<test::MicrophoneFeeder> m_feeder;
    // One for the whole run: GLib keeps the first session bus of a process.
    std::unique_ptr<test::KeyringSession> m_keyring;

    bool microphoneOpen() const {
        QString streams;
        return m_audio.pactl({"list", "short", "source-outputs"}, &streams) && !streams.trimmed().isEmpty();
    }

private slots:
    void initTestCase() {
        QString error;
        QVERIFY2(m_audio.start(&error), qPrintable(error));
        std::vector<float> speech = test::mandarinSpeech("你好，语音输入。", &error);
        QVERIFY2(!speech.empty(), qPrintable(error));
        // The speech over and over, with pauses: like a person who keeps talking.
        const auto silence = test::stereoSilence(0.3);
        speech.insert(speech.end(), silence.begin(), silence.end());
        m_feeder = std::make_unique<test::MicrophoneFeeder>(m_audio.microphoneFifo());
        QVERIFY(m_feeder->play(speech, true));

        m_keyring = std::make_unique<test::KeyringSession>(test::KeyringSession::Service::gnomeKeyring);
        QVERIFY2(m_keyring->isReady(), qPrintable(m_keyring->errorString()));
        // Saved the way the settings window saves it.
        KeychainStore(std::make_shared<SecretBackendLibsecret>())
            .save("sk-from-keyring", CredentialKind::openAI);
    }

    // Some locked-down X servers have no XTEST: the text then waits on the clipboard, and the
    // dictation is toggled as a desktop shortcut would (xdotool needs XTEST).
    void dictationCarriesTheSpeechAndArrivesInTheFocusedWindow_data() {
        QTest::addColumn<bool>("xtest");
        QTest::newRow("by the hotkey, pasted") << true;
        QTest::newRow("without XTEST, left on the clipboard") << false;
    }
    void dictationCarriesTheSpeechAndArrivesInTheFocusedWindow() {
        QFETCH(bool, xtest);
        test::TestDisplay withoutXTest;
        if (!xtest)
            QVERIFY2(withoutXTest.start({.tray = true, .xtest = false}),
                     qPrintable(withoutXTest.errorString()));
        test::TestDisplay& display = xtest ? m_display : withoutXTest;
        fake::FakeServices services;
        QVERIFY(services.listen());
        const QString refined = services.script.refinedText = "整理好的文字：Murmelo 很快。";
        // Real services take a while to answer; an instant one would paste while the hotkey's own
        // grab still keeps the target window unfocused, which no user meets.
        services.script.realtime.delayMs = 400;
        test::PasteTarget target(display);
        QVERIFY(target.start());

        // The built murmelo as a user starts it, in the display's private folders, on the real
        // providers with history on, its key in the keyring. Its standard error goes to the artefacts.
        QProcessEnvironment environment = display.environment();
        test::writeFile(environment.value("XDG_CONFIG_HOME") + "/Murmelo/settings.json",
                        R"({"settings.useMockProviders": false, "settings.refinementProvider": "openAI",
                            "settings.saveHistory": true})");
        environment.insert("PULSE_SERVER", m_audio.address());
        environment.insert("MURMELO_OPENAI_BASE_URL", services.baseUrl().toString());
        environment.insert("DBUS_SESSION_BUS_ADDRESS", m_keyring->busAddress());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("MURMELO_SESSION", "x11");
        environment.remove("OPENAI_API_KEY");
        environment.remove("DEEPSEEK_API_KEY");
        const QString murmelo = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo";
        test::ChildProcesses children;
        const auto trayIcon = [&] {
            return display.run("xdotool", {"search", "--class", "^murmelo$"}, nullptr, 3s);
        };
        QProcess* running = children.startAndWait(environment, artifacts(), murmelo, {}, trayIcon, 15s);
        QVERIFY(running);
        const auto overlayShows = [&](const QString& title) { // a regular expression after "Murmelo — "
            return display.run("xdotool", {"search", "--onlyvisible", "--name", "^Murmelo — " + title + "$"},
                               nullptr, 3s);
        };
        QVERIFY(!overlayShows(".*")); // idle: hidden
        const auto toggle = [&] {     // as the hotkey, or as the command a desktop shortcut runs
            return xtest ? display.run("xdotool", {"key", "ctrl+alt+space"})
                         : test::runToEnd(environment, murmelo, {"--toggle"}, nullptr, 10s);
        };

        QVERIFY(toggle());
        QVERIFY(test::waitUntil([&] { return microphoneOpen(); }, 10s, 20ms));
        QVERIFY(test::waitUntil([&] { return overlayShows(".+"); }, 5s, 20ms));
        QElapsedTimer speaking;
        speaking.start();
        QTest::qWait(2000);
        display.run("import", {"-window", "root",
                               QStringLiteral("%1/overlay-recording-%2.png").arg(artifacts()).arg(xtest)});
        const double stopAsked = speaking.elapsed() / 1000.0;
        QVERIFY(toggle()); // `murmelo --toggle` has delivered the stop when it returns
        const double stopDelivered = speaking.elapsed() / 1000.0;
        if (xtest) QVERIFY2(target.waitForText(refined, 20s), qPrintable(target.text() + target.keyLog()));
        QByteArray clipboard;
        QVERIFY(test::waitUntil(
            [&] {
                return display.run("xclip", {"-o", "-selection", "clipboard"}, &clipboard, 3s) &&
                       QString::fromUtf8(clipboard) == refined;
            },
            20s, 50ms));
        QVERIFY(test::waitUntil([&] { return !microphoneOpen(); }, 5s, 20ms));
        if (!xtest) QCOMPARE(target.changes(), 0);
        QCOMPARE(running->state(), QProcess::Running);

        // The socket carried the keyring's key and the speech: about its length, and not silence.
        QCOMPARE(services.sessions.size(), 1);
        QCOMPARE(services.sessions.first().authorization, QByteArray("Bearer sk-from-keyring"));
        QByteArray audio;
        for (const fake::RecordedFrame& frame : services.sessions.first().frames) {
            const QJsonObject event = QJsonDocument::fromJson(frame.data).object();
            if (event.value("type").toString() == "input_audio_buffer.append")
                audio += QByteArray::fromBase64(event.value("audio").toString().toLatin1());
        }
        const double seconds = double(audio.size()) / 2.0 / 24000.0;
        // Recording starts a little before its stream is seen open; it ends once the stop is delivered.
        QVERIFY2(seconds > stopAsked - 0.3 && seconds < stopDelivered + 0.6,
                 qPrintable(QString("%1 s of audio for %2 to %3 s of speaking")
                                .arg(seconds)
                                .arg(stopAsked)
                                .arg(stopDelivered)));
        double sumSquares = 0;
        const auto* samples = reinterpret_cast<const qint16*>(audio.constData());
        for (qsizetype i = 0; i < audio.size() / 2; ++i)
            sumSquares += double(samples[i]) * samples[i];
        QVERIFY2(std::sqrt(sumSquares / double(audio.size() / 2)) > 100, "the audio was silence");
    }

    void everySettingsTabShowsItsTextInFullWithoutScrolling() {
        test::SettingsFixture f;
        f.devices = {{"alsa_input.usb-mic", "USB 麦克风"}, {"alsa_input.pci-analog", "内置音频 模拟立体声"}};
        f.syntheticInput = false;
        f.keyring->items.insert({KeychainStore::defaultService, keychainAccount(CredentialKind::openAI)},
                                "sk-1");
        f.credentials->refresh();
        f.credentials->setDeepSeekDraft("sk-typed");
        f.credentials->saveOpenAIKey(); // a blank draft: shows the status line
        f.dictionary.add(
            {.canonical = "默萝", .aliases = {}, .kind = DictionaryEntryKind::brand, .english = "Murmelo"});
        f.dictionary.add({.canonical = "向量数据库",
                          .aliases = {"向量库"},
                          .kind = DictionaryEntryKind::technicalTerm,
                          .english = {}});
        const QString plan =
            QStringLiteral("明天下午三点和产品团队过一下 Murmelo 的发布计划：\n1. 确认安装包\n2. "
                           "准备演示\n3. 整理常见问题\n4. 更新文档\n5. 安排回访\n6. 复盘");
        test::run(f.historyStore.append({.createdAt = referenceSecondsNow() - 3600,
                                         .text = plan,
                                         .audioDuration = 3.25,
                                         .completionLatency = 1.04}));
        test::run(f.historyStore.append({.createdAt = referenceSecondsNow(),
                                         .mode = InputMode::translateToEnglish,
                                         .text = "Please send the meeting notes to the whole team by Friday.",
                                         .audioDuration = 12.5,
                                         .completionLatency = 1.04}));

        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        f.find<QCheckBox>("launchAtLoginSwitch")->click();             // shows the result line
        f.find<QPushButton>("accessibilityPermissionButton")->click(); // and the X11 note
        QCOMPARE(f.view->size(), QSize(620, 460));
        const QStringList names{"general", "api", "dictionary", "history"};
        QStringList clipped; // reported after every tab is captured, so the pictures show why
        for (int tab = 0; tab < names.size(); ++tab) {
            f.openTab(tab);
            QWidget* page = f.view->tabs()->widget(tab);
            QTRY_VERIFY(page->isVisible());
            QTest::qWait(200); // let the X server draw before reading its pixels
            const QPixmap shot = f.view->screen()->grabWindow(f.view->winId());
            QVERIFY(shot.save(
                QStringLiteral("%1/settings-%2-%3.png").arg(artifacts()).arg(tab + 1).arg(names[tab])));
            for (const QString& problem : clippedIn(page, f.view.get())) // a form that scrolls too
                clipped << names[tab] + ": " + problem;
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopAppTest, (murmelo::test::TestDisplay::Options{.tray = true}))
#include "tst_DesktopApp.moc"

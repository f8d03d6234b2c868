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
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cmath>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

QString artifacts() {
    const QString directory = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/artifacts/desktop";
    QDir().mkpath(directory);
    return directory;
}

// The built murmelo as a user starts it, on the real providers against `services` with history on:
// private home and data folders, the test's audio server, no session bus and no API keys unless a
// case adds them. Its standard error goes to the artefacts.
class Murmelo {
public:
    Murmelo(test::TestDisplay& display, const QString& pulseServer, const fake::FakeServices& services)
        : environment(display.environment())
        , m_display(display) {
        test::writeFile(m_home.filePath("config/Murmelo/settings.json"),
                        R"({"settings.useMockProviders": false, "settings.refinementProvider": "openAI",
                            "settings.saveHistory": true})");
        QDir().mkpath(m_home.filePath("runtime"));
        QFile::setPermissions(m_home.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.insert("PULSE_SERVER", pulseServer);
        environment.insert("MURMELO_OPENAI_BASE_URL", services.baseUrl().toString());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("MURMELO_SESSION", "x11");
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "OPENAI_API_KEY", "DEEPSEEK_API_KEY"})
            environment.remove(name);
    }

    QProcessEnvironment environment; // as start() passes it on
    QString historyFolder() const { return m_home.filePath("data/Murmelo"); }

    // Starts it and waits until its tray icon's window exists.
    bool start() {
        m_process = m_children.startAndWait(
            environment, artifacts(), program(), {},
            [&] {
                return m_display.run("xdotool", {"search", "--class", "^murmelo$"}, nullptr, 3s);
            },
            15s);
        return m_process;
    }
    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }
    // `murmelo --toggle`, the command a desktop shortcut runs, next to the running one.
    bool toggle() const { return test::runToEnd(environment, program(), {"--toggle"}, nullptr, 10s); }

    // The overlay window's title without "Murmelo — "; a null string while it is hidden.
    QString overlayTitle() const {
        QByteArray name;
        if (!m_display.run("xdotool", {"search", "--onlyvisible", "--name", "^Murmelo — ", "getwindowname"},
                           &name, 3s))
            return QString();
        return QString::fromUtf8(name).trimmed().mid(QStringLiteral("Murmelo — ").size());
    }
    bool waitForOverlay(const QString& title, std::chrono::milliseconds limit = 15s) const {
        return test::waitUntil([&] { return overlayTitle() == title; }, limit, 20ms);
    }

private:
    static QString program() { return qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo"; }

    test::TestDisplay& m_display;
    QTemporaryDir m_home;
    test::ChildProcesses m_children;
    QProcess* m_process = nullptr;
};

// Whether the widget lies inside the viewport of the scroll area around it, if any, without
// scrolling: a form that needs scrolling in its own window hides part of itself.
bool visibleInScrollArea(QWidget* widget) {
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(parent);
        if (!area || area->objectName() == QLatin1String("historyList")) continue; // a list scrolls by nature
        const QRect inViewport(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        return area->viewport()->rect().contains(inViewport);
    }
    return true;
}

// Widgets of `page` that a user can see but that do not get the room they need, or stick out of
// the window.
QStringList clippedIn(QWidget* page, QWidget* window) {
    QStringList clipped;
    const QRect frame = window->rect();
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window)) continue;
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!label && !button) continue;
        const QString name = widget->objectName().isEmpty()
                                 ? QString::fromLatin1(widget->metaObject()->className())
                                 : widget->objectName();
        const QString text = label ? label->text() : button->text();
        const bool wraps = label && label->wordWrap();
        if (!wraps && widget->width() < widget->minimumSizeHint().width())
            clipped.append(name + QStringLiteral(" too narrow: ") + text);
        // A wrapping label may be capped on purpose (a history text shows five lines at most).
        if (wraps &&
            widget->height() < std::min(widget->heightForWidth(widget->width()), widget->maximumHeight()))
            clipped.append(name + QStringLiteral(" too short: ") + text);
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!frame.contains(inWindow) || !visibleInScrollArea(widget))
            clipped.append(name + QStringLiteral(" outside the window: ") + text);
    }
    return clipped;
}

enum class Fault { noXTest, serviceClosesWhileRecording, refinementFails, historyUnwritable, keyringLocked };

} // namespace

Q_DECLARE_METATYPE(Fault)

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

    void cleanupTestCase() {
        if (m_feeder) m_feeder->stop();
    }

    void dictationByHotkeyCarriesTheSpeechAndArrivesInTheFocusedWindow() {
        fake::FakeServices services;
        QVERIFY(services.listen());
        services.script.refinedText = "整理好的文字：Murmelo 很快。";
        // Real services take a while to answer; an instant one would paste while the hotkey's own
        // grab still keeps the target window unfocused, which no user meets.
        services.script.realtime.delayMs = 400;
        Murmelo murmelo(m_display, m_audio.address(), services);
        murmelo.environment.insert("DBUS_SESSION_BUS_ADDRESS", m_keyring->busAddress());
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        QVERIFY(murmelo.start());
        QVERIFY(murmelo.overlayTitle().isNull()); // idle: hidden

        QVERIFY(m_display.run("xdotool", {"key", "ctrl+alt+space"}));
        QVERIFY2(murmelo.waitForOverlay("正在录音", 10s), qPrintable(murmelo.overlayTitle()));
        QElapsedTimer speaking;
        speaking.start();
        QTest::qWait(2000);
        const double spoken = speaking.elapsed() / 1000.0;
        m_display.run("import", {"-window", "root", artifacts() + "/overlay-recording.png"});
        QVERIFY(m_display.run("xdotool", {"key", "ctrl+alt+space"}));
        QVERIFY2(target.waitForText(services.script.refinedText, 20s),
                 qPrintable(target.text() + target.keyLog()));

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
        // Recording starts a little before the overlay shows and ends a little after the press.
        QVERIFY2(seconds > spoken - 0.3 && seconds < spoken + 0.6,
                 qPrintable(QString("%1 s of audio for %2 s of speaking").arg(seconds).arg(spoken)));
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
        for (auto [canonical, kind, english] :
             {std::tuple{"默萝", DictionaryEntryKind::brand, "Murmelo"},
              std::tuple{"张伟", DictionaryEntryKind::person, ""},
              std::tuple{"向量数据库", DictionaryEntryKind::technicalTerm, "vector database"}}) {
            DictionaryEntry entry;
            entry.canonical = canonical;
            entry.kind = kind;
            if (*english) entry.english = english;
            f.dictionary.add(entry);
        }
        for (int i = 0; i < 3; ++i) {
            HistoryEntry entry;
            entry.createdAt = referenceSecondsNow() - 3600 * i;
            entry.mode = i == 1 ? InputMode::translateToEnglish : InputMode::smartDictation;
            entry.text =
                i == 0
                    ? QStringLiteral("明天下午三点和产品团队过一下 Murmelo 的发布计划：\n1. 确认安装包\n2. "
                                     "准备演示\n3. 整理常见问题\n4. 更新文档\n5. 安排回访\n6. 复盘")
                    : QStringLiteral("Please send the meeting notes to the whole team by Friday.");
            entry.audioDuration = 3.25 + i;
            entry.completionLatency = 1.04;
            test::run(f.historyStore.append(entry));
        }

        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        f.find<QCheckBox>("launchAtLoginSwitch")->click();             // shows the result line
        f.find<QPushButton>("accessibilityPermissionButton")->click(); // and the X11 note
        QCOMPARE(f.view->size(), QSize(620, 460));

        const QString directory = artifacts();
        const QStringList names{"general", "api", "dictionary", "history"};
        QStringList clipped; // reported after every tab is captured, so the pictures show why
        for (int tab = 0; tab < names.size(); ++tab) {
            f.openTab(tab);
            QWidget* page = f.view->tabs()->widget(tab);
            QTRY_VERIFY(page->isVisible());
            QTest::qWait(200); // let the X server draw before reading its pixels
            const QPixmap shot = f.view->screen()->grabWindow(f.view->winId());
            QCOMPARE(shot.size(), QSize(620, 460) * shot.devicePixelRatio());
            const QString path =
                QStringLiteral("%1/settings-%2-%3.png").arg(directory).arg(tab + 1).arg(names[tab]);
            QVERIFY(shot.save(path));
            for (const QString& problem : clippedIn(page, f.view.get()))
                clipped.append(names[tab] + ": " + problem);
            // Forms fit without scrolling; only the history list may scroll.
            QList<QScrollArea*> areas = page->findChildren<QScrollArea*>();
            if (auto* itself = qobject_cast<QScrollArea*>(page)) areas.append(itself);
            for (QScrollArea* area : areas)
                if (area->objectName() != QLatin1String("historyList") &&
                    area->verticalScrollBar()->maximum() > 0)
                    clipped.append(names[tab] + QStringLiteral(": needs scrolling by %1 px")
                                                    .arg(area->verticalScrollBar()->maximum()));
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }

    // Faults only the built application on a real desktop shows; each ends in the message the user
    // reads, with the microphone closed and murmelo running on.
    void faultEndsInItsMessageAndMurmeloRunsOn_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard"); // null: not looked at
        QTest::addColumn<QString>("pasted");    // empty: nothing may arrive
        QTest::newRow("no XTEST: the text waits on the clipboard") << Fault::noXTest << "已完成"
                                                                   << "整理好的文字"
                                                                   << "";
        QTest::newRow("service closes while recording")
            << Fault::serviceClosesWhileRecording << "语音识别连接已断开。" << QString() << "";
        QTest::newRow("refinement fails: the raw transcript waits on the clipboard")
            << Fault::refinementFails << "文字整理服务请求失败（HTTP 500）。"
            << "下午三点开会"
            << "";
        QTest::newRow("history unwritable: the text arrives, the user's file stays")
            << Fault::historyUnwritable << "已完成" << QString() << "整理好的文字";
        // Last: the collection stays locked.
        QTest::newRow("keyring locked after the key was saved")
            << Fault::keyringLocked << "请先在设置中保存 OpenAI API Key，或开启 Mock 模式。" << QString()
            << "";
    }
    void faultEndsInItsMessageAndMurmeloRunsOn() {
        QFETCH(Fault, fault);
        QFETCH(QString, message);
        QFETCH(QString, clipboard);
        QFETCH(QString, pasted);
        // Some locked-down X servers have no XTEST; xdotool needs it, so the cases toggle as a
        // desktop shortcut would.
        test::TestDisplay withoutXTest;
        if (fault == Fault::noXTest)
            QVERIFY2(withoutXTest.start({.tray = true, .xtest = false}),
                     qPrintable(withoutXTest.errorString()));
        test::TestDisplay& display = fault == Fault::noXTest ? withoutXTest : m_display;
        fake::FakeServices services;
        QVERIFY(services.listen());
        services.script.realtime.transcript = "下午三点开会";
        services.script.refinedText = "整理好的文字";
        if (fault == Fault::serviceClosesWhileRecording)
            services.script.realtime.onFirstAudio = {fake::Frame{fake::Frame::Kind::close, {}, 1011, 0}};
        if (fault == Fault::refinementFails) services.script.responses = fake::HttpScript{500, "{}"};
        test::PasteTarget target(display);
        QVERIFY(target.start());
        Murmelo murmelo(display, m_audio.address(), services);
        if (fault == Fault::keyringLocked) {
            QVERIFY(m_keyring->lockLoginCollection()); // as a screen lock does
            murmelo.environment.insert("DBUS_SESSION_BUS_ADDRESS", m_keyring->busAddress());
        } else {
            murmelo.environment.insert("OPENAI_API_KEY", "sk-faults");
        }
        const QByteArray usersFile("a file of the user's where the history folder would go");
        if (fault == Fault::historyUnwritable) test::writeFile(murmelo.historyFolder(), usersFile);
        QVERIFY(murmelo.start());

        QVERIFY(murmelo.toggle());
        if (fault != Fault::keyringLocked) {
            QVERIFY2(murmelo.waitForOverlay("正在录音"), qPrintable(murmelo.overlayTitle()));
            QVERIFY(microphoneOpen()); // so that its closing below means something
            // The service has heard speech, or closed on it, before the user stops.
            const auto heard = [&](const fake::RecordedSession& session) {
                return fault == Fault::serviceClosesWhileRecording ? session.closed : session.frameCount >= 4;
            };
            QVERIFY(test::waitUntil(
                [&] { return !services.sessions.isEmpty() && heard(services.sessions.first()); }, 10s, 20ms));
            QVERIFY(murmelo.toggle());
        }
        QVERIFY2(murmelo.waitForOverlay(message), qPrintable(murmelo.overlayTitle()));
        QVERIFY(test::waitUntil([&] { return !microphoneOpen(); }, 5s, 20ms));
        QByteArray copied;
        QVERIFY(clipboard.isNull() || display.run("xclip", {"-o", "-selection", "clipboard"}, &copied, 3s));
        if (!clipboard.isNull()) QCOMPARE(QString::fromUtf8(copied), clipboard);
        if (pasted.isEmpty()) QCOMPARE(target.changes(), 0);
        QVERIFY2(pasted.isEmpty() || target.waitForText(pasted, 10s), qPrintable(target.text()));
        if (fault == Fault::historyUnwritable) QCOMPARE(test::readAll(murmelo.historyFolder()), usersFile);
        QVERIFY(murmelo.isRunning());
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopAppTest, (murmelo::test::TestDisplay::Options{.tray = true}))
#include "tst_DesktopApp.moc"

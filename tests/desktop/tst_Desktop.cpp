// The desktop as a user meets it. On this process's own display, with no window manager (so
// nothing but the test sets _NET_ACTIVE_WINDOW or moves the input focus): the X11 back ends'
// global grabs against a rival client, XTest paste into a real window, the focused window's class,
// and the settings window rendering its Chinese text in full at 620 × 460 (a screenshot of each tab
// is kept with the artefacts). On displays of its own, with a window manager and a tray: the built
// murmelo with a private audio server whose microphone speaks Mandarin, GNOME Keyring on a private
// bus and the fake speech services; the text has to arrive in a real window.
#include "../unit/ui/SettingsFixture.h"
#include "AsyncTest.h"
#include "FakeServices.h"
#include "KeyringSession.h"
#include "PulseAudioServer.h"
#include "TestDisplay.h"
#include "TestEnvironment.h"
#include "qt/PasteboardQt.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "dictation/AppState.h"
#include "system/CancelKey.h"
#include "x11/CancelKeyX11.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"
#include "x11/X11Session.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRasterWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Space and the modifier bits of the test server's standard keymap, written out so the tests do
// not lean on the lookups they check.
constexpr xcb_keycode_t space = 65, escape = 9;
constexpr quint16 controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, numLock = XCB_MOD_MASK_2;

// Another X client grabbing Space with some modifiers on the root window, as a rival application
// would; its grabs go with it.
struct RivalClient {
    xcb_connection_t* connection;
    explicit RivalClient(const QString& display)
        : connection(xcb_connect(display.toLocal8Bit().constData(), nullptr)) {}
    ~RivalClient() { xcb_disconnect(connection); }
    bool grabSpace(quint16 modifiers) { return grab(space, modifiers); }
    bool grab(xcb_keycode_t key, quint16 modifiers) { // false when someone else holds it already
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_grab_key_checked(connection, 0, x11::rootWindow(connection), modifiers, key,
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
};

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

class DesktopTest : public QObject {
    Q_OBJECT
public:
    explicit DesktopTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;
    PasteboardQt m_pasteboard;
    SyntheticKeyboardX11 m_keyboard;
    xcb_connection_t* m_connection = x11::qtConnection();
    test::PulseAudioServer m_audio;
    std::unique_ptr<test::MicrophoneFeeder> m_feeder;
    // One for the whole run: GLib keeps the first session bus of a process.
    std::unique_ptr<test::KeyringSession> m_keyring;

    xcb_window_t createWindow(xcb_window_t parent, const QByteArray& wmClass = {}) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!wmClass.isEmpty())
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                                XCB_ATOM_STRING, 8, quint32(wmClass.size()), wmClass.constData());
        xcb_map_window(m_connection, window);
        return window;
    }

    bool microphoneOpen() const {
        QString streams;
        return m_audio.pactl({"list", "short", "source-outputs"}, &streams) && !streams.trimmed().isEmpty();
    }

private slots:
    // Lock variants count as presses, auto-repeats of a held shortcut neither as presses nor as
    // releases (hold to talk would stop and start again). A grab's presses reach the root window
    // also while our own window has the focus.
    void eachPressRunsTheActionOnce_data() { test::rowsFromJson(QFINDTESTDATA("hotkey_presses.json")); }
    void eachPressRunsTheActionOnce() {
        QFETCH(QJsonObject, row);
        QRasterWindow window;
        if (row["ownWindowFocused"].toBool()) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window, 5000));
            QVERIFY(m_display.run("xdotool", {"windowfocus", "--sync", QString::number(window.winId())}));
        }
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        int runs = 0, releases = 0;
        service.registerHotkey(*fromRawValue<HotkeyPreset>(row["preset"].toString()), [&] { ++runs; });
        service.setReleaseAction([&] { ++releases; });
        QVERIFY(m_display.run("xdotool", row["xdotool"].toVariant().toStringList()));
        QTRY_COMPARE_WITH_TIMEOUT(runs, row["runs"].toInt(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(releases, row["releases"].toInt(), 5000);
        QTest::qWait(100);
        QCOMPARE(runs, row["runs"].toInt());
        QCOMPARE(releases, row["releases"].toInt());
    }

    // The rival holds the combination itself, or only its Num Lock variant: then our plain grab
    // succeeds first and must be taken back when the registration as a whole fails. Once the rival
    // has gone, ours holds until another shortcut replaces it.
    void rivalsGrabIsRefusedWithBadAccessLeavingNoPartialGrabAndAReplacedGrabIsLetGo_data() {
        QTest::addColumn<quint16>("rivalModifiers");
        QTest::newRow("plain combination taken") << controlAlt;
        QTest::newRow("only the Num Lock variant taken") << quint16(controlAlt | numLock);
    }
    void rivalsGrabIsRefusedWithBadAccessLeavingNoPartialGrabAndAReplacedGrabIsLetGo() {
        QFETCH(quint16, rivalModifiers);
        HotkeyBackendX11 backend;
        GlobalHotkeyService service(backend);
        {
            RivalClient rival(m_display.name());
            QVERIFY(rival.grabSpace(rivalModifiers));
            try {
                service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
                QFAIL("the rival's grab was taken over");
            } catch (const GlobalHotkeyError& error) {
                QCOMPARE(error, GlobalHotkeyError(GlobalHotkeyError::Case::registerHotKey, 10)); // BadAccess
            }
        }
        QVERIFY(RivalClient(m_display.name()).grabSpace(controlAlt));
        service.registerHotkey(HotkeyPreset::controlOptionSpace, [] {});
        QVERIFY(!RivalClient(m_display.name()).grabSpace(rivalModifiers));
        service.registerHotkey(HotkeyPreset::controlShiftSpace, [] {});
        QVERIFY(RivalClient(m_display.name()).grabSpace(rivalModifiers));
    }

    // Escape belongs to the applications except while a dictation can still be cancelled; a grab
    // left behind would take it from every application, also with Num Lock on.
    void escapeCancelsOnlyWhileADictationCanBeCancelledAndIsLeftToOthersOtherwise() {
        AppState state;
        CancelKeyX11 backend;
        int cancels = 0;
        CancelKeyService service(state, backend, [&] { ++cancels; });
        const auto othersGetEscape = [&] {
            RivalClient rival(m_display.name());
            return rival.grab(escape, 0) && rival.grab(escape, numLock);
        };
        QVERIFY(othersGetEscape());
        state.beginRecording();
        QVERIFY(!othersGetEscape());
        QVERIFY(m_display.run("xdotool", {"key", "Escape"}));
        QTRY_COMPARE(cancels, 1);
        state.transition(DictationPhase::refining());
        QVERIFY(!othersGetEscape());
        for (const DictationPhase& end : {DictationPhase::inserting(), DictationPhase::cancelled(),
                                          DictationPhase::error("出错了")}) {
            state.beginRecording();
            state.transition(end);
            QVERIFY2(othersGetEscape(), qPrintable(debugName(end)));
        }
        QCOMPARE(cancels, 1);
    }

    // The user still holds the hotkey's Control + Alt, locks on, and lets go 300 ms later: a
    // paste posted before would arrive as Ctrl+Alt+V, which no window takes. A window of class
    // XTerm stands in for a terminal: it must see Ctrl+Shift+V and nothing else.
    void pasteWaitsForTheHotkeysModifiersAndArrivesWithTheShortcutTheWindowTakes_data() {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("chord");
        // About 100 KB of UTF-8 with every kind of character a dictation produces.
        QString text;
        for (int line = 1; text.toUtf8().size() < 100 * 1024; ++line)
            text += QStringLiteral(
                        "第%1行：Murmelo 把语音变成文字 🎙 “引号” — tab\there & <xml> \\ "
                        "$HOME\n")
                        .arg(line);
        QTest::newRow("text field, 100 KB") << QString() << text << "Ctrl+V";
        QTest::newRow("terminal") << "XTerm"
                                  << "echo 你好"
                                  << "Ctrl+Shift+V";
    }
    void pasteWaitsForTheHotkeysModifiersAndArrivesWithTheShortcutTheWindowTakes() {
        QFETCH(QString, windowClass);
        QFETCH(QString, text);
        QFETCH(QString, chord);
        QVERIFY(m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"}));
        const auto locksOff = qScopeGuard([&] {
            m_display.run("xdotool", {"key", "Num_Lock", "Caps_Lock"});
        });
        QVERIFY(!m_keyboard.isModifierHeld());
        test::PasteTarget target(m_display, windowClass);
        QVERIFY(target.start());
        m_pasteboard.setString("earlier content");
        QVERIFY(m_display.run("xdotool", {"keydown", "ctrl+alt"}));
        bool released = false;
        QObject scope; // no release after a failed row has gone
        QTimer::singleShot(300ms, &scope, [&] {
            released = m_display.run("xdotool", {"keyup", "ctrl+alt"});
        });
        TextInsertionService service(m_pasteboard, m_keyboard);
        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::inserted);
        QVERIFY(released);
        if (windowClass.isEmpty()) // the field takes Ctrl+V only
            QVERIFY2(target.waitForText(text, 10s), qPrintable(target.text().left(200) + target.keyLog()));
        QVERIFY2(test::waitUntil([&] { return !target.pressedChords().isEmpty(); }, 10s),
                 qPrintable(target.keyLog()));
        QCOMPARE(target.pressedChords(), QStringList{chord});
        QVERIFY(!m_keyboard.isModifierHeld()); // nothing is left pressed
        QByteArray clipboard;                  // as another client sees it
        QVERIFY(m_display.run("xclip", {"-o", "-selection", "clipboard"}, &clipboard));
        QCOMPARE(QString::fromUtf8(clipboard), text);
    }

    // The focus may sit below the window that carries WM_CLASS; a stale or useless
    // _NET_ACTIVE_WINDOW must not hide the window that really has the focus.
    void focusedWindowClassesLookPastChildWindowsAndAStaleActiveWindow_data() {
        test::rowsFromJson(QFINDTESTDATA("focused_windows.json"));
    }
    void focusedWindowClassesLookPastChildWindowsAndAStaleActiveWindow() {
        QFETCH(QJsonObject, row);
        const QString active = row["active"].toString();
        // Everything below one window that goes at the end, with all it holds.
        const xcb_window_t box = createWindow(x11::rootWindow(m_connection));
        xcb_window_t focused = createWindow(box, row["focusedClass"].toString().toLatin1());
        for (int level = 0; level < row["depth"].toInt(); ++level)
            focused = createWindow(focused);
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_NONE, focused, XCB_CURRENT_TIME);
        xcb_window_t other = createWindow(box, active == "classed" ? QByteArray("kitty\0kitty\0", 12) : "");
        if (active == "destroyed") xcb_destroy_window(m_connection, other);
        if (active == "none") other = XCB_WINDOW_NONE;
        auto* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, 18, "_NET_ACTIVE_WINDOW"), nullptr);
        QVERIFY(atom);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, x11::rootWindow(m_connection), atom->atom,
                            XCB_ATOM_WINDOW, 32, 1, &other);
        const QStringList classes = m_keyboard.focusedWindowClassesNow();
        xcb_delete_property(m_connection, x11::rootWindow(m_connection), atom->atom);
        std::free(atom);
        xcb_destroy_window(m_connection, box); // the focus reverts to none
        xcb_flush(m_connection);
        QCOMPARE(classes, row["expected"].toVariant().toStringList());
    }

    void everySettingsTabShowsItsTextInFullWithoutScrolling() {
        test::SettingsFixture f;
        f.devices = {{"alsa_input.usb-mic", "USB 麦克风"}, {"alsa_input.pci-analog", "内置音频 模拟立体声"}};
        // Every environment check in trouble, so each shows what to do: the tallest the tab gets.
        f.settings.setSelectedMicrophoneUID("alsa_input.usb-unplugged");
        f.paste = PasteAvailability::noXTest;
        f.hotkey = HotkeyFacts{};
        f.hotkey.noShortcutService = true;
        f.keyring->status = SecretServiceStatus::locked;
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
        f.find<QAbstractButton>("launchAtLoginSwitch")->click(); // shows the result line
        QTRY_VERIFY(f.shown("microphoneAdvice") && f.shown("keyringAdvice"));
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

    // Some locked-down X servers have no XTEST: the text then waits on the clipboard, and the
    // dictation is toggled as a desktop shortcut would (xdotool needs XTEST). From the tray panel,
    // a popup that holds the keyboard while open: the paste still has to reach the text field.
    void dictationCarriesTheSpeechAndArrivesInTheFocusedWindow_data() {
        QTest::addColumn<bool>("xtest");
        QTest::addColumn<bool>("fromPanel");
        QTest::newRow("by the hotkey, pasted") << true << false;
        QTest::newRow("without XTEST, left on the clipboard") << false << false;
        QTest::newRow("from the tray panel, pasted, not into the panel") << true << true;
    }
    void dictationCarriesTheSpeechAndArrivesInTheFocusedWindow() {
        QFETCH(bool, xtest);
        QFETCH(bool, fromPanel);
        if (!m_keyring) {
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
        test::TestDisplay display;
        QVERIFY2(display.start({.tray = true, .xtest = xtest}), qPrintable(display.errorString()));
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
        const auto panelShows = [&] {
            return display.run("xdotool", {"search", "--onlyvisible", "--name", "^Murmelo 面板$"}, nullptr, 3s);
        };
        // Clicks the icon in the tray (not the overlay, also ours; again while the tray is still
        // embedding it), then Space on the panel's start/stop button, which has the focus.
        const auto togglePanel = [&] {
            const auto clickIcon = [&] {
                QByteArray windows;
                if (!display.run("xdotool", {"search", "--onlyvisible", "--class", "^murmelo$"}, &windows, 3s))
                    return false;
                for (const QByteArray& window : windows.trimmed().split('\n')) {
                    QByteArray name;
                    if (display.run("xdotool", {"getwindowname", QString::fromLatin1(window)}, &name, 3s) &&
                        name.trimmed() == "Murmelo")
                        return display.run("xdotool", {"mousemove", "--window", QString::fromLatin1(window), "4",
                                                       "4", "click", "1"}) &&
                               test::waitUntil(panelShows, 1s, 20ms);
                }
                return false;
            };
            return test::waitUntil(clickIcon, 10s, 100ms) && display.run("xdotool", {"key", "space"}) &&
                   test::waitUntil([&] { return !panelShows(); }, 5s, 20ms);
        };
        const auto toggle = [&] { // as the hotkey, or as the command a desktop shortcut runs
            if (fromPanel) return togglePanel();
            return xtest ? display.run("xdotool", {"key", "ctrl+alt+space"})
                         : test::runToEnd(environment, murmelo, {"--toggle"}, nullptr, 10s);
        };

        QVERIFY(toggle());
        QVERIFY(test::waitUntil([&] { return microphoneOpen(); }, 10s, 20ms));
        QVERIFY(test::waitUntil([&] { return overlayShows(".+"); }, 5s, 20ms));
        QElapsedTimer speaking;
        speaking.start();
        QTest::qWait(2000);
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

    // Two monitors, the user's window on the right one: the overlay must not come up on the
    // primary monitor, where the user is not looking.
    void overlayShowsOnTheScreenOfTheFocusedWindowNotThePrimaryOne() {
        test::TestDisplay display;
        QVERIFY2(display.start({.tray = true, .twoScreens = true}), qPrintable(display.errorString()));
        test::PulseAudioServer audio;
        QString error;
        QVERIFY2(audio.start(&error), qPrintable(error));
        test::PasteTarget target(display);
        QVERIFY(target.start());
        QByteArray found;
        QVERIFY(display.run("xdotool", {"search", "--class", "^murmelo-paste-target$"}, &found));
        const QString window = QString::fromLatin1(found.trimmed().split('\n').first());
        QVERIFY(display.run("xdotool", {"windowmove", "--sync", window, "1600", "200"}));
        QVERIFY(display.run("xdotool", {"windowactivate", "--sync", window}));
        QVERIFY(display.run("xdotool", {"mousemove", "100", "100"})); // the pointer stays on the primary one

        QProcessEnvironment environment = display.environment();
        environment.insert("PULSE_SERVER", audio.address());
        environment.insert("MURMELO_SESSION", "x11");
        // No session bus: nothing a mock dictation needs, and none is started behind our back.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + environment.value("XDG_RUNTIME_DIR") + "/none");
        const QString murmelo = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo";
        test::ChildProcesses children;
        QVERIFY(children.startAndWait(environment, artifacts(), murmelo, {}, [&] {
            return display.run("xdotool", {"search", "--class", "^murmelo$"}, nullptr, 3s);
        }, 15s));
        QVERIFY(test::runToEnd(environment, murmelo, {"--toggle"}, nullptr, 10s));
        QByteArray overlay;
        QVERIFY(test::waitUntil([&] {
            return display.run("xdotool", {"search", "--onlyvisible", "--name", "^Murmelo — 正在录音$"}, &overlay, 3s);
        }, 10s, 20ms));
        QByteArray shell;
        QVERIFY(display.run("xdotool", {"getwindowgeometry", "--shell", QString::fromLatin1(overlay.trimmed())}, &shell));
        QMap<QString, int> geometry;
        for (const QString& line : QString::fromLatin1(shell).split('\n'))
            geometry[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        const QRect frame(geometry["X"], geometry["Y"], geometry["WIDTH"], geometry["HEIGHT"]);
        QVERIFY2(QRect(1280, 0, 1280, 800).contains(frame),
                 qPrintable(QString("overlay at %1,%2 %3x%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())));
    }
};

MURMELO_DESKTOP_TEST_MAIN(DesktopTest, (murmelo::test::TestDisplay::Options{.windowManager = false}))
#include "tst_Desktop.moc"

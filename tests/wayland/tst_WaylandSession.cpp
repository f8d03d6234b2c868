// Murmelo's wlroots back ends, and the built murmelo, in a private headless sway that they reach as
// any client of the session does. scripts/setup installs sway and its helpers: a missing one fails.
#include "AsyncTest.h"
#include "KeyringSession.h"
#include "PulseAudioServer.h"
#include "TestDisplay.h"
#include "refinement/MockTextRefinementProvider.h"
#include "system/TextInsertionService.h"
#include "wayland/PasteboardWlClipboard.h"
#include "wayland/SyntheticKeyboardWtype.h"

#include <QDir>
#include <QTest>

#include <unistd.h>

using namespace murmelo;
using namespace std::chrono_literals;

class WaylandSessionTest : public QObject {
    Q_OBJECT

    // Private HOME, XDG folders and session bus (where no portal offers shortcuts) for this
    // process and everything it starts.
    test::KeyringSession m_session{test::KeyringSession::Service::none};
    test::ChildProcesses m_sway;
    test::ChildProcesses m_windows; // and murmelo
    std::unique_ptr<PasteboardWlClipboard> m_pasteboard;
    std::unique_ptr<SyntheticKeyboardWtype> m_keyboard;
    int m_windowCount = 0;

    QString root() { return m_session.environment().root(); }

    static bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
        return test::runToEnd(QProcessEnvironment::systemEnvironment(), program, arguments, output, 10s);
    }

    // sway refuses root: as root it runs as nobody, in a runtime folder of its own that this
    // process reaches by absolute paths. Ready once its IPC lists the headless output (the
    // Wayland socket comes before the outputs).
    bool startSway() {
        const QString folder = root() + "/compositor";
        QDir().mkpath(folder);
        const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QFile::setPermissions(root(), owner | QFile::ExeGroup | QFile::ExeOther);
        QFile::setPermissions(folder, owner);
        test::writeFile(root() + "/sway.config", "xwayland disable\noutput HEADLESS-1 resolution 1280x720\n");
        QFile::setPermissions(root() + "/sway.config", owner | QFile::ReadGroup | QFile::ReadOther);
        QStringList arguments;
        if (::geteuid() == 0) {
            [[maybe_unused]] const int owned = ::chown(QFile::encodeName(folder).constData(), 65534, 65534);
            arguments << "--reuid=65534"
                      << "--regid=65534"
                      << "--clear-groups";
        }
        // Changing the user clears the parent-death signal; setpriv sets it again after.
        arguments << "--pdeathsig=TERM"
                  << "sway"
                  << "-c" << root() + "/sway.config";
        QProcessEnvironment environment;
        environment.insert("PATH", qEnvironmentVariable("PATH"));
        environment.insert("HOME", folder);
        environment.insert("XDG_RUNTIME_DIR", folder);
        environment.insert("WLR_BACKENDS", "headless");
        environment.insert("WLR_LIBINPUT_NO_DEVICES", "1");
        environment.insert("WLR_RENDERER", "pixman");
        m_sway.start(environment, root(), "setpriv", arguments);
        const QDir sockets(folder);
        return test::waitUntil(
            [&] {
                const QStringList wayland = sockets.entryList({"wayland-?"}, QDir::System);
                const QStringList ipc = sockets.entryList({"sway-ipc.*.sock"}, QDir::System);
                if (wayland.isEmpty() || ipc.isEmpty()) return false;
                m_session.environment().set("WAYLAND_DISPLAY",
                                            QFile::encodeName(sockets.filePath(wayland[0])));
                m_session.environment().set("SWAYSOCK", QFile::encodeName(sockets.filePath(ipc[0])));
                QByteArray outputs;
                return run("swaymsg", {"-t", "get_outputs"}, &outputs) && outputs.contains("HEADLESS-1");
            },
            15s, 20ms);
    }

    // A paste target window as the application `appId`, which sway focuses as it opens: the file
    // its text is kept in (its key log beside it), or nothing when it did not open.
    QString openWindow(const QString& appId = "murmelo-paste-target") {
        const QString text = root() + QStringLiteral("/window%1").arg(++m_windowCount);
        const QProcess* window =
            m_windows.start(QProcessEnvironment::systemEnvironment(), root(),
                            test::PasteTarget::programPath(), {"--app-id", appId, text, text + ".changes"});
        test::waitUntil(
            [&] { return QFile::exists(text + ".ready") || window->state() != QProcess::Running; }, 15s);
        return QFile::exists(text + ".ready") && window->state() == QProcess::Running ? text : QString();
    }
    static QString textOf(const QString& window) { return QString::fromUtf8(test::readAll(window)); }
    static QStringList chordsOf(const QString& window) {
        return test::chordsInKeyLog(QString::fromUtf8(test::readAll(window + ".keys")));
    }

    bool overlayShows(const QString& title) {
        QByteArray tree;
        return test::waitUntil(
            [&] {
                return run("swaymsg", {"-t", "get_tree"}, &tree) &&
                       QString::fromUtf8(tree).contains("\"Murmelo — " + title + "\"");
            },
            15s, 50ms);
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_session.isReady(), qPrintable(m_session.errorString()));
        QVERIFY2(startSway(), test::readAll(root() + "/setpriv.log").right(2000).constData());
        m_session.environment().set("QT_QPA_PLATFORM", "wayland");
        m_session.environment().unset("XDG_SESSION_TYPE"); // murmelo picks its back ends itself
        m_session.environment().unset("MURMELO_SESSION");
        m_pasteboard = PasteboardWlClipboard::createIfSupported(); // sway offers data-control
        m_keyboard = SyntheticKeyboardWtype::createIfSupported();  // and virtual-keyboard
        QVERIFY(m_pasteboard && m_keyboard);
    }

    void cleanup() { m_windows.stopAll(); }

    // One text that looks like an option, holds Chinese, emoji and line breaks, and is too large
    // for a command line.
    void clipboardHoldsTheTextByteExact() {
        QString text = "--clear 中文：Murmelo 🎙\n第二行\n";
        while (text.size() < 200 * 1024)
            text += QStringLiteral("第%1行 🎙 \"quotes\" \t$HOME\n").arg(text.size());
        QVERIFY(m_pasteboard->replaceWith(text));
        QByteArray pasted;
        QVERIFY(run("wl-paste", {"--no-newline"}, &pasted));
        QCOMPARE(pasted, text.toUtf8());
        QCOMPARE(m_pasteboard->string(), text);
    }

    // Each paste makes a new virtual keyboard, whose first key the compositor may drop: each of
    // several pastes in a row must arrive whole. A window with foot's app id stands in for the
    // terminal: the activated window decides the chord.
    void everyPasteArrivesWholeWithTheChordOfTheActivatedWindow() {
        const QString terminal = openWindow("foot");
        const QString editor = openWindow("org.example.Editor");
        QVERIFY(!terminal.isEmpty() && !editor.isEmpty());
        QCOMPARE(m_keyboard->focusedWindowClasses(), QStringList{"org.example.Editor"});
        TextInsertionService service(*m_pasteboard, *m_keyboard);
        QString expected;
        for (int paste = 0; paste < 5; ++paste) {
            QCOMPARE(test::run(service.insert("echo 你好")), TextInsertionResult::inserted);
            expected += "echo 你好";
            QVERIFY2(test::waitUntil([&] { return textOf(editor) == expected; }, 10s), qPrintable(textOf(editor)));
        }
        QCOMPARE(chordsOf(editor), QStringList(5, "Ctrl+V"));

        QVERIFY(run("swaymsg", {"[app_id=\"foot\"] focus"}));
        QVERIFY(
            test::waitUntil([&] { return m_keyboard->focusedWindowClasses() == QStringList{"foot"}; }, 5s));
        QCOMPARE(test::run(service.insert("echo 你好")), TextInsertionResult::inserted);
        QVERIFY(test::waitUntil([&] { return !chordsOf(terminal).isEmpty(); }, 10s));
        QCOMPARE(chordsOf(terminal), QStringList{"Ctrl+Shift+V"});
    }

    void failedHelpersAreReportedNotClaimed() {
        PasteboardWlClipboard refusing("false", "false");
        QVERIFY(!refusing.setString("中文"));
        QCOMPARE(refusing.string(), QString());
        QVERIFY(!SyntheticKeyboardWtype("false").postPasteShortcut(PasteShortcut::control));
    }

    // murmelo as the session starts it: without a shortcut service the overlay says how to bind
    // `murmelo --toggle`, and the command dictates into the focused window.
    void toggleCommandDictatesIntoTheFocusedWindow() {
        test::PulseAudioServer audio;
        QString error;
        QVERIFY2(audio.start(&error), qPrintable(error));
        test::MicrophoneFeeder microphone(audio.microphoneFifo());
        QVERIFY(microphone.play(test::stereoSilence(0.5), true));
        m_session.environment().set("PULSE_SERVER", audio.address().toUtf8());
        const QString window = openWindow();
        QVERIFY(!window.isEmpty());
        const QString murmelo = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo";
        m_windows.start(QProcessEnvironment::systemEnvironment(), root(), murmelo, {});
        QVERIFY(overlayShows(
            "当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle 绑定一个快捷键。"));
        QVERIFY(run(murmelo, {"--toggle"}));
        QVERIFY(overlayShows("正在录音"));
        QTest::qWait(800); // the user speaks
        QVERIFY(run(murmelo, {"--toggle"}));
        QVERIFY2(test::waitUntil(
                     [&] { return textOf(window) == MockTextRefinementProvider::smartDictationText(); }, 15s),
                 test::readAll(root() + "/murmelo.log").constData());
        QCOMPARE(chordsOf(window), QStringList{"Ctrl+V"});
    }
};

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "tst_WaylandSession.moc"

// The built murmelo in a Wayland session as a user of sway meets it: no shortcut service on the
// desktop's portal, so the overlay says how to bind `murmelo --toggle`; the command then drives a
// mock dictation whose text arrives in the focused window through wl-clipboard and wtype.
#include "KeyringSession.h"
#include "PulseAudioServer.h"
#include "SwaySession.h"
#include "TestDisplay.h"
#include "refinement/MockTextRefinementProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Names of all windows sway shows, depth first.
void collectNames(const QJsonObject& node, QStringList& names) {
    const QString type = node.value("type").toString();
    if ((type == "con" || type == "floating_con") && node.value("visible").toBool())
        names << node.value("name").toString();
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(children).toArray())
            collectNames(child.toObject(), names);
}

} // namespace

class WaylandDictationTest : public QObject {
    Q_OBJECT

    test::SwaySession m_sway;

    QStringList windowNames() const {
        QByteArray tree;
        if (!m_sway.run("swaymsg", {"-t", "get_tree", "--raw"}, &tree, 5s)) return {};
        QStringList names;
        collectNames(QJsonDocument::fromJson(tree).object(), names);
        return names;
    }

    bool overlayShows(const QString& title, std::chrono::milliseconds limit = 15s) const {
        return test::waitUntil([&] { return windowNames().contains(QStringLiteral("Murmelo — ") + title); },
                               limit, 50ms);
    }

private slots:
    void toggleCommandDictatesIntoTheFocusedWindow() {
        const QStringList missing = test::SwaySession::missingPrograms();
        if (!missing.isEmpty()) QSKIP(qPrintable("not installed: " + missing.join(", ")));
        QVERIFY2(m_sway.start(), qPrintable(m_sway.errorString()));
        // A session bus of its own: the portal it activates has no shortcut service here.
        test::KeyringSession bus(test::KeyringSession::Service::none);
        QVERIFY2(bus.isReady(), qPrintable(bus.errorString()));
        test::PulseAudioServer audio;
        QString error;
        QVERIFY2(audio.start(&error), qPrintable(error));
        test::MicrophoneFeeder feeder(audio.microphoneFifo());
        QVERIFY(feeder.play(test::stereoSilence(0.5), true));
        test::WaylandPasteTarget target(m_sway);
        QVERIFY(target.start());

        QProcessEnvironment environment = m_sway.environment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.busAddress());
        environment.insert("PULSE_SERVER", audio.address());
        environment.remove("MURMELO_SESSION");
        environment.remove("XDG_SESSION_TYPE");
        const QString program = qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo";
        QProcess murmelo;
        murmelo.setProcessEnvironment(environment);
        murmelo.setProcessChannelMode(QProcess::ForwardedChannels);
        murmelo.start(program, {});
        QVERIFY(murmelo.waitForStarted(5000));
        auto toggle = [&] {
            QProcess command;
            command.setProcessEnvironment(environment);
            command.start(program, {"--toggle"});
            return command.waitForFinished(10000) && command.exitCode() == 0;
        };

        QVERIFY2(
            overlayShows(QStringLiteral("当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle "
                                        "绑定一个快捷键。")),
            qPrintable(windowNames().join(" | ")));
        QVERIFY(toggle());
        QVERIFY2(overlayShows(QStringLiteral("正在录音")), qPrintable(windowNames().join(" | ")));
        QTest::qWait(800);
        QVERIFY(toggle());
        QVERIFY2(target.waitForText(MockTextRefinementProvider::smartDictationText(), 15s),
                 qPrintable(target.text() + "\n" + target.keyLog() + "\n" + windowNames().join(" | ")));
        QCOMPARE(target.pressedChords(), QStringList{"Ctrl+V"});
        // The clipboard holds it too, for pasting by hand.
        QByteArray clipboard;
        QVERIFY(m_sway.run("wl-paste", {"--no-newline"}, &clipboard));
        QCOMPARE(QString::fromUtf8(clipboard), MockTextRefinementProvider::smartDictationText());

        murmelo.terminate();
        QVERIFY(murmelo.waitForFinished(5000));
        feeder.stop();
    }
};

QTEST_GUILESS_MAIN(WaylandDictationTest)
#include "tst_WaylandDictation.moc"

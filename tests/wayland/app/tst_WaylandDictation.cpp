// The built murmelo in a Wayland session as a user of sway meets it, mock dictations whose text
// arrives in the focused window through wl-clipboard and wtype: driven by `murmelo --toggle` where
// the desktop's portal has no shortcut service (the overlay says how to bind the command), and by
// the portal's shortcut where it has one.
#include "KeyringSession.h"
#include "PortalSession.h"
#include "PulseAudioServer.h"
#include "SwaySession.h"
#include "TestDisplay.h"
#include "TestEnvironment.h"
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
    test::PulseAudioServer m_audio;
    std::unique_ptr<test::MicrophoneFeeder> m_feeder;
    QProcess m_murmelo;
    QProcessEnvironment m_environment;

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

    static QString program() { return qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo"; }

    // Murmelo as the session starts it, with `bus` as its session bus; its choice of back ends is
    // its own (no override).
    bool startMurmelo(const QString& bus) {
        m_environment = m_sway.environment();
        m_environment.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        m_environment.insert("PULSE_SERVER", m_audio.address());
        m_environment.remove("MURMELO_SESSION");
        m_environment.remove("XDG_SESSION_TYPE");
        m_murmelo.setProcessEnvironment(m_environment);
        m_murmelo.setProcessChannelMode(QProcess::ForwardedChannels);
        m_murmelo.start(program(), {});
        return m_murmelo.waitForStarted(5000);
    }

    bool toggleCommand() {
        QProcess command;
        command.setProcessEnvironment(m_environment);
        command.start(program(), {"--toggle"});
        return command.waitForFinished(10000) && command.exitCode() == 0;
    }

    // The mock text arrived whole with one Ctrl+V, and stays on the clipboard for pasting by hand.
    void verifyPasted(test::WaylandPasteTarget& target) {
        QVERIFY2(target.waitForText(MockTextRefinementProvider::smartDictationText(), 15s),
                 qPrintable(target.text() + "\n" + target.keyLog() + "\n" + windowNames().join(" | ")));
        QCOMPARE(target.pressedChords(), QStringList{"Ctrl+V"});
        QByteArray clipboard;
        QVERIFY(m_sway.run("wl-paste", {"--no-newline"}, &clipboard));
        QCOMPARE(QString::fromUtf8(clipboard), MockTextRefinementProvider::smartDictationText());
    }

private slots:
    void initTestCase() {
        const QStringList missing = test::SwaySession::missingPrograms();
        if (!missing.isEmpty()) QSKIP(qPrintable("not installed: " + missing.join(", ")));
        QVERIFY2(m_sway.start(), qPrintable(m_sway.errorString()));
        QString error;
        QVERIFY2(m_audio.start(&error), qPrintable(error));
        m_feeder = std::make_unique<test::MicrophoneFeeder>(m_audio.microphoneFifo());
        QVERIFY(m_feeder->play(test::stereoSilence(0.5), true));
    }

    void cleanup() { test::stopChild(m_murmelo, 5000); }

    void cleanupTestCase() {
        if (m_feeder) m_feeder->stop();
    }

    void withoutAShortcutServiceTheToggleCommandDictates() {
        // A session bus of its own: the portal it activates has no shortcut service here.
        test::KeyringSession bus(test::KeyringSession::Service::none);
        QVERIFY2(bus.isReady(), qPrintable(bus.errorString()));
        test::WaylandPasteTarget target(m_sway);
        QVERIFY(target.start());
        QVERIFY(startMurmelo(bus.busAddress()));

        QVERIFY2(
            overlayShows(QStringLiteral("当前桌面不提供全局快捷键服务，请在系统设置中为命令 murmelo --toggle "
                                        "绑定一个快捷键。")),
            qPrintable(windowNames().join(" | ")));
        QVERIFY(toggleCommand());
        QVERIFY2(overlayShows(QStringLiteral("正在录音")), qPrintable(windowNames().join(" | ")));
        QTest::qWait(800);
        QVERIFY(toggleCommand());
        verifyPasted(target);
    }

    void thePortalsShortcutDictates() {
        test::PortalSession portal(test::PortalOptions{{QStringLiteral("GlobalShortcuts")}, 1, false});
        QVERIFY2(portal.isReady(), qPrintable(portal.errorString()));
        test::WaylandPasteTarget target(m_sway);
        QVERIFY(target.start());
        QVERIFY(startMurmelo(portal.busAddress()));
        QVERIFY(test::waitUntil([&] { return !portal.log(QStringLiteral("BindShortcuts")).isEmpty(); }, 10s,
                                20ms));
        QCOMPARE(portal.log(QStringLiteral("BindShortcuts")),
                 QStringList{"BindShortcuts toggle-dictation CTRL+ALT+space 开始或结束语音输入"});

        QVERIFY(portal.activate(QStringLiteral("toggle-dictation")));
        QVERIFY2(overlayShows(QStringLiteral("正在录音")), qPrintable(windowNames().join(" | ")));
        QVERIFY(portal.deactivate(QStringLiteral("toggle-dictation")));
        QTest::qWait(800);
        QVERIFY(portal.activate(QStringLiteral("toggle-dictation")));
        QVERIFY(portal.deactivate(QStringLiteral("toggle-dictation")));
        verifyPasted(target);
    }
};

QTEST_GUILESS_MAIN(WaylandDictationTest)
#include "tst_WaylandDictation.moc"

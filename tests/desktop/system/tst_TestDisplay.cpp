#include "TestDisplay.h"

#include <QApplication>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>

#include <xcb/xcb.h>

#include <signal.h>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

bool answers(const QString& display) {
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return ok;
}

} // namespace

// The harness the desktop tests stand on: a display with window manager and tray comes up, and
// whatever it started goes away again.
class TestDisplayTest : public QObject {
    Q_OBJECT
public:
    explicit TestDisplayTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;

private slots:
    void trayBecomesAvailable() {
        QVERIFY(QRegularExpression(QStringLiteral("^:\\d+$")).match(m_display.name()).hasMatch());
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    }

    void helpersSeeTheDisplayAndPrivateFolders() {
        QByteArray output;
        QVERIFY(m_display.run(QStringLiteral("sh"),
                              {QStringLiteral("-c"), QStringLiteral("echo \"$DISPLAY $HOME\"")}, &output));
        QCOMPARE(QString::fromLocal8Bit(output).trimmed(),
                 m_display.name() + QLatin1Char(' ') + m_display.privateRoot() + QStringLiteral("/home"));
        QVERIFY(!m_display.run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 3")}));
        // A helper that does not finish is stopped at the limit instead of hanging the test.
        QVERIFY(!m_display.run(QStringLiteral("sleep"), {QStringLiteral("30")}, nullptr, 200ms));
    }

    void stopEndsTheServerAndItsHelpers() {
        test::TestDisplay other;
        QVERIFY(other.start({.windowManager = true, .tray = false, .xtest = false}));
        const QString name = other.name();
        QVERIFY(name != m_display.name());
        QVERIFY(answers(name));
        QProcess* helper = other.startProcess(QStringLiteral("sleep"), {QStringLiteral("60")});
        const qint64 helperPid = helper->processId();
        QVERIFY(helperPid > 0);
        other.stop();
        QVERIFY(!other.isRunning());
        QVERIFY(!answers(name));
        QVERIFY(::kill(pid_t(helperPid), 0) != 0); // gone, not orphaned
    }
};

MURMELO_DESKTOP_TEST_MAIN(TestDisplayTest, (murmelo::test::TestDisplay::Options{.tray = true}))
#include "tst_TestDisplay.moc"

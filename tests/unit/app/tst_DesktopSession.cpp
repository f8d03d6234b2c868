#include "qt/DesktopSession.h"

#include <QTest>

using namespace murmelo;
using Protocol = DesktopSession::Protocol;

class DesktopSessionTest : public QObject {
    Q_OBJECT
private slots:
    void backEndsFollowTheSessionNotJustQtsPlatform_data() {
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<Protocol>("expected");
        QTest::newRow("X11 desktop") << ""
                                     << "xcb"
                                     << "x11" << Protocol::x11;
        QTest::newRow("X11 without a login session type") << ""
                                                          << "xcb"
                                                          << "" << Protocol::x11;
        QTest::newRow("Qt on Wayland") << ""
                                       << "wayland"
                                       << "wayland" << Protocol::wayland;
        QTest::newRow("Qt on Wayland with EGL") << ""
                                                << "wayland-egl"
                                                << "" << Protocol::wayland;
        // Grabs and XTest through XWayland reach only X clients: the Wayland back ends still apply.
        QTest::newRow("Qt on XWayland in a Wayland session") << ""
                                                             << "xcb"
                                                             << "Wayland" << Protocol::wayland;
        QTest::newRow("offscreen") << ""
                                   << "offscreen"
                                   << "" << Protocol::none;
        QTest::newRow("override to Wayland") << "wayland"
                                             << "xcb"
                                             << "x11" << Protocol::wayland;
        QTest::newRow("override to X11, spaced and capitalised") << " X11 "
                                                                 << "xcb"
                                                                 << "wayland" << Protocol::x11;
        QTest::newRow("unknown override is ignored") << "mir"
                                                     << "xcb"
                                                     << "" << Protocol::x11;
    }
    void backEndsFollowTheSessionNotJustQtsPlatform() {
        QFETCH(QString, override);
        QFETCH(QString, platform);
        QFETCH(QString, sessionType);
        QFETCH(Protocol, expected);
        QCOMPARE(DesktopSession::protocol(override, platform, sessionType), expected);
    }
};

QTEST_GUILESS_MAIN(DesktopSessionTest)
#include "tst_DesktopSession.moc"

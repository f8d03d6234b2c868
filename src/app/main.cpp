#include "AppContainer.h"
#include "qt/DesktopSession.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (!murmelo::DesktopSession::isAvailable()) {
        std::fprintf(stderr, "%s\n", murmelo::DesktopSession::unavailableMessage().toLocal8Bit().constData());
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Murmelo"));
    QApplication::setDesktopFileName(QStringLiteral("com.murmelo.Murmelo"));
    // A tray application: closing the settings window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    murmelo::AppContainer container;
    return application.exec();
}

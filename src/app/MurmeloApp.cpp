#include "MurmeloApp.h"

#include "MurmeloRoot.h"
#include "SingleInstance.h"
#include "qt/DesktopSession.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace murmelo {
namespace {

int printLine(FILE* stream, const QString& text, int status) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    return status;
}

} // namespace

int MurmeloApp::run(int& argc, char** argv) {
    const bool toggle = argc == 2 && std::strcmp(argv[1], "--toggle") == 0;
    if (argc > 2 || (argc == 2 && !toggle)) return printLine(stderr, QStringLiteral("用法：murmelo [--toggle]"), 2);

    // A running instance takes the request; this process is done.
    const QString command = toggle ? SingleInstance::toggleCommand : SingleInstance::openSettingsCommand;
    if (SingleInstance::sendToRunningInstance(command)) return 0;
    if (toggle) return printLine(stderr, QStringLiteral("Murmelo 没有在运行，无法切换语音输入。"), 1);

    if (!DesktopSession::isAvailable()) return printLine(stderr, DesktopSession::unavailableMessage(), 1);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Murmelo"));
    QApplication::setDesktopFileName(QStringLiteral("com.murmelo.Murmelo"));
    // A tray application: closing the settings window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    MurmeloRoot root;
    SingleInstance instance;
    if (!instance.listen())
        printLine(stderr, QStringLiteral("Murmelo：无法创建单实例套接字，再次启动将打开新的实例。"), 0);
    QObject::connect(&instance, &SingleInstance::commandReceived, &root, &MurmeloRoot::handleCommand);
    return application.exec();
}

} // namespace murmelo

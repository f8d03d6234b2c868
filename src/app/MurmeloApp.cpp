#include "MurmeloApp.h"

#include "MurmeloRoot.h"
#include "SingleInstance.h"
#include "qt/DesktopSession.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

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

    SingleInstance instance;
    switch (instance.listen()) {
    case SingleInstance::Listening::started:
        break;
    case SingleInstance::Listening::heldByAnother:
        // Another instance is starting (two launches at once, or a slow start): it takes the
        // request once it answers, and one tray icon is all the user gets. Until it listens, a
        // connection is refused at once, so the attempts are spread over ten seconds. (This
        // process shows nothing and is about to exit: its waiting blocks no interface.)
        for (const QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(100))
            if (SingleInstance::sendToRunningInstance(command, 1000)) return 0;
        return printLine(stderr, QStringLiteral("Murmelo 已在运行，但没有响应。"), 1);
    case SingleInstance::Listening::failed:
        printLine(stderr, QStringLiteral("Murmelo：无法创建单实例套接字，再次启动将打开新的实例。"), 0);
        break;
    }
    MurmeloRoot root;
    QObject::connect(&instance, &SingleInstance::commandReceived, &root, &MurmeloRoot::handleCommand);
    return application.exec();
}

} // namespace murmelo

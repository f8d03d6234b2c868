// murmelo-paste-target [--class NAME] [--app-id NAME] TEXT_FILE CHANGES_FILE
// A window with one focused multi-line text field, standing in for the application a user
// dictates into; --class NAME makes NAME its WM_CLASS class (X11) and --app-id NAME its app id
// (Wayland), so it passes for another application. Every
// change rewrites TEXT_FILE atomically with the whole content and appends the CLOCK_MONOTONIC time in
// nanoseconds to CHANGES_FILE; TEXT_FILE.ready appears once the field has the keyboard focus.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1); // Qt's own options (-name ...) are gone
    while (arguments.size() >= 2 && arguments.front().startsWith(QStringLiteral("--"))) {
        if (arguments.front() == QStringLiteral("--class")) {
            // Qt's xcb platform takes WM_CLASS's class from the application name when the first window is
            // made.
            QApplication::setApplicationName(arguments.at(1));
        } else if (arguments.front() == QStringLiteral("--app-id")) {
            // Qt's Wayland platform sends the desktop file name as the toplevel's app id.
            QGuiApplication::setDesktopFileName(arguments.at(1));
        } else {
            break;
        }
        arguments = arguments.mid(2);
    }
    if (arguments.size() != 2) {
        std::fprintf(stderr,
                     "usage: murmelo-paste-target [--class NAME] [--app-id NAME] TEXT_FILE CHANGES_FILE\n");
        return 2;
    }
    const QString textPath = arguments.at(0);
    const QString changesPath = arguments.at(1);

    QPlainTextEdit editor;
    editor.setWindowTitle(QStringLiteral("Murmelo paste target"));
    editor.resize(640, 400);
    QFile changes(changesPath);
    if (!changes.open(QIODevice::WriteOnly | QIODevice::Append)) return 1;

    QObject::connect(&editor, &QPlainTextEdit::textChanged, [&] {
        const qint64 when = monotonicNs();
        QSaveFile file(textPath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(editor.toPlainText().toUtf8());
            file.commit();
        }
        changes.write(QByteArray::number(when) + '\n');
        changes.flush();
    });

    // Every key event the field sees, for diagnosing a paste that did not arrive.
    struct KeyLog final : QObject {
        QFile file;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
                auto* key = static_cast<QKeyEvent*>(event);
                file.write(QByteArray::number(monotonicNs()) +
                           (event->type() == QEvent::KeyPress ? " press " : " release ") +
                           QByteArray::number(key->key(), 16) + " mods " +
                           QByteArray::number(int(key->modifiers()), 16) + '\n');
                file.flush();
            }
            return false;
        }
    } keyLog;
    keyLog.file.setFileName(textPath + QStringLiteral(".keys"));
    if (keyLog.file.open(QIODevice::WriteOnly | QIODevice::Append)) editor.installEventFilter(&keyLog);
    editor.show();
    editor.activateWindow();
    editor.setFocus();
    // Ready once the window really has the focus: a paste before that would go nowhere.
    auto* poll = new QTimer(&editor);
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        if (!editor.isActiveWindow() || !editor.hasFocus()) {
            editor.activateWindow();
            return;
        }
        poll->stop();
        QFile ready(textPath + QStringLiteral(".ready"));
        if (ready.open(QIODevice::WriteOnly)) ready.close();
    });
    poll->start(10);
    return application.exec();
}

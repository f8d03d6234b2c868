// murmelo-paste-target [--class NAME] [--app-id NAME] TEXT_FILE CHANGES_FILE
// A window with one focused multi-line text field, standing in for the application a user
// dictates into; --class NAME makes NAME its WM_CLASS class (X11) and --app-id NAME its app id
// (Wayland), so it passes for another application. Every change rewrites TEXT_FILE atomically with
// the whole content and appends the CLOCK_MONOTONIC time in nanoseconds to CHANGES_FILE; every key
// event goes to TEXT_FILE.keys ("<ns> press|release <key hex> mods <modifiers hex>");
// TEXT_FILE.ready appears once the field has the keyboard focus.
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSaveFile>
#include <QTimer>

namespace {

// CLOCK_MONOTONIC, as the tests read it.
QByteArray monotonicNs() {
    return QByteArray::number(QDeadlineTimer::current().deadlineNSecs());
}

// The clipboard's text as wl-paste reads it; null when it could not.
QString waylandClipboardText() {
    QProcess paste;
    paste.start(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline"), QStringLiteral("--type"),
                                             QStringLiteral("text")});
    if (!paste.waitForFinished(5000) || paste.exitCode() != 0) return {};
    return QString::fromUtf8(paste.readAllStandardOutput());
}

struct KeyLog final : QObject {
    QFile file;
    QPlainTextEdit* editor = nullptr;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            file.write(monotonicNs() + (event->type() == QEvent::KeyPress ? " press " : " release ") +
                       QByteArray::number(key->key(), 16) + " mods " +
                       QByteArray::number(int(key->modifiers()), 16) + '\n');
            file.flush();
            // On Wayland the paste reads the selection through wl-paste: Qt 6.4's own clipboard
            // sometimes crashes in a paste after the keyboard focus went to another window and came
            // back (the overlay's), which would fail the test for Qt's fault. The chord still has to
            // reach this window, and the selection has to hold the text at that moment.
            if (event->type() == QEvent::KeyPress && key->matches(QKeySequence::Paste) &&
                QGuiApplication::platformName() == QLatin1String("wayland")) {
                editor->insertPlainText(waylandClipboardText());
                return true;
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1); // Qt's own options (-name ...) are gone
    for (; arguments.size() >= 2 && arguments.front().startsWith(QStringLiteral("--"));
         arguments.remove(0, 2)) {
        // Qt takes WM_CLASS's class from the application name when the first window is made, and
        // sends the desktop file name as the Wayland app id.
        if (arguments.front() == QStringLiteral("--class")) QApplication::setApplicationName(arguments.at(1));
        if (arguments.front() == QStringLiteral("--app-id"))
            QGuiApplication::setDesktopFileName(arguments.at(1));
    }
    if (arguments.size() != 2) return 2; // see the usage above
    const QString textPath = arguments.at(0);
    QFile changes(arguments.at(1));
    KeyLog keyLog;
    keyLog.file.setFileName(textPath + QStringLiteral(".keys"));
    if (!changes.open(QIODevice::WriteOnly | QIODevice::Append) || !keyLog.file.open(QIODevice::WriteOnly))
        return 1;

    QPlainTextEdit editor;
    editor.setWindowTitle(QStringLiteral("Murmelo paste target"));
    editor.resize(640, 400);
    QObject::connect(&editor, &QPlainTextEdit::textChanged, [&] {
        const QByteArray when = monotonicNs();
        QSaveFile file(textPath);
        if (file.open(QIODevice::WriteOnly) && file.write(editor.toPlainText().toUtf8()) >= 0) file.commit();
        changes.write(when + '\n');
        changes.flush();
    });
    keyLog.editor = &editor;
    editor.installEventFilter(&keyLog);
    editor.show();
    // Ready once the window really has the focus: a paste before that would go nowhere.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        editor.activateWindow();
        editor.setFocus();
        if (!editor.isActiveWindow() || !editor.hasFocus()) return;
        poll.stop();
        QFile(textPath + QStringLiteral(".ready")).open(QIODevice::WriteOnly);
    });
    poll.start(10);
    return application.exec();
}

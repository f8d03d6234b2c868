#include "qt/PasteboardQt.h"

#include <QClipboard>
#include <QGuiApplication>

namespace murmelo {

void PasteboardQt::clearContents() {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

bool PasteboardQt::setString(const QString& text) {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && !QGuiApplication::focusWindow())
        return false;
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
    return true;
}

QString PasteboardQt::string() const {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}

} // namespace murmelo

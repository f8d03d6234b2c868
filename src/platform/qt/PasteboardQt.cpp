#include "qt/PasteboardQt.h"

#include <QClipboard>
#include <QGuiApplication>

namespace murmelo {

void PasteboardQt::clearContents() {
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
}

void PasteboardQt::setString(const QString& text) {
    QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}

QString PasteboardQt::string() const {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}

} // namespace murmelo

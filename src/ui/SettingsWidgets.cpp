#include "SettingsWidgets.h"

#include "PhasePresentation.h"

#include <QAbstractButton>
#include <QLabel>
#include <QScrollArea>

namespace murmelo::settingsui {

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* symbol(const QString& name, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(symbolIcon(name).pixmap(size, size));
    label->setFixedSize(size, size);
    return label;
}

void markDestructive(QAbstractButton* button) {
    button->setStyleSheet(QStringLiteral("QAbstractButton:enabled { color: #d70015; }"));
}

QScrollArea* scrolling(QWidget* content, QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setWidget(content);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setFocusPolicy(Qt::NoFocus);
    return area;
}

} // namespace murmelo::settingsui

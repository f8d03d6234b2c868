#pragma once

#include <QString>

class QAbstractButton;
class QLabel;
class QScrollArea;
class QWidget;

// Small shared pieces of the settings window's tabs.
namespace murmelo::settingsui {

// A note under a control: smaller type, secondary colour, wrapping.
QLabel* caption(const QString& text, QWidget* parent);
// The project's symbol at `size` pixels.
QLabel* symbol(const QString& name, int size, QWidget* parent);
// Red text, as for actions that remove something.
void markDestructive(QAbstractButton* button);
// Puts a form into a frameless vertical scroll area, so a tab never clips at the window's size.
QScrollArea* scrolling(QWidget* content, QWidget* parent);

} // namespace murmelo::settingsui

#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace murmelo {

class AppState;

// The tray icon: shows the phase's symbol and title, offers the actions in its context menu.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(AppState& state, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }

signals:
    void quitRequested();

private:
    void showPhase();

    AppState& m_state;
    QMenu m_menu;
    QSystemTrayIcon m_icon;
};

} // namespace murmelo

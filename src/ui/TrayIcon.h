#pragma once

#include "MenuBarView.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

namespace murmelo {

class AppSettings;
class AppState;

// The tray icon: the phase's symbol and title; activating it opens the panel. Its context menu
// offers the same actions, for trays that only show menus.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    TrayIcon(AppState& state, AppSettings& settings, MenuActions actions, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& menu() { return m_menu; }
    MenuBarView& panel() { return m_panel; }

    // Shows the icon now when a tray exists, else as soon as one appears.
    void showWhenTrayAvailable();
    // Brings the context menu's entries up to date with the state (done before each showing).
    void refreshMenu();

private:
    void showPhase();

    AppState& m_state;
    AppSettings& m_settings;
    MenuActions m_actions;
    MenuBarView m_panel;
    QMenu m_menu;
    QMenu* m_modeMenu = nullptr;
    QAction* m_startStop = nullptr;
    QAction* m_cancel = nullptr;
    QAction* m_copy = nullptr;
    QSystemTrayIcon m_icon;
    QTimer m_trayWatch;
};

} // namespace murmelo

#pragma once

#include <QFrame>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace murmelo {

class AppSettings;
class AppState;

// What the panel asks of the rest of the application.
struct MenuActions {
    std::function<void()> toggleDictation;
    std::function<void()> copyBestAvailableText;
    std::function<void()> openSettings;
    std::function<void()> quit;
    // Whether automatic paste works in this session; asked at each rebuild.
    std::function<bool()> automaticPasteAvailable;
    // Opens the settings window at the general tab, where the environment checks say why not.
    std::function<void()> openEnvironmentChecks;
    std::function<void()> cancelDictation;
};

// The tray panel: phase and hotkey, mode picker, start/stop, copy, status, a way to why automatic
// paste is unavailable (only then), settings, quit.
class MenuBarView final : public QFrame {
    Q_OBJECT
public:
    static constexpr int panelWidth = 290;

    MenuBarView(AppState& state, AppSettings& settings, MenuActions actions, QWidget* parent = nullptr);

    // Shows the panel as a popup near `anchor` (the tray icon's area), kept on its screen.
    void popUp(const QRect& anchor);
    // Re-reads state and settings; also runs on every change of either.
    void rebuild();

private:
    AppState& m_state;
    AppSettings& m_settings;
    MenuActions m_actions;
    QLabel* m_phaseIcon;
    QLabel* m_phaseTitle;
    QLabel* m_hotkeyLine;
    QComboBox* m_mode;
    QPushButton* m_startStop;
    QPushButton* m_cancel;
    QPushButton* m_copy;
    QLabel* m_status;
    QPushButton* m_pasteUnavailable;
};

} // namespace murmelo

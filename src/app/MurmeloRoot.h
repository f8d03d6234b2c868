#pragma once

#include "AppContainer.h"
#include "system/SystemReadiness.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace murmelo {

class SettingsView;
class TrayIcon;

// Owns the container for the life of the process and presents it: the tray icon with its panel,
// and the settings window, opened on demand.
class MurmeloRoot final : public QObject {
    Q_OBJECT
public:
    explicit MurmeloRoot(AppBackends backends = AppBackends::forThisSession(), QObject* parent = nullptr);
    ~MurmeloRoot() override;

    AppContainer& container() { return *m_container; }
    TrayIcon& tray() { return *m_tray; }

    // Opens the settings window, or brings it to the front.
    void openSettings();
    // Opens it at the general tab, where the environment checks are.
    void openEnvironmentChecks();
    // A request from a second start: "settings" or "toggle".
    void handleCommand(const QString& command);

private:
    ReadinessProbes readinessProbes();
    PasteAvailability pasteAvailability() const;

    // Kept from the back ends before the container takes them; it owns them for our lifetime.
    SyntheticKeyboard* m_keyboard;
    std::shared_ptr<SecretBackend> m_secrets;
    std::unique_ptr<AppContainer> m_container;
    std::unique_ptr<SystemReadiness> m_readiness;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<SettingsView> m_settingsWindow;
};

} // namespace murmelo

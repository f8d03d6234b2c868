#pragma once

#include "settings/Modes.h"
#include "system/GlobalHotkeyError.h"
#include "system/HotkeyBackend.h"

#include <QObject>

#include <functional>
#include <optional>

namespace murmelo {

// Keeps one system-wide shortcut registered and runs its action on the main thread, after the
// back end's press handler has returned. The back end must outlive the service.
class GlobalHotkeyService final : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void()>;

    explicit GlobalHotkeyService(HotkeyBackend& backend, QObject* parent = nullptr);
    ~GlobalHotkeyService() override;

    // Makes `preset` the active shortcut and `action` what it triggers. The action is replaced
    // first, so it is in place even when this throws GlobalHotkeyError; a refused shortcut leaves
    // the previous one registered.
    void registerHotkey(HotkeyPreset preset, Action action);

    bool hasHotkey() const { return m_hotKey.has_value(); }
    bool hasHandler() const { return m_handlerInstalled; }
    quint32 nextRegistrationId() const { return m_nextRegistrationId; }

signals:
    // The active shortcut was refused after registerHotkey() had returned (the desktop asks the
    // user asynchronously); no shortcut is registered now.
    void registrationFailed(const QString& message);

private:
    void pressed();

    HotkeyBackend& m_backend;
    std::optional<HotkeyHandle> m_hotKey;
    bool m_handlerInstalled = false;
    Action m_action;
    quint32 m_nextRegistrationId = 1;
};

} // namespace murmelo

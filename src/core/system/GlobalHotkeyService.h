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
    // the previous one registered. With a back end that asks the desktop the change is pending on
    // return: the previous shortcut stays until the desktop agrees (registered()) or refuses
    // (registrationFailed()). A change made meanwhile supersedes the pending one.
    void registerHotkey(HotkeyPreset preset, Action action);
    // What the release of the shortcut triggers (hold to talk); nothing when empty.
    void setReleaseAction(Action action) { m_releaseAction = std::move(action); }
    // Withdraws a pending change; the active shortcut stays.
    void cancelPending();

    bool hasHotkey() const { return m_hotKey.has_value(); }
    // The registered preset, or the last one that was, once the desktop ended it.
    std::optional<HotkeyPreset> activePreset() const { return m_activePreset; }
    std::optional<HotkeyPreset> pendingPreset() const;
    bool hasHandler() const { return m_handlerInstalled; }
    quint32 nextRegistrationId() const { return m_nextRegistrationId; }

signals:
    // The desktop agreed to a pending change; the previous shortcut is released.
    void registered(HotkeyPreset preset);
    // The desktop refused `preset` after registerHotkey() had returned: a pending change (the
    // previous shortcut, if any, stays registered) or the active shortcut, which it ended
    // (no shortcut is registered now). `status` as GlobalHotkeyError takes it.
    void registrationFailed(HotkeyPreset preset, qint32 status);

private:
    void pressed();
    void run(Action GlobalHotkeyService::*action);

    HotkeyBackend& m_backend;
    struct Pending {
        HotkeyHandle handle;
        HotkeyPreset preset;
    };
    void activate(HotkeyHandle handle, HotkeyPreset preset);

    std::optional<HotkeyHandle> m_hotKey;
    std::optional<HotkeyPreset> m_activePreset;
    std::optional<Pending> m_pending;
    bool m_handlerInstalled = false;
    Action m_action;
    Action m_releaseAction;
    quint32 m_nextRegistrationId = 1;
};

} // namespace murmelo

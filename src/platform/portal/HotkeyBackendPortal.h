#pragma once

#include "portal/PortalRequest.h"
#include "system/CancelKey.h"
#include "system/HotkeyBackend.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>

#include <map>

namespace murmelo {

// Global shortcuts through the desktop portal's GlobalShortcuts interface (KDE Plasma, Hyprland,
// recent GNOME on Wayland). Each registration is one portal session holding one shortcut whose
// preferred trigger is the preset's keys; the desktop (maybe the user) decides the final keys.
// The action runs when the shortcut goes down (Activated); the release handler when it goes up
// (Deactivated).
//
// Beside it each session binds a second shortcut, "取消听写", whose preferred trigger is the
// preset's modifiers with Escape: the desktop keeps it bound, so it only acts while a cancel
// handler is set (see CancelKeyPortal).
//
// registerHotKey() answers at once and binds in the background, since the desktop may ask the
// user; the confirm handler runs once the shortcut is bound. Statuses: 0 accepted for asking;
// statusNoDisplay without a session bus; 2, the portal's own code, at once for a key the portal's
// trigger syntax cannot name here. Through the failure handler: statusNoShortcutService when the
// portal offers no GlobalShortcuts or a bind call fails outright (the portal went away or refused
// the call); statusDeclined when the request was cancelled (by the user) or nobody answered in
// time, and when the desktop ends the session of a registered shortcut; 2 for any other refusal.
class HotkeyBackendPortal final : public QObject, public HotkeyBackend {
    Q_OBJECT
public:
    explicit HotkeyBackendPortal(QDBusConnection connection = QDBusConnection::sessionBus(),
                                 portal::PortalTimeouts timeouts = {});
    ~HotkeyBackendPortal() override;

    qint32 installHandler(PressHandler handler) override;
    void removeHandler() override;
    qint32 registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier identifier,
                          HotkeyHandle& handle) override;
    void unregisterHotKey(HotkeyHandle handle) override;
    void setFailureHandler(FailureHandler handler) override;
    void setConfirmHandler(ConfirmHandler handler) override;
    void setReleaseHandler(ReleaseHandler handler) override { m_releaseHandler = std::move(handler); }
    bool answersLater() const override { return true; }

    // The trigger in the portal's shortcut syntax ("CTRL+ALT+space"); empty for a key it
    // cannot name.
    static QString preferredTrigger(HotkeyShortcut shortcut);
    // The cancel shortcut's trigger: the same modifiers with Escape.
    static QString cancelTrigger(HotkeyShortcut shortcut);

    // Runs for each press of the cancel shortcut while set; null leaves the presses alone.
    void setCancelHandler(PressHandler handler) { m_cancelHandler = std::move(handler); }
    bool isConnected() const { return m_connection.isConnected(); }

    static inline const QString shortcutId = QStringLiteral("toggle-dictation");
    static inline const QString cancelShortcutId = QStringLiteral("cancel-dictation");

private slots:
    void onActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                     const QVariantMap& options);
    void onDeactivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                       const QVariantMap& options);
    void onSessionClosed(const QDBusMessage& message);

private:
    struct Registration {
        QString trigger;
        QString cancelTrigger;
        QString session; // known once the portal created it
    };

    QCoro::Task<> bind(HotkeyHandle handle);
    // The registration `handle` if it is still wanted.
    Registration* live(HotkeyHandle handle);
    bool isOurs(const QDBusObjectPath& session) const;
    void fail(HotkeyHandle handle, qint32 status);
    void watchSession(const QString& session, bool watch);

    QDBusConnection m_connection;
    portal::PortalTimeouts m_timeouts;
    PressHandler m_handler;
    ReleaseHandler m_releaseHandler;
    PressHandler m_cancelHandler;
    FailureHandler m_failureHandler;
    ConfirmHandler m_confirmHandler;
    std::map<HotkeyHandle, Registration> m_registrations;
    HotkeyHandle m_lastHandle = 0;
    bool m_subscribed = false;
    bool m_hostRegistered = false;
};

// The cancel key of a portal session: the cancel shortcut bound beside the toggle, answered only
// while armed. It may outlive the shortcuts' back end, and then does nothing.
class CancelKeyPortal final : public CancelKeyBackend {
public:
    explicit CancelKeyPortal(HotkeyBackendPortal& shortcuts)
        : m_shortcuts(&shortcuts) {}

    bool arm(PressHandler pressed) override;
    void disarm() override;

private:
    QPointer<HotkeyBackendPortal> m_shortcuts;
};

} // namespace murmelo

#pragma once

#include "portal/PortalRequest.h"
#include "stores/SecretBackend.h"
#include "system/SyntheticKeyboard.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>

#include <memory>
#include <optional>

namespace murmelo {

// Posts the paste shortcut through the desktop portal's RemoteDesktop interface (GNOME, KDE on
// Wayland), in a session with only a keyboard. The desktop asks the user before the session
// starts; portals with RemoteDesktop version 2 or later can remember the answer through a
// restore token, which is single-use: each start returns the next one. The token is a
// credential for posting input, so it lives only in the keyring, never in a file or a log.
class SyntheticKeyboardPortal final : public QObject, public SyntheticKeyboard {
    Q_OBJECT
public:
    enum class State {
        starting, // waiting for the portal (and maybe the user)
        started,  // a keyboard was granted
        refused,  // the user or the desktop said no, or the portal failed
        closed,   // the desktop ended the session
        unsupported, // the session's portal offers no RemoteDesktop with a keyboard
    };

    static inline const QString secretService = QStringLiteral("com.murmelo.portal");
    static inline const QString secretAccount = QStringLiteral("remote-desktop-restore-token");

    // Nothing without a session bus or a secret back end. Otherwise the session starts in the
    // background at once: portals that remember nothing ask the user now, not in the middle of a
    // dictation; a portal without a RemoteDesktop keyboard leaves the state unsupported.
    static std::unique_ptr<SyntheticKeyboardPortal> create(std::shared_ptr<SecretBackend> secrets,
                                                           QDBusConnection connection = QDBusConnection::sessionBus(),
                                                           portal::PortalTimeouts timeouts = {});
    ~SyntheticKeyboardPortal() override;

    // True once the portal granted the keyboard and until the session ends.
    bool isAvailable() const override { return m_state == State::started; }
    // Wayland tells no client the keyboard state of other applications: never known to be held.
    bool isModifierHeld() const override { return false; }
    // No portal names the focused application.
    QCoro::Task<QStringList> focusedWindowClasses() override { co_return QStringList(); }
    // Keysyms Control_L (and Shift_L for Ctrl+Shift+V) and v down, then up in reverse order.
    // False without a started session or when the portal refuses a key; keys that went down are
    // released even then.
    QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) override;

    State state() const { return m_state; }
    // Starts a new session after a refusal or the end of one; nothing while one is starting or
    // running, or when the portal has no keyboard to offer.
    void restart();

signals:
    void stateChanged(SyntheticKeyboardPortal::State state);

private slots:
    void onSessionClosed();

private:
    SyntheticKeyboardPortal(std::shared_ptr<SecretBackend> secrets, QDBusConnection connection,
                            portal::PortalTimeouts timeouts);

    QCoro::Task<> start();
    // The RemoteDesktop version, asked once; nothing when it offers no keyboard.
    QCoro::Task<std::optional<quint32>> keyboardVersion();
    void setState(State state);
    void forgetSession();
    QCoro::Task<bool> notifyKeysym(QString session, int keysym, bool pressed);

    std::shared_ptr<SecretBackend> m_secrets;
    QDBusConnection m_connection;
    portal::PortalTimeouts m_timeouts;
    std::optional<quint32> m_version;
    State m_state = State::refused;
    QString m_session;
    bool m_hostRegistered = false;
};

} // namespace murmelo

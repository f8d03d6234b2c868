#pragma once

#include "TestDisplay.h"
#include "TestEnvironment.h"

#include <optional>

namespace murmelo::test {

// A private D-Bus session bus, optionally with GNOME Keyring serving the Secret Service on it,
// for the lifetime of the object. HOME and the XDG directories point at a fresh temporary folder
// and DISPLAY is unset before anything starts, so nothing can reach the developer's keyring or
// spawn a prompt. The bus activates no services: without the keyring, it has no Secret Service.
// This process's DBUS_SESSION_BUS_ADDRESS points at the bus; GLib keeps its first session bus for
// the whole process, so use one session per test process. Everything started is stopped by PID.
class KeyringSession {
public:
    enum class Service { gnomeKeyring, none };

    explicit KeyringSession(Service service);

    // False when something could not be started in time; errorString() says what.
    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    QString busAddress() const { return m_busAddress; }
    TestEnvironment& environment() { return m_environment; }

    // Starts GNOME Keyring on the bus, its login collection unlocked; false when it did not serve.
    bool startKeyring();
    // Locks the keyring's login collection, as after a screen lock.
    bool lockLoginCollection();
    // Runs a command on the bus (secret-tool, dbus-send) to its end: its output, or nothing when it failed.
    std::optional<QByteArray> runOnBus(const QString& program, const QStringList& arguments);

private:
    bool answers(const QString& name); // someone owns the name on the bus and answers a ping

    TestEnvironment m_environment;
    ChildProcesses m_children; // after the environment: stopped before its folders go
    QString m_busAddress;
    QString m_error;
    bool m_ready = false;
};

} // namespace murmelo::test

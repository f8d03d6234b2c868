#include "portal/SyntheticKeyboardPortal.h"

#include <QCoroDBus>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QMetaObject>
#include <QPointer>

#include <vector>

namespace murmelo {
namespace {

const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr quint32 keyboardDevice = 1;
// RemoteDesktop version from which sessions can be remembered.
constexpr quint32 persistentVersion = 2;
constexpr quint32 persistUntilRevoked = 2;

constexpr int controlL = 0xffe3;
constexpr int shiftL = 0xffe1;
constexpr int letterV = 0x76;

} // namespace

std::unique_ptr<SyntheticKeyboardPortal>
SyntheticKeyboardPortal::create(std::shared_ptr<SecretBackend> secrets, QDBusConnection connection,
                                portal::PortalTimeouts timeouts) {
    if (!secrets || !connection.isConnected()) return nullptr;
    std::unique_ptr<SyntheticKeyboardPortal> keyboard(
        new SyntheticKeyboardPortal(std::move(secrets), std::move(connection), timeouts));
    keyboard->restart();
    return keyboard;
}

SyntheticKeyboardPortal::SyntheticKeyboardPortal(std::shared_ptr<SecretBackend> secrets,
                                                 QDBusConnection connection, portal::PortalTimeouts timeouts)
    : m_secrets(std::move(secrets))
    , m_connection(std::move(connection))
    , m_timeouts(timeouts) {}

SyntheticKeyboardPortal::~SyntheticKeyboardPortal() {
    const QString session = m_session;
    forgetSession();
    portal::closeSession(m_connection, session);
}

void SyntheticKeyboardPortal::restart() {
    if (m_state == State::starting || m_state == State::started || m_state == State::unsupported) return;
    setState(State::starting);
    QMetaObject::invokeMethod(
        this, [this] { start(); }, Qt::QueuedConnection);
}

void SyntheticKeyboardPortal::setState(State state) {
    if (m_state == state) return;
    m_state = state;
    emit stateChanged(state);
}

void SyntheticKeyboardPortal::forgetSession() {
    if (m_session.isEmpty()) return;
    m_connection.disconnect(portal::service, m_session, portal::sessionInterface, QStringLiteral("Closed"),
                            this, SLOT(onSessionClosed()));
    m_session.clear();
}

void SyntheticKeyboardPortal::onSessionClosed() {
    forgetSession();
    // Portals end the session of a start they refuse, sometimes before the refusal arrives.
    setState(m_state == State::starting ? State::refused : State::closed);
}

QCoro::Task<> SyntheticKeyboardPortal::start() {
    QPointer self(this);
    const QDBusConnection connection = m_connection;
    const portal::PortalTimeouts timeouts = m_timeouts;
    const std::shared_ptr<SecretBackend> secrets = m_secrets;
    const std::optional<quint32> version = co_await keyboardVersion();
    if (!self) co_return;
    if (!version) {
        setState(State::unsupported);
        co_return;
    }
    if (!m_hostRegistered) {
        m_hostRegistered = true;
        co_await portal::registerHostApplication(connection, timeouts.check);
        if (!self) co_return;
    }

    QVariantMap sessionOptions;
    sessionOptions.insert(QStringLiteral("session_handle_token"), portal::newToken());
    const portal::Response created = co_await portal::request(
        connection, remoteDesktop, QStringLiteral("CreateSession"), {}, sessionOptions, timeouts.call);
    const QString session = portal::sessionHandleOf(created.results);
    if (!self) {
        portal::closeSession(connection, session);
        co_return;
    }
    if (created.code != portal::Response::success || session.isEmpty()) {
        qWarning("portal: no remote desktop session (%u) %s", created.code, qPrintable(created.error));
        setState(State::refused);
        co_return;
    }
    m_session = session;
    m_connection.connect(portal::service, session, portal::sessionInterface, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed()));

    QVariantMap devices;
    devices.insert(QStringLiteral("types"), keyboardDevice);
    bool tokenSent = false;
    // Older portals reject options they do not know.
    if (*version >= persistentVersion) {
        devices.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const auto token = secrets->lookup(secretService, secretAccount);
        if (token && !token->isEmpty()) {
            devices.insert(QStringLiteral("restore_token"), QString::fromUtf8(*token));
            tokenSent = true;
        }
    }
    const QVariantList selectArguments{QVariant::fromValue(QDBusObjectPath(session))};
    const portal::Response selected = co_await portal::request(
        connection, remoteDesktop, QStringLiteral("SelectDevices"), selectArguments, devices, timeouts.call);
    if (!self) {
        portal::closeSession(connection, session);
        co_return;
    }
    if (m_session != session) co_return; // the desktop ended it meanwhile: refused
    if (selected.code != portal::Response::success) {
        // A token the portal would not take is worth nothing later either.
        if (tokenSent) secrets->clear(secretService, secretAccount);
        qWarning("portal: selecting the keyboard failed (%u) %s", selected.code, qPrintable(selected.error));
        forgetSession();
        portal::closeSession(connection, session);
        setState(State::refused);
        co_return;
    }

    const QVariantList startArguments{QVariant::fromValue(QDBusObjectPath(session)), QString()};
    const portal::Response started = co_await portal::request(
        connection, remoteDesktop, QStringLiteral("Start"), startArguments, {}, timeouts.consent);
    if (!self) {
        portal::closeSession(connection, session);
        co_return;
    }
    if (*version >= persistentVersion) {
        // The token sent is spent whatever the answer; only the one returned now is good.
        const QString next = started.results.value(QStringLiteral("restore_token")).toString();
        if (started.code == portal::Response::success && !next.isEmpty()) {
            if (secrets->store(secretService, secretAccount, next.toUtf8()) != 0)
                qWarning(
                    "portal: the keyring did not take the remote desktop permission; it will be asked again");
        } else if (tokenSent) {
            secrets->clear(secretService, secretAccount);
        }
    }
    if (m_session != session) co_return;
    const quint32 granted = started.results.value(QStringLiteral("devices")).toUInt();
    if (started.code != portal::Response::success || !(granted & keyboardDevice)) {
        qWarning("portal: the keyboard was not granted (%u) %s", started.code, qPrintable(started.error));
        forgetSession();
        portal::closeSession(connection, session);
        setState(State::refused);
        co_return;
    }
    setState(State::started);
}

QCoro::Task<std::optional<quint32>> SyntheticKeyboardPortal::keyboardVersion() {
    if (m_version) co_return m_version;
    QPointer self(this);
    const QDBusConnection connection = m_connection;
    const std::chrono::milliseconds limit = m_timeouts.check;
    const std::optional<quint32> version =
        co_await portal::interfaceVersion(connection, remoteDesktop, limit);
    if (!version) co_return std::nullopt;
    const std::optional<quint32> devices = co_await portal::unsignedProperty(
        connection, remoteDesktop, QStringLiteral("AvailableDeviceTypes"), limit);
    if (devices && !(*devices & keyboardDevice)) co_return std::nullopt;
    if (self) self->m_version = version;
    co_return version;
}

QCoro::Task<bool> SyntheticKeyboardPortal::notifyKeysym(QString session, int keysym, bool pressed) {
    QDBusMessage call = QDBusMessage::createMethodCall(portal::service, portal::objectPath, remoteDesktop,
                                                       QStringLiteral("NotifyKeyboardKeysym"));
    call.setArguments(
        {QVariant::fromValue(QDBusObjectPath(session)), QVariantMap(), keysym, uint(pressed ? 1 : 0)});
    // Awaited one by one, so the keys arrive in order and a refusal is known; the bus ends a call
    // nobody answers once the limit has passed.
    QDBusPendingCall pending = m_connection.asyncCall(call, int(m_timeouts.check.count()));
    const QDBusMessage reply = co_await pending;
    co_return reply.type() == QDBusMessage::ReplyMessage;
}

QCoro::Task<bool> SyntheticKeyboardPortal::postPasteShortcut(PasteShortcut shortcut) {
    if (m_state != State::started) co_return false;
    // Kept: the session may end while a key is on its way, and the keys that went down still
    // have to come up in it.
    const QString session = m_session;
    std::vector<int> keys{controlL};
    if (shortcut == PasteShortcut::controlShift) keys.push_back(shiftL);
    keys.push_back(letterV);

    bool posted = true;
    std::size_t tried = 0;
    while (tried < keys.size() && posted)
        posted = co_await notifyKeysym(session, keys[tried++], true);
    // Every key that may have gone down comes up again, or it would stay held for the user.
    while (tried > 0) {
        const bool released = co_await notifyKeysym(session, keys[--tried], false);
        posted = released && posted;
    }
    co_return posted;
}

} // namespace murmelo

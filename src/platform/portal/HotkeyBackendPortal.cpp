#include "portal/HotkeyBackendPortal.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>

namespace murmelo {
namespace {

const QString globalShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr qint32 otherRefusal = 2;

qint32 statusOf(const portal::Response& response) {
    switch (response.code) {
    case portal::Response::cancelled:
        return HotkeyBackend::statusDeclined;
    case portal::Response::noAnswer:
        // A dialog left unanswered is a refusal; a call the portal could not take means its
        // shortcut service is not usable.
        return response.timedOut ? HotkeyBackend::statusDeclined : HotkeyBackend::statusNoShortcutService;
    default:
        return otherRefusal;
    }
}

} // namespace

HotkeyBackendPortal::HotkeyBackendPortal(QDBusConnection connection, portal::PortalTimeouts timeouts)
    : m_connection(std::move(connection))
    , m_timeouts(timeouts) {
    portal::registerTypes();
    // Subscribed once for every session: a press right after binding must not be missed.
    if (m_connection.isConnected())
        m_subscribed =
            m_connection.connect(portal::service, portal::objectPath, globalShortcuts,
                                 QStringLiteral("Activated"), this,
                                 SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap))) &&
            m_connection.connect(portal::service, portal::objectPath, globalShortcuts,
                                 QStringLiteral("Deactivated"), this,
                                 SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

HotkeyBackendPortal::~HotkeyBackendPortal() {
    for (const auto& [handle, registration] : m_registrations) {
        watchSession(registration.session, false);
        portal::closeSession(m_connection, registration.session);
    }
    if (m_subscribed) {
        m_connection.disconnect(portal::service, portal::objectPath, globalShortcuts,
                                QStringLiteral("Activated"), this,
                                SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        m_connection.disconnect(portal::service, portal::objectPath, globalShortcuts,
                                QStringLiteral("Deactivated"), this,
                                SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    }
}

qint32 HotkeyBackendPortal::installHandler(PressHandler handler) {
    if (!m_connection.isConnected()) return statusNoDisplay;
    m_handler = std::move(handler);
    return 0;
}

void HotkeyBackendPortal::removeHandler() {
    m_handler = nullptr;
}

void HotkeyBackendPortal::setFailureHandler(FailureHandler handler) {
    m_failureHandler = std::move(handler);
}

void HotkeyBackendPortal::setConfirmHandler(ConfirmHandler handler) {
    m_confirmHandler = std::move(handler);
}

namespace {

// `shortcut`'s modifiers with `key`, in the shortcuts syntax portals take (key names are xkb
// keysyms); empty for a shortcut it cannot name.
QString triggerWithKey(HotkeyShortcut shortcut, const QString& key) {
    const quint32 known = hotkeys::commandModifier | hotkeys::shiftModifier | hotkeys::optionModifier |
                          hotkeys::controlModifier;
    if (shortcut.keyCode != hotkeys::spaceKeyCode || (shortcut.modifiers & ~known)) return {};
    QStringList parts;
    if (shortcut.modifiers & hotkeys::controlModifier) parts << QStringLiteral("CTRL");
    if (shortcut.modifiers & hotkeys::optionModifier) parts << QStringLiteral("ALT");
    if (shortcut.modifiers & hotkeys::commandModifier) parts << QStringLiteral("LOGO");
    if (shortcut.modifiers & hotkeys::shiftModifier) parts << QStringLiteral("SHIFT");
    parts << key;
    return parts.join(QLatin1Char('+'));
}

} // namespace

QString HotkeyBackendPortal::preferredTrigger(HotkeyShortcut shortcut) {
    return triggerWithKey(shortcut, QStringLiteral("space"));
}

// Escape alone would be taken from every application for as long as the desktop keeps the
// binding, idle or not; with the hotkey's modifiers it stays out of their way.
QString HotkeyBackendPortal::cancelTrigger(HotkeyShortcut shortcut) {
    return triggerWithKey(shortcut, QStringLiteral("Escape"));
}

qint32 HotkeyBackendPortal::registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier, HotkeyHandle& handle) {
    if (!m_connection.isConnected()) return statusNoDisplay;
    QString trigger = preferredTrigger(shortcut);
    if (trigger.isEmpty()) return otherRefusal;

    handle = ++m_lastHandle;
    m_registrations.emplace(handle, Registration{std::move(trigger), cancelTrigger(shortcut), {}});
    // Started as the next event-loop step: a bind failing without ever waiting must still be
    // reported after this call has returned the handle, or the caller could not match it.
    QMetaObject::invokeMethod(
        this, [this, handle] { bind(handle); }, Qt::QueuedConnection);
    return 0;
}

void HotkeyBackendPortal::unregisterHotKey(HotkeyHandle handle) {
    const auto it = m_registrations.find(handle);
    if (it == m_registrations.end()) return;
    // A bind still under way sees the registration gone and closes the session it gets.
    watchSession(it->second.session, false);
    portal::closeSession(m_connection, it->second.session);
    m_registrations.erase(it);
}

void HotkeyBackendPortal::watchSession(const QString& session, bool watch) {
    if (session.isEmpty()) return;
    if (watch)
        m_connection.connect(portal::service, session, portal::sessionInterface, QStringLiteral("Closed"),
                             this, SLOT(onSessionClosed(QDBusMessage)));
    else
        m_connection.disconnect(portal::service, session, portal::sessionInterface, QStringLiteral("Closed"),
                                this, SLOT(onSessionClosed(QDBusMessage)));
}

void HotkeyBackendPortal::onSessionClosed(const QDBusMessage& message) {
    // The desktop ended the session (the user revoked the shortcut, or the desktop restarted its
    // service): the shortcut is gone, which the user must hear about.
    for (const auto& [handle, registration] : m_registrations) {
        if (registration.session != message.path()) continue;
        const HotkeyHandle closed = handle;
        fail(closed, statusDeclined);
        return;
    }
}

HotkeyBackendPortal::Registration* HotkeyBackendPortal::live(HotkeyHandle handle) {
    const auto it = m_registrations.find(handle);
    return it == m_registrations.end() ? nullptr : &it->second;
}

void HotkeyBackendPortal::fail(HotkeyHandle handle, qint32 status) {
    const auto it = m_registrations.find(handle);
    if (it == m_registrations.end()) return;
    watchSession(it->second.session, false);
    portal::closeSession(m_connection, it->second.session);
    m_registrations.erase(it);
    if (m_failureHandler) {
        const FailureHandler handler = m_failureHandler; // the handler may replace itself
        handler(handle, status);
    }
}

QCoro::Task<> HotkeyBackendPortal::bind(HotkeyHandle handle) {
    QPointer self(this);
    const QDBusConnection connection = m_connection;
    const portal::PortalTimeouts timeouts = m_timeouts;
    const auto version = co_await portal::interfaceVersion(connection, globalShortcuts, timeouts.check);
    if (!self || !live(handle)) co_return;
    if (!version) {
        fail(handle, statusNoShortcutService);
        co_return;
    }
    if (!m_hostRegistered) {
        m_hostRegistered = true;
        co_await portal::registerHostApplication(connection, timeouts.check);
        if (!self || !live(handle)) co_return;
    }

    QVariantMap sessionOptions;
    sessionOptions.insert(QStringLiteral("session_handle_token"), portal::newToken());
    const portal::Response created = co_await portal::request(
        connection, globalShortcuts, QStringLiteral("CreateSession"), {}, sessionOptions, timeouts.call);
    const QString session = portal::sessionHandleOf(created.results);
    if (!self || !live(handle)) {
        portal::closeSession(connection, session); // unregistered meanwhile
        co_return;
    }
    if (created.code != portal::Response::success || session.isEmpty()) {
        if (created.code == portal::Response::noAnswer)
            qWarning("portal: no global shortcuts session: %s", qPrintable(created.error));
        fail(handle, statusOf(created));
        co_return;
    }
    Registration* registration = live(handle);
    registration->session = session;
    watchSession(session, true);

    QVariantMap properties;
    properties.insert(QStringLiteral("description"), QStringLiteral("开始或结束语音输入"));
    properties.insert(QStringLiteral("preferred_trigger"), registration->trigger);
    QVariantMap cancelProperties;
    cancelProperties.insert(QStringLiteral("description"), QStringLiteral("取消听写"));
    cancelProperties.insert(QStringLiteral("preferred_trigger"), registration->cancelTrigger);
    const portal::ShortcutList shortcuts{portal::Shortcut{shortcutId, properties},
                                         portal::Shortcut{cancelShortcutId, cancelProperties}};
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session)),
                                 QVariant::fromValue(shortcuts), QString()};
    const portal::Response bound = co_await portal::request(
        connection, globalShortcuts, QStringLiteral("BindShortcuts"), arguments, {}, timeouts.consent);
    if (!self) {
        portal::closeSession(connection, session);
        co_return;
    }
    if (!live(handle)) co_return; // unregistered meanwhile; the session is closed already
    if (bound.code != portal::Response::success) {
        if (bound.code == portal::Response::noAnswer)
            qWarning("portal: binding the shortcut failed: %s", qPrintable(bound.error));
        fail(handle, statusOf(bound));
        co_return;
    }
    if (m_confirmHandler) {
        const ConfirmHandler handler = m_confirmHandler; // the handler may replace itself
        handler(handle);
    }
}

// Matched by session alone: a press may overtake our handling of the bind's answer, and the
// portal activates only shortcuts it has bound.
bool HotkeyBackendPortal::isOurs(const QDBusObjectPath& session) const {
    return std::any_of(m_registrations.begin(), m_registrations.end(),
                       [&](const auto& entry) { return entry.second.session == session.path(); });
}

void HotkeyBackendPortal::onActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong,
                                      const QVariantMap&) {
    if (!isOurs(session)) return;
    // Either handler may replace itself.
    if (shortcut == cancelShortcutId && m_cancelHandler) {
        const PressHandler handler = m_cancelHandler;
        handler();
    } else if (shortcut == shortcutId && m_handler) {
        const PressHandler handler = m_handler;
        handler();
    }
}

void HotkeyBackendPortal::onDeactivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong,
                                        const QVariantMap&) {
    if (shortcut != shortcutId || !m_releaseHandler || !isOurs(session)) return;
    const ReleaseHandler handler = m_releaseHandler;
    handler();
}

bool CancelKeyPortal::arm(PressHandler pressed) {
    if (!m_shortcuts || !m_shortcuts->isConnected()) return false;
    m_shortcuts->setCancelHandler(std::move(pressed));
    return true;
}

void CancelKeyPortal::disarm() {
    if (m_shortcuts) m_shortcuts->setCancelHandler(nullptr);
}

} // namespace murmelo

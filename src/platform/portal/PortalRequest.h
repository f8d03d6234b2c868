#pragma once

#include <QCoroTask>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <optional>

namespace murmelo::portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
inline const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
// The desktop entry's name: portals 1.19.4 and later identify host applications by it.
inline const QString applicationId = QStringLiteral("com.murmelo.Murmelo");

// How long portal calls may take. Defaults suit a desktop; tests pass shorter ones.
struct PortalTimeouts {
    // Quick questions asked while the caller waits (does the portal offer an interface?).
    std::chrono::milliseconds check{2000};
    // A method call's own reply, and a request that no person answers.
    std::chrono::milliseconds call{10000};
    // A request that may show the user a dialog.
    std::chrono::milliseconds consent{std::chrono::minutes(3)};
};

// One entry of a shortcuts list, a(sa{sv}): an id and its properties.
struct Shortcut {
    QString id;
    QVariantMap properties;
};
using ShortcutList = QList<Shortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut);
// Makes the types our calls and slots use known to QtDBus; idempotent.
void registerTypes();

struct Response {
    // The portal's codes, and one of ours for a request that got no answer.
    static constexpr quint32 success = 0;
    static constexpr quint32 cancelled = 1;
    static constexpr quint32 other = 2;
    static constexpr quint32 noAnswer = 3; // the call failed, or no Response came in time

    quint32 code = noAnswer;
    QVariantMap results;
    QString error;         // for noAnswer: what went wrong, for the log
    bool timedOut = false; // for noAnswer: the call went through but nobody answered in time
};

// A token for handle_token and session_handle_token: unique within this process.
QString newToken();
// Where the portal puts the Request (or Session) object of `token` for this connection.
QString handlePath(const QDBusConnection& connection, const QString& kind, const QString& token);

// Calls a method that answers through a Request object: adds handle_token to `options` (the
// last argument), subscribes to the Response before calling, and waits at most `limit` for it.
// A request that runs out of time is closed, so no dialog stays behind. Never throws.
QCoro::Task<Response> request(QDBusConnection connection, QString interface, QString method,
                              QVariantList arguments, QVariantMap options, std::chrono::milliseconds limit);

// Identifies us to portals that ask host applications who they are; older portals lack the
// interface, which is no failure. Must come before the connection's first request.
QCoro::Task<> registerHostApplication(QDBusConnection connection, std::chrono::milliseconds limit);

// The `version` property of a portal interface, or nothing when the portal does not offer it or
// does not answer within `limit`: meant for the quick check before offering a feature.
QCoro::Task<std::optional<quint32>> interfaceVersion(QDBusConnection connection, QString interface,
                                                     std::chrono::milliseconds limit);
// Another unsigned property of a portal interface, read the same way.
QCoro::Task<std::optional<quint32>> unsignedProperty(QDBusConnection connection, QString interface,
                                                     QString name, std::chrono::milliseconds limit);

// Ends a portal session without waiting for the answer.
void closeSession(const QDBusConnection& connection, const QString& sessionHandle);

// The session handle of a CreateSession response (a string, some portals send an object path).
QString sessionHandleOf(const QVariantMap& results);

} // namespace murmelo::portal

Q_DECLARE_METATYPE(murmelo::portal::Shortcut)

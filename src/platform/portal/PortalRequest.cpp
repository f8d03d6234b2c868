#include "portal/PortalRequest.h"

#include "common/Completion.h"

#include <QCoroDBus>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>

namespace murmelo::portal {
namespace {

constexpr int millisecondsOf(std::chrono::milliseconds limit) {
    return int(std::clamp<long long>(limit.count(), 1, std::numeric_limits<int>::max()));
}

} // namespace

// Receives the one Response of a Request object.
class ResponseWaiter final : public QObject {
    Q_OBJECT
public:
    std::shared_ptr<Completion> completion = std::make_shared<Completion>();
    Response response;

public slots:
    void onResponse(uint code, const QVariantMap& results) {
        if (completion->isDone()) return;
        response.code = code;
        response.results = results;
        completion->complete();
    }
};

namespace {

bool subscribe(QDBusConnection& connection, const QString& path, ResponseWaiter* waiter) {
    return connection.connect(service, path, requestInterface, QStringLiteral("Response"), waiter,
                              SLOT(onResponse(uint, QVariantMap)));
}

void unsubscribe(QDBusConnection& connection, const QString& path, ResponseWaiter* waiter) {
    connection.disconnect(service, path, requestInterface, QStringLiteral("Response"), waiter,
                          SLOT(onResponse(uint, QVariantMap)));
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerTypes() {
    static const bool registered = [] {
        // Qt registers metatypes on first use; QDBusConnection::connect() looks slot parameter
        // types up by name and refuses a slot whose types are not known yet.
        qRegisterMetaType<QDBusObjectPath>();
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<ShortcutList>();
        return true;
    }();
    (void)registered;
}

QString newToken() {
    static std::atomic<quint32> counter{0};
    // Random as well as counted: another process (or an earlier run of ours) on the same bus
    // name must not guess it, and two requests of ours never share one.
    return QStringLiteral("murmelo_%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QString handlePath(const QDBusConnection& connection, const QString& kind, const QString& token) {
    QString sender = connection.baseService();
    if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return objectPath + QLatin1Char('/') + kind + QLatin1Char('/') + sender + QLatin1Char('/') + token;
}

QCoro::Task<Response> request(QDBusConnection connection, QString interface, QString method,
                              QVariantList arguments, QVariantMap options, std::chrono::milliseconds limit) {
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    QString path = handlePath(connection, QStringLiteral("request"), token);

    // Subscribed before the call: the portal may answer before its reply reaches us.
    const auto waiter = std::make_shared<ResponseWaiter>();
    if (!subscribe(connection, path, waiter.get()))
        co_return Response{Response::noAnswer, {}, QStringLiteral("cannot subscribe to the response")};

    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, method);
    arguments.append(options);
    call.setArguments(arguments);
    QDBusPendingCall pending = connection.asyncCall(call, millisecondsOf(limit));
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        unsubscribe(connection, path, waiter.get());
        co_return Response{
            Response::noAnswer, {}, reply.errorName() + QStringLiteral(": ") + reply.errorMessage()};
    }
    const QString returned = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!returned.isEmpty() && returned != path) {
        // Portals older than 0.9 chose the path themselves.
        unsubscribe(connection, path, waiter.get());
        path = returned;
        subscribe(connection, path, waiter.get());
    }

    const bool answered = co_await Completion::wait(waiter->completion, limit);
    unsubscribe(connection, path, waiter.get());
    if (!answered) {
        // Takes down a dialog nobody answered.
        connection.send(
            QDBusMessage::createMethodCall(service, path, requestInterface, QStringLiteral("Close")));
        co_return Response{Response::noAnswer, {}, QStringLiteral("no response in time"), true};
    }
    Response response = waiter->response;
    co_return response;
}

QCoro::Task<> registerHostApplication(QDBusConnection connection, std::chrono::milliseconds limit) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath,
                                                       QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                       QStringLiteral("Register"));
    call.setArguments({applicationId, QVariantMap()});
    QDBusPendingCall pending = connection.asyncCall(call, millisecondsOf(limit));
    const QDBusMessage reply = co_await pending;
    if (reply.type() == QDBusMessage::ReplyMessage) co_return;
    const QString error = reply.errorName();
    // Portals before 1.19.4 have no registry; a connection that already made requests is known
    // by then. Neither stops the requests that follow.
    if (error != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") &&
        error != QLatin1String("org.freedesktop.DBus.Error.UnknownInterface") &&
        error != QLatin1String("org.freedesktop.DBus.Error.UnknownObject"))
        qDebug("portal: registering the application failed: %s", qPrintable(error));
}

QCoro::Task<std::optional<quint32>> unsignedProperty(QDBusConnection connection, QString interface,
                                                     QString name, std::chrono::milliseconds limit) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call.setArguments({interface, name});
    // The bus ends the call with an error once the limit has passed.
    QDBusPendingCall pending = connection.asyncCall(call, millisecondsOf(limit));
    const QDBusMessage reply = co_await pending;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) co_return std::nullopt;
    const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
    bool ok = false;
    const quint32 number = value.toUInt(&ok);
    if (!ok) co_return std::nullopt;
    co_return number;
}

QCoro::Task<std::optional<quint32>> interfaceVersion(QDBusConnection connection, QString interface,
                                                     std::chrono::milliseconds limit) {
    return unsignedProperty(std::move(connection), std::move(interface), QStringLiteral("version"), limit);
}

void closeSession(const QDBusConnection& connection, const QString& sessionHandle) {
    if (sessionHandle.isEmpty() || !connection.isConnected()) return;
    connection.send(
        QDBusMessage::createMethodCall(service, sessionHandle, sessionInterface, QStringLiteral("Close")));
}

QString sessionHandleOf(const QVariantMap& results) {
    const QVariant value = results.value(QStringLiteral("session_handle"));
    if (value.canConvert<QDBusObjectPath>() && value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace murmelo::portal

#include "PortalRequest.moc"

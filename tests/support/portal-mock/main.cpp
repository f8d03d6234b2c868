// murmelo-portal-mock [--frontend] [--remote-desktop-version N]
// A desktop portal back end for tests. By default it owns org.freedesktop.impl.portal.desktop.murmelotest
// and serves the back-end interfaces GlobalShortcuts and RemoteDesktop (with Session and Request
// objects) to a real xdg-desktop-portal. With --frontend it owns org.freedesktop.portal.Desktop and
// serves RemoteDesktop to clients itself, standing in for a portal newer than the installed one
// (version 2 keeps sessions with restore tokens).
//
// Tests steer it through com.murmelo.test.PortalMock: SetResponse(method, code) sets the response
// code of a request method (-1 holds the answer until Release(method, code)); Activate(id) and
// Deactivate(id) press and release a shortcut in every session that bound it; CloseSessions() ends
// every session from the desktop's side; Log() lists what happened, one line a call or a closed
// session.
#include "portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <functional>
#include <map>
#include <set>

using murmelo::portal::Shortcut;
using murmelo::portal::ShortcutList;

namespace {

const QString controlInterface = QStringLiteral("com.murmelo.test.PortalMock");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString implShortcuts = QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts");
const QString implRemoteDesktop = QStringLiteral("org.freedesktop.impl.portal.RemoteDesktop");
const QString remoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr quint32 allDeviceTypes = 7;
constexpr quint32 keyboardDevice = 1;

QVariantMap mapOf(const QVariant& value) {
    return value.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(value.value<QDBusArgument>())
                                             : value.toMap();
}

QString pathOf(const QVariant& value) {
    return value.value<QDBusObjectPath>().path();
}

QString optionText(const QVariantMap& options, const QString& key) {
    return options.contains(key) ? options.value(key).toString() : QStringLiteral("-");
}

class PortalMock final : public QDBusVirtualObject {
public:
    PortalMock(QDBusConnection connection, bool frontend, quint32 remoteDesktopVersion)
        : m_connection(std::move(connection))
        , m_frontend(frontend)
        , m_remoteDesktopVersion(remoteDesktopVersion) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        const QString interface = message.interface();
        if (interface == controlInterface) return control(message);
        if (interface == QLatin1String("org.freedesktop.DBus.Properties")) return properties(message);
        if (m_frontend) {
            if (interface == remoteDesktop) return frontendRemoteDesktop(message);
            if (interface == QLatin1String("org.freedesktop.portal.Session") && message.member() == "Close")
                return closeSession(message, message.path());
        } else {
            if (interface == implShortcuts) return shortcuts(message);
            if (interface == implRemoteDesktop) return implRemote(message);
            if (interface == QLatin1String("org.freedesktop.impl.portal.Session") &&
                message.member() == "Close")
                return closeSession(message, message.path());
            if (interface == QLatin1String("org.freedesktop.impl.portal.Request") &&
                message.member() == "Close") {
                m_log << QStringLiteral("CloseRequest");
                m_connection.send(message.createReply());
                return true;
            }
        }
        return false; // QtDBus answers UnknownMethod
    }

private:
    using Answer = std::function<void(quint32 code)>;

    // Answers now with the code the test set, or keeps the answer for Release().
    void respond(const QString& method, Answer answer) {
        const int code = m_codes.value(method, 0);
        if (code < 0)
            m_held.insert({method, std::move(answer)});
        else
            answer(quint32(code));
    }

    void replyImpl(const QDBusMessage& message, quint32 code, const QVariantMap& results) {
        m_connection.send(message.createReply({code, results}));
    }

    bool shortcuts(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == "CreateSession") {
            m_sessions[pathOf(arguments.value(1))] = QStringLiteral("GlobalShortcuts");
            m_log << QStringLiteral("CreateSession GlobalShortcuts");
            replyImpl(message, 0, {});
        } else if (member == "BindShortcuts") {
            const QString session = pathOf(arguments.value(1));
            const auto requested = qdbus_cast<ShortcutList>(arguments.value(2).value<QDBusArgument>());
            ShortcutList bound;
            for (const Shortcut& shortcut : requested) {
                m_log << QStringLiteral("BindShortcuts %1 %2 %3")
                             .arg(shortcut.id,
                                  optionText(shortcut.properties, QStringLiteral("preferred_trigger")),
                                  optionText(shortcut.properties, QStringLiteral("description")));
                QVariantMap properties = shortcut.properties;
                properties.insert(QStringLiteral("trigger_description"),
                                  properties.value(QStringLiteral("preferred_trigger")));
                bound.append({shortcut.id, properties});
            }
            respond(member, [this, message, session, bound](quint32 code) {
                QVariantMap results;
                if (code == 0) {
                    for (const Shortcut& shortcut : bound)
                        m_bound[session].insert(shortcut.id);
                    results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(bound));
                }
                replyImpl(message, code, results);
            });
        } else if (member == "ListShortcuts") {
            ShortcutList list;
            for (const QString& id : m_bound[pathOf(arguments.value(1))])
                list.append({id, {}});
            replyImpl(message, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(list)}});
        } else {
            return false;
        }
        return true;
    }

    void logSelectDevices(const QVariantMap& options) {
        m_log << QStringLiteral("SelectDevices types=%1 persist_mode=%2 restore_token=%3")
                     .arg(optionText(options, QStringLiteral("types")),
                          optionText(options, QStringLiteral("persist_mode")),
                          optionText(options, QStringLiteral("restore_token")));
    }

    bool logKeysym(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        m_log << QStringLiteral("Keysym %1 %2")
                     .arg(arguments.value(2).toInt())
                     .arg(arguments.value(3).toUInt());
        m_connection.send(message.createReply());
        return true;
    }

    bool implRemote(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == "CreateSession") {
            m_sessions[pathOf(arguments.value(1))] = QStringLiteral("RemoteDesktop");
            m_log << QStringLiteral("CreateSession RemoteDesktop");
            replyImpl(message, 0, {});
        } else if (member == "SelectDevices") {
            logSelectDevices(mapOf(arguments.value(3)));
            respond(member, [this, message](quint32 code) { replyImpl(message, code, {}); });
        } else if (member == "Start") {
            m_log << QStringLiteral("Start");
            respond(member, [this, message](quint32 code) {
                replyImpl(message, code, {{QStringLiteral("devices"), keyboardDevice}});
            });
        } else if (member == "NotifyKeyboardKeysym") {
            return logKeysym(message);
        } else {
            return false;
        }
        return true;
    }

    // The client side of a newer portal: requests answer through Response signals.
    bool frontendRemoteDesktop(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == "NotifyKeyboardKeysym") return logKeysym(message);
        const QVariantMap options = mapOf(arguments.value(arguments.size() - 1));
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = desktopPath + QStringLiteral("/request/") + sender + QLatin1Char('/') +
                                options.value(QStringLiteral("handle_token")).toString();
        m_connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        const QString client = message.service();
        const auto answer = [this, client, request](quint32 code, const QVariantMap& results) {
            QDBusMessage response = QDBusMessage::createTargetedSignal(
                client, request, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"));
            response << code << results;
            m_connection.send(response);
        };
        if (member == "CreateSession") {
            const QString session = desktopPath + QStringLiteral("/session/") + sender + QLatin1Char('/') +
                                    options.value(QStringLiteral("session_handle_token")).toString();
            m_sessions[session] = QStringLiteral("RemoteDesktop");
            m_clients[session] = client;
            m_log << QStringLiteral("CreateSession RemoteDesktop");
            answer(0, {{QStringLiteral("session_handle"), session}});
        } else if (member == "SelectDevices") {
            logSelectDevices(options);
            m_persist[pathOf(arguments.value(0))] =
                options.value(QStringLiteral("persist_mode")).toUInt() == 2;
            respond(member, [answer](quint32 code) { answer(code, {}); });
        } else if (member == "Start") {
            m_log << QStringLiteral("Start");
            const bool persist = m_persist[pathOf(arguments.value(0))];
            respond(member, [this, answer, persist](quint32 code) {
                QVariantMap results{{QStringLiteral("devices"), keyboardDevice}};
                if (code == 0 && persist)
                    results.insert(QStringLiteral("restore_token"),
                                   QStringLiteral("token-%1").arg(++m_tokens));
                answer(code, results);
            });
        } else {
            return false;
        }
        return true;
    }

    bool closeSession(const QDBusMessage& message, const QString& session) {
        m_log << QStringLiteral("Close ") + m_sessions.value(session, QStringLiteral("unknown"));
        m_sessions.remove(session);
        m_bound.erase(session);
        m_connection.send(message.createReply());
        return true;
    }

    bool properties(const QDBusMessage& message) {
        const QString interface = message.arguments().value(0).toString();
        QVariantMap values;
        if (interface == implShortcuts) values.insert(QStringLiteral("version"), 1u);
        if (interface == implRemoteDesktop || (m_frontend && interface == remoteDesktop)) {
            values.insert(QStringLiteral("version"), m_remoteDesktopVersion);
            values.insert(QStringLiteral("AvailableDeviceTypes"), allDeviceTypes);
        }
        if (message.member() == "GetAll") {
            m_connection.send(message.createReply(values));
        } else if (message.member() == "Get" && values.contains(message.arguments().value(1).toString())) {
            m_connection.send(message.createReply(
                QVariant::fromValue(QDBusVariant(values.value(message.arguments().value(1).toString())))));
        } else {
            m_connection.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                         QStringLiteral("no such property")));
        }
        return true;
    }

    void emitShortcut(const QString& signal, const QString& id) {
        for (const auto& [session, ids] : m_bound) {
            if (!ids.contains(id)) continue;
            QDBusMessage message = QDBusMessage::createSignal(desktopPath, implShortcuts, signal);
            message << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(++m_timestamp)
                    << QVariantMap();
            m_connection.send(message);
        }
    }

    bool control(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        const QString member = message.member();
        if (member == "SetResponse") {
            m_codes[arguments.value(0).toString()] = arguments.value(1).toInt();
        } else if (member == "Release") {
            const QString method = arguments.value(0).toString();
            auto [first, last] = m_held.equal_range(method);
            std::vector<Answer> answers;
            for (auto it = first; it != last; ++it)
                answers.push_back(std::move(it->second));
            m_held.erase(method);
            for (const Answer& answer : answers)
                answer(arguments.value(1).toUInt());
        } else if (member == "Activate") {
            emitShortcut(QStringLiteral("Activated"), arguments.value(0).toString());
        } else if (member == "Deactivate") {
            emitShortcut(QStringLiteral("Deactivated"), arguments.value(0).toString());
        } else if (member == "CloseSessions") {
            for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it) {
                m_log << QStringLiteral("Close ") + it.value();
                QDBusMessage closed =
                    m_frontend
                        ? QDBusMessage::createTargetedSignal(m_clients.value(it.key()), it.key(),
                                                             QStringLiteral("org.freedesktop.portal.Session"),
                                                             QStringLiteral("Closed"))
                        : QDBusMessage::createSignal(it.key(),
                                                     QStringLiteral("org.freedesktop.impl.portal.Session"),
                                                     QStringLiteral("Closed"));
                if (m_frontend) closed << QVariantMap();
                m_connection.send(closed);
            }
            m_sessions.clear();
            m_bound.clear();
        } else if (member == "Log") {
            m_connection.send(message.createReply(m_log));
            return true;
        } else {
            return false;
        }
        m_connection.send(message.createReply());
        return true;
    }

    QDBusConnection m_connection;
    bool m_frontend;
    quint32 m_remoteDesktopVersion;
    QStringList m_log;
    QHash<QString, int> m_codes;
    std::multimap<QString, Answer> m_held;
    QHash<QString, QString> m_sessions; // path -> portal
    QHash<QString, QString> m_clients;  // path -> client bus name (frontend)
    QHash<QString, bool> m_persist;
    std::map<QString, std::set<QString>> m_bound; // session -> shortcut ids
    quint64 m_timestamp = 0;
    int m_tokens = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const bool frontend = arguments.contains(QStringLiteral("--frontend"));
    const int versionAt = arguments.indexOf(QStringLiteral("--remote-desktop-version"));
    const quint32 version = versionAt > 0 ? arguments.value(versionAt + 1).toUInt() : 1;

    murmelo::portal::registerTypes();
    QDBusConnection connection = QDBusConnection::sessionBus();
    PortalMock mock(connection, frontend, version);
    if (!connection.registerVirtualObject(QStringLiteral("/"), &mock, QDBusConnection::SubPath)) {
        qCritical("cannot register the mock's objects");
        return 1;
    }
    const QString name = frontend ? QStringLiteral("org.freedesktop.portal.Desktop")
                                  : QStringLiteral("org.freedesktop.impl.portal.desktop.murmelotest");
    if (!connection.registerService(name)) {
        qCritical("cannot own %s", qPrintable(name));
        return 1;
    }
    return application.exec();
}

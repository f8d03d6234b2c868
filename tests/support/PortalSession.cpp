#include "PortalSession.h"
#include "TestEnvironment.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QThread>

namespace murmelo::test {
namespace {

using Clock = std::chrono::steady_clock;

const QString mockName = QStringLiteral("org.freedesktop.impl.portal.desktop.murmelotest");
const QString portalName = QStringLiteral("org.freedesktop.portal.Desktop");

} // namespace

PortalSession::PortalSession(PortalOptions options, std::chrono::milliseconds startLimit)
    : m_bus(KeyringSession::Service::none, startLimit) {
    const auto deadline = Clock::now() + startLimit;
    if (!m_bus.isReady()) {
        m_error = m_bus.errorString();
        return;
    }
    static int sessions = 0;
    m_connectionName = QStringLiteral("murmelo-portal-test-%1").arg(++sessions);
    if (!QDBusConnection::connectToBus(m_bus.busAddress(), m_connectionName).isConnected()) {
        m_error = QStringLiteral("cannot connect to the private bus");
        return;
    }

    const QString root = m_bus.environment().root();
    QStringList interfaces;
    for (const QString& interface : options.interfaces)
        interfaces << QStringLiteral("org.freedesktop.impl.portal.") + interface;
    writeFile(root + QStringLiteral("/portals/murmelotest.portal"),
              QStringLiteral("[portal]\nDBusName=%1\nInterfaces=%2;\nUseIn=murmelotest\n")
                  .arg(mockName, interfaces.join(QLatin1Char(';')))
                  .toUtf8());

    const QString mock =
        qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/bin/murmelo-portal-mock");
    QStringList mockArguments{QStringLiteral("--remote-desktop-version"),
                              QString::number(options.remoteDesktopVersion)};
    if (options.mockIsThePortal) mockArguments << QStringLiteral("--frontend");
    m_mockName = options.mockIsThePortal ? portalName : mockName;
    if (!startProcess(m_mock, mock, mockArguments, QStringLiteral("mock.log"), m_mockName, deadline)) return;
    if (options.mockIsThePortal) {
        m_ready = true;
        return;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), root + QStringLiteral("/portals"));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("murmelotest"));
    m_portal.setProcessEnvironment(environment);
    m_ready = startProcess(m_portal, QStringLiteral("/usr/libexec/xdg-desktop-portal"),
                           {QStringLiteral("--verbose")}, QStringLiteral("portal.log"), portalName, deadline);
}

PortalSession::~PortalSession() {
    stopChild(m_portal);
    stopChild(m_mock);
    if (!m_connectionName.isEmpty()) QDBusConnection::disconnectFromBus(m_connectionName);
}

bool PortalSession::startProcess(QProcess& process, const QString& program, const QStringList& arguments,
                                 const QString& logName, const QString& busName, Clock::time_point deadline) {
    const QString logPath = m_bus.environment().root() + QLatin1Char('/') + logName;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(logPath);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        m_error = program + QStringLiteral(" did not start: ") + process.errorString();
        return false;
    }
    // Ready once it owns its name.
    QDBusConnectionInterface* bus = connection().interface();
    while (!bus->isServiceRegistered(busName).value()) {
        if (process.state() == QProcess::NotRunning || Clock::now() > deadline) {
            m_error =
                program + QStringLiteral(" did not take ") + busName + QStringLiteral(": ") + logOf(logName);
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

QString PortalSession::logOf(const QString& logName) {
    return QString::fromUtf8(readAll(m_bus.environment().root() + QLatin1Char('/') + logName));
}

bool PortalSession::callMock(const QString& method, const QVariantList& arguments, QVariant* result) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_mockName, QStringLiteral("/com/murmelo/test/PortalMock"),
                                       QStringLiteral("com.murmelo.test.PortalMock"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = connection().call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning("the portal mock did not answer %s: %s", qPrintable(method),
                 qPrintable(reply.errorMessage()));
        return false;
    }
    if (result) *result = reply.arguments().value(0);
    return true;
}

bool PortalSession::setResponse(const QString& method, int code) {
    return callMock(QStringLiteral("SetResponse"), {method, code});
}

bool PortalSession::release(const QString& method, quint32 code) {
    return callMock(QStringLiteral("Release"), {method, code});
}

bool PortalSession::activate(const QString& shortcutId) {
    return callMock(QStringLiteral("Activate"), {shortcutId});
}

bool PortalSession::deactivate(const QString& shortcutId) {
    return callMock(QStringLiteral("Deactivate"), {shortcutId});
}

bool PortalSession::closeSessions() {
    return callMock(QStringLiteral("CloseSessions"), {});
}

QStringList PortalSession::log(const QString& prefix) {
    QVariant lines;
    if (!callMock(QStringLiteral("Log"), {}, &lines)) return {};
    QStringList matching;
    for (const QString& line : lines.toStringList())
        if (line.startsWith(prefix)) matching << line;
    return matching;
}

} // namespace murmelo::test

#include "AsyncTest.h"
#include "KeyringSession.h"
#include "secret/SecretBackendLibsecret.h"

#include <QFile>
#include <QLocalServer>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

static const QString service = QStringLiteral("com.murmelo.credentials"),
                     account = QStringLiteral("openai-api-key");

// The Secret Service back end and its status from a silent bus to a locked keyring, in slot order in one process:
// GLib keeps the first session bus it reaches, so the silent bus comes first, then our private bus
// without a Secret Service, which GNOME Keyring joins later.
class SecretServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_session.emplace(test::KeyringSession::Service::none);
        QVERIFY2(m_session->isReady(), qPrintable(m_session->errorString()));
    }

    void aSilentBusIsWaitedForOnceNotAtEveryLookup() {
        // Listening but never answering: the kernel completes the connection, the client's
        // authentication waits for an answer that never comes.
        QLocalServer silentBus;
        QVERIFY(silentBus.listen(m_session->environment().root() + "/runtime/silent-bus"));
        test::TestEnvironment environment;
        environment.set("DBUS_SESSION_BUS_ADDRESS",
                        QFile::encodeName("unix:path=" + silentBus.fullServerName()));
        const auto connections = [&silentBus] {
            int count = 0;
            while (silentBus.waitForNewConnection(0) && silentBus.nextPendingConnection())
                ++count;
            return count;
        };
        SecretBackendLibsecret backend(SecretCallTimeouts{700ms, 700ms});
        QVERIFY(!backend.lookup(service, account));
        QVERIFY(connections() > 0);
        QVERIFY(!backend.lookup(service, "deepseek-api-key"));
        QCOMPARE(connections(), 0);
        QCOMPARE(backend.store(service, account, "sk"), SecretBackendLibsecret::timedOutStatus);
        QCOMPARE(backend.clear(service, account), SecretBackendLibsecret::timedOutStatus);
        QCOMPARE(test::run(backend.serviceStatus()), SecretServiceStatus::unresponsive);
    }

    void aBusWithoutTheSecretServiceRefusesChanges() {
        QVERIFY(!m_backend.lookup(service, account));
        QCOMPARE(m_backend.store(service, account, "sk"), 2); // G_DBUS_ERROR_SERVICE_UNKNOWN
        QCOMPARE(test::run(m_backend.serviceStatus()), SecretServiceStatus::absent);
    }

    void secretsReadBackByteForByteAsOneItemOtherClientsFind() {
        QVERIFY2(m_session->startKeyring(), qPrintable(m_session->errorString()));
        QCOMPARE(test::run(m_backend.serviceStatus()), SecretServiceStatus::reachable);
        const QByteArray secret = QStringLiteral(" sk-proj 中文  密钥\u00a0end ").toUtf8();
        QCOMPARE(m_backend.store(service, account, "sk-first"), 0);
        QCOMPARE(m_backend.store(service, account, secret), 0);
        QCOMPARE(m_backend.lookup(service, account), std::optional(secret));
        QVERIFY(!m_backend.lookup(service, "deepseek-api-key"));
        QCOMPARE(secretTool({"lookup"}), std::optional(secret));
        QCOMPARE(secretTool({"search", "--all"}).value_or("").count("label = Murmelo: openai-api-key"), 1);

        QCOMPARE(m_backend.store(service, "deepseek-api-key", "sk-deepseek"), 0);
        QCOMPARE(m_backend.clear(service, "deepseek-api-key"), 0);
        QCOMPARE(m_backend.clear(service, "deepseek-api-key"), 0); // nothing left to remove is no failure
        QVERIFY(!m_backend.lookup(service, "deepseek-api-key"));
    }

    void aLockedCollectionReadsAsMissingAndRefusesChanges() {
        QVERIFY(m_session->lockLoginCollection());
        QCOMPARE(test::run(m_backend.serviceStatus()), SecretServiceStatus::locked);
        QVERIFY(!m_backend.lookup(service, account));
        QCOMPARE(m_backend.store(service, account, "sk-after-lock"), 2); // SECRET_ERROR_IS_LOCKED
        // A removal the keyring skipped must not be reported as done.
        QCOMPARE(m_backend.clear(service, account), 2);
        QVERIFY(secretTool({"search", "--all"}).value_or("").contains("label = Murmelo: openai-api-key"));
    }

private:
    std::optional<QByteArray> secretTool(QStringList arguments) {
        return m_session->runOnBus("secret-tool", arguments << "service" << service << "account" << account);
    }

    std::optional<test::KeyringSession> m_session;
    SecretBackendLibsecret m_backend{SecretCallTimeouts{5s, 5s}};
};

QTEST_GUILESS_MAIN(SecretServiceTest)
#include "tst_SecretService.moc"

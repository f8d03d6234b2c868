#include "KeyringSession.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

// A session bus on which nobody provides the Secret Service.
class KeyringWithoutServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_session = std::make_unique<test::KeyringSession>(test::KeyringSession::Service::none);
        QVERIFY2(m_session->isReady(), qPrintable(m_session->errorString()));
        m_session->environment().set("DEEPSEEK_API_KEY", "sk-deepseek-environment");
    }

    void cleanupTestCase() { m_session.reset(); }

    void readsFallBackAndChangesFailWithServiceUnknown() {
        const KeychainStore store(std::make_shared<SecretBackendLibsecret>(SecretCallTimeouts{5s, 5s}));
        QVERIFY(!store.read(CredentialKind::deepSeek));
        QCOMPARE(store.resolved(CredentialKind::deepSeek), std::optional<QString>("sk-deepseek-environment"));
        m_session->environment().unset("DEEPSEEK_API_KEY");
        QVERIFY(!store.resolved(CredentialKind::deepSeek));

        try {
            store.save(QStringLiteral("sk-never-stored"), CredentialKind::deepSeek);
            QFAIL("saving without a Secret Service must fail");
        } catch (const KeychainStoreError& error) {
            // G_DBUS_ERROR_SERVICE_UNKNOWN
            QCOMPARE(error, KeychainStoreError::unexpectedStatus(2));
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（2）。"));
        }
        try {
            store.remove(CredentialKind::deepSeek);
            QFAIL("removing without a Secret Service must fail");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error, KeychainStoreError::unexpectedStatus(2));
        }
    }

private:
    std::unique_ptr<test::KeyringSession> m_session;
};

QTEST_GUILESS_MAIN(KeyringWithoutServiceTest)
#include "tst_KeyringWithoutService.moc"

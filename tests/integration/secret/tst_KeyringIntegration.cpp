#include "KeyringSession.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

// The keychain store against a real GNOME Keyring on a private session bus.
class KeyringIntegrationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_session = std::make_unique<test::KeyringSession>(test::KeyringSession::Service::gnomeKeyring);
        QVERIFY2(m_session->isReady(), qPrintable(m_session->errorString()));
        m_session->environment().unset("OPENAI_API_KEY");
        m_session->environment().unset("DEEPSEEK_API_KEY");
        m_store = std::make_unique<KeychainStore>(
            std::make_shared<SecretBackendLibsecret>(SecretCallTimeouts{5s, 5s}));
    }

    void cleanupTestCase() {
        m_store.reset();
        m_session.reset();
    }

    void savedKeysReadBackByteForByte() {
        const QString key = QStringLiteral(" sk-proj 中文  密钥\u00a0end ");
        m_store->save(key, CredentialKind::openAI);
        QCOMPARE(m_store->read(CredentialKind::openAI), std::optional(key));
        QCOMPARE(m_store->resolved(CredentialKind::openAI), std::optional(key));
        QVERIFY(!m_store->read(CredentialKind::deepSeek));

        // Other Secret Service clients find the item by the same schema attributes.
        const auto looked = m_session->runOnBus(
            QStringLiteral("secret-tool"),
            {QStringLiteral("lookup"), QStringLiteral("service"), QStringLiteral("com.murmelo.credentials"),
             QStringLiteral("account"), QStringLiteral("openai-api-key")});
        QVERIFY(looked);
        QCOMPARE(*looked, key.toUtf8());
    }

    void savingAgainReplacesTheOneItem() {
        m_store->save(QStringLiteral("sk-first"), CredentialKind::deepSeek);
        m_store->save(QStringLiteral("sk-second"), CredentialKind::deepSeek);
        QCOMPARE(m_store->read(CredentialKind::deepSeek), std::optional<QString>("sk-second"));
        const auto found =
            m_session->runOnBus(QStringLiteral("secret-tool"),
                                {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"),
                                 QStringLiteral("com.murmelo.credentials"), QStringLiteral("account"),
                                 QStringLiteral("deepseek-api-key")});
        QVERIFY(found);
        QCOMPARE(found->count("\nlabel = "), 1);
        QVERIFY(found->contains("label = Murmelo: deepseek-api-key"));
    }

    void removingTwiceSucceedsAndTheEnvironmentTakesOver() {
        m_store->save(QStringLiteral("sk-stored"), CredentialKind::openAI);
        m_store->remove(CredentialKind::openAI);
        m_store->remove(CredentialKind::openAI);
        QVERIFY(!m_store->read(CredentialKind::openAI));
        QVERIFY(!m_store->resolved(CredentialKind::openAI));
        m_session->environment().set("OPENAI_API_KEY", "sk-from-environment");
        QCOMPARE(m_store->resolved(CredentialKind::openAI), std::optional<QString>("sk-from-environment"));
        m_session->environment().unset("OPENAI_API_KEY");
    }

    // Last: the collection stays locked afterwards.
    void lockedCollectionReadsAsMissingAndRefusesChanges() {
        m_store->save(QStringLiteral("sk-before-lock"), CredentialKind::openAI);
        QVERIFY(m_session->lockLoginCollection());
        QVERIFY(!m_store->read(CredentialKind::openAI));
        m_session->environment().set("OPENAI_API_KEY", "sk-from-environment");
        QCOMPARE(m_store->resolved(CredentialKind::openAI), std::optional<QString>("sk-from-environment"));
        try {
            m_store->save(QStringLiteral("sk-after-lock"), CredentialKind::openAI);
            QFAIL("saving into a locked collection must fail");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error, KeychainStoreError::unexpectedStatus(2)); // SECRET_ERROR_IS_LOCKED
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（2）。"));
        }
        // A removal the keyring skipped must not be reported as done.
        try {
            m_store->remove(CredentialKind::openAI);
            QFAIL("removing from a locked collection must fail");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error, KeychainStoreError::unexpectedStatus(2)); // SECRET_ERROR_IS_LOCKED
        }
        const auto found =
            m_session->runOnBus(QStringLiteral("secret-tool"),
                                {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("service"),
                                 QStringLiteral("com.murmelo.credentials"), QStringLiteral("account"),
                                 QStringLiteral("openai-api-key")});
        QVERIFY(found && found->contains("label = Murmelo: openai-api-key"));
    }

private:
    std::unique_ptr<test::KeyringSession> m_session;
    std::unique_ptr<KeychainStore> m_store;
};

QTEST_GUILESS_MAIN(KeyringIntegrationTest)
#include "tst_KeyringIntegration.moc"

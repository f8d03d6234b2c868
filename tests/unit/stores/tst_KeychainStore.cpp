#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "stores/APIKey.h"
#include "stores/KeychainStore.h"

#include <QTest>

using namespace murmelo;

namespace {

const SecretBackendFake::Key openAIItem{QStringLiteral("com.murmelo.credentials"),
                                        QStringLiteral("openai-api-key")};
const SecretBackendFake::Key deepSeekItem{QStringLiteral("com.murmelo.credentials"),
                                          QStringLiteral("deepseek-api-key")};

} // namespace

class KeychainStoreTest : public QObject {
    Q_OBJECT
private slots:
    void readAndResolve_data() {
        QTest::addColumn<std::optional<QByteArray>>("stored");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<std::optional<QByteArray>>("environment");
        QTest::addColumn<std::optional<QString>>("read");
        QTest::addColumn<std::optional<QString>>("resolved");
        const std::optional<QByteArray> none;
        const std::optional<QString> absent;

        QTest::newRow("stored key wins over the environment")
            << std::optional<QByteArray>("sk-stored") << true << std::optional<QByteArray>("sk-env")
            << std::optional<QString>("sk-stored") << std::optional<QString>("sk-stored");
        QTest::newRow("nothing stored: the environment")
            << none << true << std::optional<QByteArray>("sk-env") << absent
            << std::optional<QString>("sk-env");
        QTest::newRow("nothing stored, variable empty")
            << none << true << std::optional<QByteArray>("") << absent << absent;
        QTest::newRow("nothing anywhere") << none << true << none << absent << absent;
        QTest::newRow("empty item reads as absent")
            << std::optional<QByteArray>("") << true << std::optional<QByteArray>("sk-env") << absent
            << std::optional<QString>("sk-env");
        QTest::newRow("stored exactly, spaces and Chinese kept")
            << std::optional<QByteArray>(" sk a b 密钥 ") << true << none
            << std::optional<QString>(" sk a b 密钥 ") << std::optional<QString>(" sk a b 密钥 ");
        QTest::newRow("not UTF-8 reads as absent")
            << std::optional<QByteArray>("sk-\xff\xfe") << true << std::optional<QByteArray>("sk-env")
            << absent << std::optional<QString>("sk-env");
        QTest::newRow("keyring unreachable: the environment")
            << std::optional<QByteArray>("sk-stored") << false << std::optional<QByteArray>("sk-env")
            << absent << std::optional<QString>("sk-env");
        QTest::newRow("stored key with a line feed is never used")
            << std::optional<QByteArray>("sk-a\nInjected: 1") << true << std::optional<QByteArray>("sk-env")
            << std::optional<QString>("sk-a\nInjected: 1") << std::optional<QString>("sk-env");
        QTest::newRow("environment key with a carriage return is absent")
            << none << true << std::optional<QByteArray>("sk-env\r") << absent << absent;
    }

    void readAndResolve() {
        QFETCH(std::optional<QByteArray>, stored);
        QFETCH(bool, reachable);
        QFETCH(std::optional<QByteArray>, environment);
        test::TestEnvironment env;
        env.unset("DEEPSEEK_API_KEY");
        if (environment)
            env.set("OPENAI_API_KEY", *environment);
        else
            env.unset("OPENAI_API_KEY");
        auto backend = std::make_shared<SecretBackendFake>();
        if (stored) backend->items.insert(openAIItem, *stored);
        backend->reachable = reachable;
        const KeychainStore store(backend);
        QTEST(store.read(CredentialKind::openAI), "read");
        QTEST(store.resolved(CredentialKind::openAI), "resolved");
        // The other kind has its own item and its own variable.
        QCOMPARE(store.resolved(CredentialKind::deepSeek), std::optional<QString>());
    }

    void kindsUseTheirOwnAccountsAndVariables() {
        test::TestEnvironment env;
        env.set("OPENAI_API_KEY", "sk-openai-env");
        env.set("DEEPSEEK_API_KEY", "sk-deepseek-env");
        auto backend = std::make_shared<SecretBackendFake>();
        const KeychainStore store(backend);
        QCOMPARE(store.service(), QStringLiteral("com.murmelo.credentials"));
        store.save(QStringLiteral("sk-deepseek"), CredentialKind::deepSeek);
        QCOMPARE(backend->items.value(deepSeekItem), QByteArray("sk-deepseek"));
        QCOMPARE(store.resolved(CredentialKind::deepSeek), std::optional<QString>("sk-deepseek"));
        QCOMPARE(store.resolved(CredentialKind::openAI), std::optional<QString>("sk-openai-env"));

        // Copies share the items; another service name does not see them.
        const KeychainStore copy = store;
        QCOMPARE(copy.read(CredentialKind::deepSeek), std::optional<QString>("sk-deepseek"));
        QVERIFY(!KeychainStore(backend, QStringLiteral("other.service")).read(CredentialKind::deepSeek));
    }

    void saveReplacesInOneCallAndAFailureKeepsTheOldKey() {
        auto backend = std::make_shared<SecretBackendFake>();
        const KeychainStore store(backend);
        store.save(QStringLiteral("sk-first"), CredentialKind::openAI);
        store.save(QStringLiteral("sk second  中文"), CredentialKind::openAI);
        QCOMPARE(backend->items.value(openAIItem), QByteArray("sk second  中文"));
        QCOMPARE(backend->clears, 0);

        backend->storeStatus = -25299;
        try {
            store.save(QStringLiteral("sk-third"), CredentialKind::openAI);
            QFAIL("a refused save must throw");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error, KeychainStoreError::unexpectedStatus(-25299));
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（-25299）。"));
        }
        QCOMPARE(store.read(CredentialKind::openAI), std::optional<QString>("sk second  中文"));
    }

    void saveRefusesWhatCouldNotBeStoredFaithfully_data() {
        QTest::addColumn<QString>("key");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("sk");
        QTest::newRow("line feed inside") << QStringLiteral("sk-a\nb");
        QTest::newRow("NUL inside") << QStringLiteral("sk-a") + QChar(0) + QStringLiteral("b");
    }

    void saveRefusesWhatCouldNotBeStoredFaithfully() {
        QFETCH(QString, key);
        auto backend = std::make_shared<SecretBackendFake>();
        backend->items.insert(openAIItem, "sk-old");
        const KeychainStore store(backend);
        try {
            store.save(key, CredentialKind::openAI);
            QFAIL("the key must be refused");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error, KeychainStoreError::encodingFailed());
            QCOMPARE(error.description(), QStringLiteral("无法编码密钥。"));
        }
        QCOMPARE(backend->stores, 0);
        QCOMPARE(backend->items.value(openAIItem), QByteArray("sk-old"));
    }

    void removeSucceedsTwiceAndReportsRefusals() {
        auto backend = std::make_shared<SecretBackendFake>();
        backend->items.insert(openAIItem, "sk-old");
        const KeychainStore store(backend);
        store.remove(CredentialKind::openAI);
        store.remove(CredentialKind::openAI);
        QVERIFY(!store.read(CredentialKind::openAI));

        backend->clearStatus = 2;
        try {
            store.remove(CredentialKind::openAI);
            QFAIL("a refused removal must throw");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error.kind(), KeychainStoreError::Case::unexpectedStatus);
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（2）。"));
        }
    }

    void usableKeys_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << QStringLiteral("sk-proj-AbC_123") << true;
        QTest::newRow("inner space and Chinese") << QStringLiteral("sk a 中文") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("CR") << QStringLiteral("sk\r") << false;
        QTest::newRow("LF") << QStringLiteral("sk\nX-Evil: 1") << false;
        QTest::newRow("NUL") << QStringLiteral("sk") + QChar(0) << false;
        QTest::newRow("tab") << QStringLiteral("\tsk") << false;
        QTest::newRow("DEL") << QStringLiteral("sk\x7f") << false;
        QTest::newRow("C1 next line") << QStringLiteral("sk") + QChar(0x85) << false;
    }

    void usableKeys() {
        QFETCH(QString, key);
        QTEST(isUsableAPIKey(key), "usable");
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "tst_KeychainStore.moc"

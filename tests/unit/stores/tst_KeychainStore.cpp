#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "stores/KeychainStore.h"

#include <QJsonObject>
#include <QTest>

using namespace murmelo;

class KeychainStoreTest : public QObject {
    Q_OBJECT
private slots:
    // Also the one table of the keys that may be saved: a control character could split a header.
    void savedReadAndResolvedKeys_data() { test::rowsFromJson(QFINDTESTDATA("stores/keychain_cases.json")); }
    void savedReadAndResolvedKeys() {
        QFETCH(QJsonObject, row);
        // Each kind has its own item and its own variable, as other clients and the shell see them.
        const bool deepSeek = row["kind"].toString() == "deepSeek";
        const auto kind = deepSeek ? CredentialKind::deepSeek : CredentialKind::openAI;
        test::TestEnvironment environment;
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        if (row.contains("environment"))
            environment.set(deepSeek ? "DEEPSEEK_API_KEY" : "OPENAI_API_KEY",
                            row["environment"].toString().toUtf8());
        auto backend = std::make_shared<SecretBackendFake>();
        if (row.contains("stored"))
            backend->items.insert(
                {"com.murmelo.credentials", deepSeek ? "deepseek-api-key" : "openai-api-key"},
                QByteArray::fromPercentEncoding(row["stored"].toString().toUtf8()));
        backend->reachable = row["reachable"].toBool(true);
        const KeychainStore store(backend);
        try {
            if (row.contains("save")) store.save(row["save"].toString(), kind);
            QVERIFY(!row["refused"].toBool());
        } catch (const KeychainStoreError& error) {
            QVERIFY(row["refused"].toBool());
            QCOMPARE(error, KeychainStoreError::encodingFailed());
        }
        const auto text = [&row](const char* key) {
            return row[key].isString() ? std::optional(row[key].toString()) : std::nullopt;
        };
        QCOMPARE(store.read(kind), text("read"));
        QCOMPARE(store.resolved(kind), text("resolved"));
        QVERIFY(!store.resolved(deepSeek ? CredentialKind::openAI : CredentialKind::deepSeek));
    }
};

QTEST_GUILESS_MAIN(KeychainStoreTest)
#include "tst_KeychainStore.moc"

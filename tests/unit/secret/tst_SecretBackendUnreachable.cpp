#include "TestEnvironment.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

// The Secret Service back end where no keyring can answer. GLib keeps the first session bus it
// finds for the whole process, so each situation runs in its own test program, chosen at build
// time: no session bus at all, or a bus socket that accepts connections and never answers.
class SecretBackendUnreachableTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_environment = std::make_unique<test::TestEnvironment>();
        const QString runtime = m_environment->root() + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_environment->set("XDG_RUNTIME_DIR", runtime.toUtf8());
        // Without a display GDBus cannot autolaunch a bus of its own.
        m_environment->unset("DISPLAY");
        m_environment->unset("WAYLAND_DISPLAY");
        m_environment->set("OPENAI_API_KEY", "sk-from-environment");
#ifdef MURMELO_SILENT_BUS
        // Listening but never accepting: the kernel completes the connection, and the client's
        // authentication waits for an answer that never comes.
        m_silentBus = std::make_unique<QLocalServer>();
        QVERIFY(m_silentBus->listen(runtime + QStringLiteral("/silent-bus")));
        m_environment->set("DBUS_SESSION_BUS_ADDRESS",
                           QByteArray("unix:path=") + QFile::encodeName(runtime) + "/silent-bus");
#else
        m_environment->unset("DBUS_SESSION_BUS_ADDRESS");
#endif
    }

    void cleanupTestCase() {
        m_silentBus.reset();
        m_environment.reset();
    }

    void readsNothingAndRefusesChangesWithAStatus() {
        auto backend = std::make_shared<SecretBackendLibsecret>(SecretCallTimeouts{700ms, 700ms});
        QVERIFY(!backend->lookup(KeychainStore::defaultService, QStringLiteral("openai-api-key")));
        const qint32 storeStatus =
            backend->store(KeychainStore::defaultService, QStringLiteral("openai-api-key"), "sk");
        const qint32 clearStatus =
            backend->clear(KeychainStore::defaultService, QStringLiteral("openai-api-key"));
        QVERIFY(storeStatus != 0);
        QVERIFY(clearStatus != 0);
#ifdef MURMELO_SILENT_BUS
        // The first lookup waited for its deadline; the next ones do not wait again.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!backend->lookup(KeychainStore::defaultService, QStringLiteral("deepseek-api-key")));
        QVERIFY2(clock.elapsed() < 350, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(storeStatus, SecretBackendLibsecret::timedOutStatus);
        QCOMPARE(clearStatus, SecretBackendLibsecret::timedOutStatus);
#endif
        qInfo("store status %d, clear status %d", storeStatus, clearStatus);

        const KeychainStore store(backend);
        QVERIFY(!store.read(CredentialKind::openAI));
        QCOMPARE(store.resolved(CredentialKind::openAI), std::optional<QString>("sk-from-environment"));
        try {
            store.save(QStringLiteral("sk-never-stored"), CredentialKind::openAI);
            QFAIL("saving without a keyring must fail");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error.kind(), KeychainStoreError::Case::unexpectedStatus);
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（%1）。").arg(storeStatus));
            QVERIFY(!QString::fromUtf8(error.what()).contains(QStringLiteral("sk-never-stored")));
        }
        try {
            store.remove(CredentialKind::openAI);
            QFAIL("removing without a keyring must fail");
        } catch (const KeychainStoreError& error) {
            QCOMPARE(error.description(), QStringLiteral("Keychain 操作失败（%1）。").arg(clearStatus));
        }
    }

private:
    std::unique_ptr<test::TestEnvironment> m_environment;
    std::unique_ptr<QLocalServer> m_silentBus;
};

QTEST_GUILESS_MAIN(SecretBackendUnreachableTest)
#include "tst_SecretBackendUnreachable.moc"

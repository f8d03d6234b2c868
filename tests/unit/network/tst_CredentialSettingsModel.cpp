#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "credentials/CredentialSettingsModel.h"
#include "dictation/DictationCoordinatorError.h"
#include "network/TransportErrors.h"
#include "refinement/ProviderConfiguration.h"
#include "refinement/RefinementProviderError.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace murmelo;

namespace {

ProviderConfiguration configuration(const QString& base = QStringLiteral("https://api.example.com")) {
    return ProviderConfiguration([base](const char*) { return base; }, [](const QString&) {});
}

SecretBackendFake::Key item(CredentialKind kind) {
    return {KeychainStore::defaultService, keychainAccount(kind)};
}

} // namespace

class CredentialSettingsModelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TestEnvironment> m_environment;
    std::shared_ptr<SecretBackendFake> m_keyring;
    QNetworkAccessManager m_session;

    std::unique_ptr<CredentialSettingsModel> model() {
        return std::make_unique<CredentialSettingsModel>(KeychainStore(m_keyring), &m_session,
                                                         configuration());
    }
    QByteArray stored(CredentialKind kind) const { return m_keyring->items.value(item(kind)); }

private slots:
    void init() {
        m_environment = std::make_unique<test::TestEnvironment>();
        m_environment->unset("OPENAI_API_KEY");
        m_environment->unset("DEEPSEEK_API_KEY");
        m_keyring = std::make_shared<SecretBackendFake>();
    }
    void cleanup() { m_environment.reset(); }

    void availabilityFollowsTheStoreAndTheEnvironment() {
        m_environment->set("OPENAI_API_KEY", "sk-from-environment");
        m_keyring->items.insert(item(CredentialKind::deepSeek), "sk-deep\nseek"); // could never be sent
        auto settings = model();
        QVERIFY(settings->hasOpenAIKey());
        QVERIFY(!settings->hasDeepSeekKey());
        QCOMPARE(settings->statusMessage(), QString());
        QVERIFY(!settings->isTesting());
        QCOMPARE(settings->openAIDraft(), QString());
    }

    void savingTrimsStoresAndClearsTheDraft() {
        auto settings = model();
        QSignalSpy flag(settings.get(), &CredentialSettingsModel::hasOpenAIKeyChanged);
        settings->setOpenAIDraft(" \n sk-1 2\t ");
        settings->saveOpenAIKey();
        QCOMPARE(stored(CredentialKind::openAI), "sk-1 2");
        QCOMPARE(m_keyring->stores, 1);
        QCOMPARE(settings->statusMessage(), "密钥已安全保存到 Keychain。");
        QCOMPARE(settings->openAIDraft(), QString());
        QVERIFY(settings->hasOpenAIKey());
        QCOMPARE(flag.count(), 1);

        settings->setDeepSeekDraft("sk-deep");
        settings->saveDeepSeekKey();
        QCOMPARE(stored(CredentialKind::deepSeek), "sk-deep");
        QVERIFY(settings->hasDeepSeekKey());
    }

    void blankOrUnsendableDraftsAreRefused() {
        m_keyring->items.insert(item(CredentialKind::openAI), "sk-old");
        auto settings = model();
        // Which keys are usable is the key store's table; a blank and an unsendable draft suffice.
        for (const QString& draft : {QStringLiteral("\n\t"), QStringLiteral("sk-1\r\nX-Injected: 1")}) {
            settings->setOpenAIDraft(draft);
            settings->saveOpenAIKey();
            QCOMPARE(settings->statusMessage(), "请输入有效密钥。");
            QCOMPARE(settings->openAIDraft(), QString());
        }
        QCOMPARE(m_keyring->stores, 0);
        QCOMPARE(stored(CredentialKind::openAI), "sk-old");
    }

    void failedSavesAndRemovalsShowTheErrorAndRefresh() {
        auto settings = model();
        m_keyring->storeStatus = -25293;
        settings->setDeepSeekDraft("sk-new");
        const int lookupsBefore = m_keyring->lookups;
        settings->saveDeepSeekKey();
        QCOMPARE(settings->statusMessage(), "Keychain 操作失败（-25293）。");
        QCOMPARE(settings->deepSeekDraft(), QString()); // cleared whatever the outcome
        QVERIFY(m_keyring->lookups > lookupsBefore);
        QVERIFY(!settings->hasDeepSeekKey());

        m_keyring->clearStatus = 2;
        settings->remove(CredentialKind::deepSeek);
        QCOMPARE(settings->statusMessage(), "Keychain 操作失败（2）。");
    }

    void removingReportsDeletionEvenOfAMissingKey() {
        m_keyring->items.insert(item(CredentialKind::openAI), "sk-1");
        auto settings = model();
        QVERIFY(settings->hasOpenAIKey());
        settings->remove(CredentialKind::openAI);
        QCOMPARE(settings->statusMessage(), "已删除密钥。");
        QVERIFY(!settings->hasOpenAIKey());
        QSignalSpy status(settings.get(), &CredentialSettingsModel::statusMessageChanged);
        settings->remove(CredentialKind::openAI);
        QCOMPARE(settings->statusMessage(), "已删除密钥。");
        QCOMPARE(status.count(), 1); // shown again
        QCOMPARE(m_keyring->clears, 2);
    }

    void connectionMessages_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        const QString tail = QStringLiteral("）。请检查当前网络、VPN 或系统代理后重试。");
        QTest::newRow("timed out") << -1001 << "无法连接 DeepSeek（-1001" + tail;
        QTest::newRow("cannot connect") << -1004 << "无法连接 DeepSeek（-1004" + tail;
        QTest::newRow("host not found keeps its own text") << -1003 << "找不到服务器。";
        QTest::newRow("bad server response") << network::badServerResponse << "网络请求失败（-1011）。";
    }
    void connectionMessages() {
        QFETCH(int, code);
        QFETCH(QString, expected);
        QCOMPARE(CredentialSettingsModel::connectionMessage(std::make_exception_ptr(NetworkError(code)),
                                                            "DeepSeek"),
                 expected);
    }

    void otherErrorsKeepTheirDescriptions() {
        QCOMPARE(CredentialSettingsModel::connectionMessage(
                     std::make_exception_ptr(RefinementProviderError::httpStatus(404)), "OpenAI"),
                 "文字整理服务请求失败（HTTP 404）。");
        QCOMPARE(CredentialSettingsModel::connectionMessage(
                     std::make_exception_ptr(
                         DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey)),
                     "OpenAI"),
                 "请先在设置中保存 OpenAI API Key，或开启 Mock 模式。");
    }

    void modelNamesAreOnePathSegment_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "https://api.example.com"
                               << "gpt-live-transcribe"
                               << "https://api.example.com/v1/models/gpt-live-transcribe";
        QTest::newRow("climbing") << "https://api.example.com"
                                  << "../x"
                                  << "https://api.example.com/v1/models/..%2Fx";
        QTest::newRow("parent alone") << "https://api.example.com"
                                      << ".."
                                      << "";
        QTest::newRow("query") << "https://api.example.com"
                               << "a?b=1"
                               << "https://api.example.com/v1/models/a%3Fb%3D1";
        QTest::newRow("fragment and space") << "https://api.example.com"
                                            << "a#b c"
                                            << "https://api.example.com/v1/models/a%23b%20c";
        QTest::newRow("percent") << "https://api.example.com"
                                 << "a%2Fb"
                                 << "https://api.example.com/v1/models/a%252Fb";
        QTest::newRow("base with a path") << "http://127.0.0.1:8080/proxy/"
                                          << "m"
                                          << "http://127.0.0.1:8080/proxy/v1/models/m";
    }
    void modelNamesAreOnePathSegment() {
        QFETCH(QString, base);
        QFETCH(QString, model);
        QFETCH(QString, expected);
        const QUrl url = CredentialSettingsModel::modelCheckUrl(QUrl(base), model);
        QCOMPARE(url.isValid() ? QString::fromLatin1(url.toEncoded()) : QString(), expected);
    }
};

QTEST_GUILESS_MAIN(CredentialSettingsModelTest)
#include "tst_CredentialSettingsModel.moc"

#include "AsyncTest.h"
#include "BackgroundTask.h"
#include "FakeServices.h"
#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "credentials/CredentialSettingsModel.h"
#include "refinement/ProviderConfiguration.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const QString key = QStringLiteral("sk-test-connection");
const QString unreachable = QStringLiteral("）。请检查当前网络、VPN 或系统代理后重试。");

} // namespace

class ConnectionTestsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fake::FakeServices> m_server;
    std::unique_ptr<QNetworkAccessManager> m_session;
    std::unique_ptr<test::TestEnvironment> m_environment;
    std::shared_ptr<SecretBackendFake> m_keyring;

    void store(CredentialKind kind, const QString& value) {
        m_keyring->items.insert({KeychainStore::defaultService, keychainAccount(kind)}, value.toUtf8());
    }

    std::unique_ptr<CredentialSettingsModel> model(CredentialSettingsModel::Timing timing = {},
                                                   QUrl base = {}) {
        if (base.isEmpty()) base = m_server->baseUrl();
        const ProviderConfiguration configuration([base](const char*) { return base.toString(); },
                                                  [](const QString&) {});
        return std::make_unique<CredentialSettingsModel>(KeychainStore(m_keyring), m_session.get(),
                                                         configuration, timing);
    }
    QList<QByteArray> targets() const {
        QList<QByteArray> list;
        for (const auto& request : m_server->requests)
            list << request.method + ' ' + request.target;
        return list;
    }

private slots:
    void init() {
        m_server = std::make_unique<fake::FakeServices>();
        QVERIFY(m_server->listen());
        m_server->script.apiKey = key;
        m_session = std::make_unique<QNetworkAccessManager>();
        m_environment = std::make_unique<test::TestEnvironment>();
        m_environment->unset("OPENAI_API_KEY");
        m_environment->unset("DEEPSEEK_API_KEY");
        m_keyring = std::make_shared<SecretBackendFake>();
        store(CredentialKind::openAI, key);
        store(CredentialKind::deepSeek, key);
    }
    void cleanup() {
        m_session.reset();
        m_server.reset();
        m_environment.reset();
    }

    void openAITestChecksBothModelsInOrder() {
        auto settings = model();
        QSignalSpy testing(settings.get(), &CredentialSettingsModel::isTestingChanged);
        test::run(settings->testOpenAI("gpt-live-transcribe", " gpt-5.6-terra\n"));
        QCOMPARE(settings->statusMessage(), "OpenAI Key 和两个模型均可访问。");
        QVERIFY(!settings->isTesting());
        QCOMPARE(testing.count(), 2);
        QCOMPARE(targets(),
                 (QList<QByteArray>{"GET /v1/models/gpt-live-transcribe", "GET /v1/models/gpt-5.6-terra"}));
        for (const auto& request : m_server->requests) {
            QCOMPARE(request.headers.value("authorization"), ("Bearer " + key).toUtf8());
            QVERIFY(!request.headers.contains("content-type"));
            QVERIFY(request.body.isEmpty());
        }
    }

    void anUnknownTranscriptionModelStopsTheTest() {
        auto settings = model();
        test::run(settings->testOpenAI("no-such-model", "gpt-5.6-terra"));
        QCOMPARE(settings->statusMessage(), "文字整理服务请求失败（HTTP 404）。");
        QCOMPARE(targets(), QList<QByteArray>{"GET /v1/models/no-such-model"});
    }

    void aBlankRefinementModelFailsAfterTheFirstCheck() {
        auto settings = model();
        test::run(settings->testOpenAI("gpt-live-transcribe", " \n"));
        QCOMPARE(settings->statusMessage(), "文字整理服务返回了无法解析的数据。");
        QCOMPARE(m_server->requests.size(), 1);
    }

    void aSilentServerGivesTheTimeoutMessage() {
        m_server->script.models.hang = true;
        m_server->script.chat.hang = true;
        auto settings = model({150ms, 150ms});
        test::run(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        QCOMPARE(settings->statusMessage(), "无法连接 OpenAI（-1001" + unreachable);
        QCOMPARE(m_server->requests.size(), 1);
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        QCOMPARE(settings->statusMessage(), "无法连接 DeepSeek（-1001" + unreachable);
        QVERIFY(!settings->isTesting());
    }

    void nobodyListeningGivesTheConnectMessage() {
        QUrl base = m_server->baseUrl();
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            base.setPort(probe.serverPort());
        }
        auto settings = model({}, base);
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        QCOMPARE(settings->statusMessage(), "无法连接 DeepSeek（-1004" + unreachable);
        test::run(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        QCOMPARE(settings->statusMessage(), "无法连接 OpenAI（-1004" + unreachable);
    }

    void missingKeysNeedNoNetwork() {
        m_keyring->items.clear();
        m_environment->set("DEEPSEEK_API_KEY", "sk\r\nX-Injected: 1");
        auto settings = model();
        test::run(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        QCOMPARE(settings->statusMessage(), "请先在设置中保存 OpenAI API Key，或开启 Mock 模式。");
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        QCOMPARE(settings->statusMessage(), "请先在设置中保存 DeepSeek API Key，或开启 Mock 模式。");
        QVERIFY(m_server->requests.isEmpty());
        QCOMPARE(m_server->openConnections(), 0);
    }

    void deepSeekTestMakesOneRealRefinement() {
        auto settings = model();
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        QCOMPARE(settings->statusMessage(), "DeepSeek 连接正常。");
        QCOMPARE(targets(), QList<QByteArray>{"POST /chat/completions"});
        QCOMPARE(QJsonDocument::fromJson(m_server->requests[0].body)["model"].toString(), "deepseek-v4-flash");
    }

    void deepSeekRefusalShowsTheStatus() {
        store(CredentialKind::deepSeek, "sk-wrong");
        auto settings = model();
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        QCOMPARE(settings->statusMessage(), "文字整理服务请求失败（HTTP 401）。");
    }

    void aSecondTestWhileOneRunsChangesNothing() {
        m_server->script.models.delayMs = 300;
        auto settings = model();
        test::BackgroundTask<void> first(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        QVERIFY(settings->isTesting());
        QSignalSpy status(settings.get(), &CredentialSettingsModel::statusMessageChanged);
        test::run(settings->testDeepSeek("deepseek-v4-flash"));
        test::run(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        QCOMPARE(status.count(), 0);
        QVERIFY(settings->isTesting());
        QTRY_VERIFY_WITH_TIMEOUT(first.done(), 5000);
        QCOMPARE(settings->statusMessage(), "OpenAI Key 和两个模型均可访问。");
        QCOMPARE(targets(),
                 (QList<QByteArray>{"GET /v1/models/gpt-live-transcribe", "GET /v1/models/gpt-5.6-terra"}));
    }

    void closingTheSettingsDuringATestIsHarmless() {
        m_server->script.models.delayMs = 100;
        auto settings = model();
        test::BackgroundTask<void> running(settings->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra"));
        settings.reset();
        QTRY_VERIFY_WITH_TIMEOUT(running.done(), 5000);
        QVERIFY(running.succeeded());
    }
};

QTEST_GUILESS_MAIN(ConnectionTestsTest)
#include "tst_ConnectionTests.moc"

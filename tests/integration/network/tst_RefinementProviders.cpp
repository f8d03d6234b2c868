#include "AsyncTest.h"
#include "BackgroundTask.h"
#include "FakeServices.h"
#include "TestEnvironment.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/RefinementProviderError.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const QString key = QStringLiteral("sk-test-refine");
const RefinementRequest request{QStringLiteral("我有两个安排"), InputMode::smartDictation,
                                QStringLiteral("（无个人词典）")};

QString failureOf(QCoro::Task<QString>&& task) {
    try {
        return QStringLiteral("text:") + test::run(std::move(task));
    } catch (const Error& error) {
        return error.description();
    }
}

} // namespace

class RefinementProvidersTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fake::FakeServices> m_server;
    std::unique_ptr<QNetworkAccessManager> m_session;

    // "openai" or "deepseek", against the fake server unless another base is given.
    std::unique_ptr<TextRefinementProvider> provider(const QString& kind, const QString& apiKey = key,
                                                     std::chrono::milliseconds timeout = 20s, QUrl base = {},
                                                     const QString& bundle = {}) {
        if (base.isEmpty()) base = m_server->baseUrl();
        if (kind == "openai") {
            base.setPath("/v1/responses");
            return std::make_unique<OpenAITextRefinementProvider>(apiKey, "gpt-5.6-terra", base,
                                                                  m_session.get(), timeout, bundle);
        }
        base.setPath("/chat/completions");
        return std::make_unique<DeepSeekRefinementProvider>(apiKey, "deepseek-v4-flash", base,
                                                            m_session.get(), timeout, bundle);
    }
    fake::HttpScript& endpointScript(const QString& kind) {
        return kind == "openai" ? m_server->script.responses : m_server->script.chat;
    }

private slots:
    void init() {
        m_server = std::make_unique<fake::FakeServices>();
        QVERIFY(m_server->listen());
        m_server->script.apiKey = key;
        m_session = std::make_unique<QNetworkAccessManager>();
    }
    void cleanup() {
        m_session.reset();
        m_server.reset();
    }

    void responsesRequestIsSentAsBuiltAndAnswered() {
        auto refiner = provider("openai");
        QCOMPARE(test::run(refiner->refine(request)), "我有两个安排"); // the fake echoes the transcript
        QCOMPARE(m_server->requests.size(), 1);
        const fake::RecordedRequest& sent = m_server->requests[0];
        QCOMPARE(sent.method, "POST");
        QCOMPARE(sent.target, "/v1/responses");
        QCOMPARE(sent.headers.value("authorization"), ("Bearer " + key).toUtf8());
        QCOMPARE(sent.headers.value("content-type"), "application/json");
    }

    void chatRequestIsSentAsBuiltAndAnswered() {
        m_server->script.refinedText = QStringLiteral("\n 1. 第一项 \n");
        auto refiner = provider("deepseek");
        const RefinementRequest translation{"text", InputMode::translateToEnglish, "glossary"};
        QCOMPARE(test::run(refiner->refine(translation)), "1. 第一项");
        QCOMPARE(m_server->requests.size(), 1);
        const fake::RecordedRequest& sent = m_server->requests[0];
        QCOMPARE(sent.method, "POST");
        QCOMPARE(sent.target, "/chat/completions");
        QCOMPARE(sent.headers.value("authorization"), ("Bearer " + key).toUtf8());
        QCOMPARE(sent.headers.value("content-type"), "application/json");
    }

    void answersBecomeTheNamedErrors_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        for (const QString kind : {"openai", "deepseek"}) {
            const auto row = [&](const char* name) { return &QTest::newRow(qPrintable(kind + ": " + name)); };
            *row("401 with an error body") << kind << 401 << QByteArray(R"({"error":{"message":"bad key"}})")
                                           << "文字整理服务请求失败（HTTP 401）。";
            *row("302 is not followed")
                << kind << 302 << QByteArray() << "文字整理服务请求失败（HTTP 302）。";
        }
    }
    void answersBecomeTheNamedErrors() {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        endpointScript(kind).status = status;
        endpointScript(kind).body = body;
        QCOMPARE(failureOf(provider(kind)->refine(request)), expected);
    }

    void transportFailuresAreNetworkErrors_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("expected");
        for (const QString kind : {"openai", "deepseek"}) {
            const auto row = [&](const char* name) { return &QTest::newRow(qPrintable(kind + ": " + name)); };
            *row("silent server") << kind << "hang"
                                  << "请求超时。";
            *row("slow server") << kind << "slow"
                                << "请求超时。";
            *row("truncated body") << kind << "truncated"
                                   << "网络连接已中断。";
            *row("nobody listening") << kind << "closed port"
                                     << "无法连接服务器。";
            *row("tls to a plain port") << kind << "https"
                                        << "无法建立安全连接。";
        }
    }
    void transportFailuresAreNetworkErrors() {
        QFETCH(QString, kind);
        QFETCH(QString, situation);
        QFETCH(QString, expected);
        QUrl base = m_server->baseUrl();
        if (situation == "hang") endpointScript(kind).hang = true;
        if (situation == "slow") endpointScript(kind).delayMs = 2000;
        if (situation == "truncated") endpointScript(kind).dropAfterBytes = 5;
        if (situation == "https") base.setScheme("https");
        if (situation == "closed port") {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            base.setPort(probe.serverPort());
        }
        QCOMPARE(failureOf(provider(kind, key, 200ms, base)->refine(request)), expected);
    }

    void aNonHttpAnswerIsAConnectionFailure() {
        QTcpServer garbage;
        QVERIFY(garbage.listen(QHostAddress::LocalHost));
        connect(&garbage, &QTcpServer::newConnection, this, [&garbage] {
            QTcpSocket* socket = garbage.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write("SSH-2.0-OpenSSH_9.2\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
        QUrl base("http://127.0.0.1");
        base.setPort(garbage.serverPort());
        const QString outcome = failureOf(provider("deepseek", key, 2s, base)->refine(request));
        // Qt gives up on such a peer as on one that hung up mid-answer.
        QCOMPARE(outcome, "网络连接已中断。");
    }

    void cancelAbortsTheRequest() {
        for (const QString kind : {"openai", "deepseek"}) {
            endpointScript(kind).hang = true;
            auto refiner = provider(kind);
            test::BackgroundTask<QString> refining(refiner->refine(request));
            QTRY_COMPARE_WITH_TIMEOUT(m_server->requests.size(), kind == "openai" ? 1 : 2, 5000);
            refiner->cancel();
            QTRY_VERIFY_WITH_TIMEOUT(refining.done(), 5000);
            QVERIFY(refining.error<CancellationError>());
            QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 5000); // the socket went with the reply
        }
    }

    void unusableKeysSendNothing() {
        for (const QString kind : {"openai", "deepseek"}) {
            // Which keys are usable is the key store's table; here only that none is sent.
            QCOMPARE(failureOf(provider(kind, QStringLiteral("sk-1\r\nX-Injected: yes"))->refine(request)),
                     "请先在设置中保存文字整理服务所需的 API Key。");
        }
        QCOMPARE(m_server->openConnections(), 0);
        QVERIFY(m_server->requests.isEmpty());
        // Spaces are not control characters: such a key is sent as it is, and the server judges it.
        QCOMPARE(failureOf(provider("openai", " " + key)->refine(request)),
                 "文字整理服务请求失败（HTTP 401）。");
    }

    void aMissingPromptSendsNothing() {
        test::TestEnvironment environment;
        for (const QString kind : {"openai", "deepseek"})
            QCOMPARE(
                failureOf(
                    provider(kind, key, 20s, {}, environment.root() + "/Missing.bundle")->refine(request)),
                "缺少提示词资源：smart_dictation_zh");
        QVERIFY(m_server->requests.isEmpty());
    }
};

QTEST_GUILESS_MAIN(RefinementProvidersTest)
#include "tst_RefinementProviders.moc"

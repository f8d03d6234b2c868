#include "AsyncTest.h"
#include "FakeServicesProcess.h"
#include "TestEnvironment.h"
#include "network/HttpExchange.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

// The program a person points Murmelo at: started from the command line with a script file,
// re-scripted and read back over its control paths.
class FakeServicesToolTest : public QObject {
    Q_OBJECT

    static QCoro::Task<QByteArray> control(QNetworkAccessManager* session, QUrl url, QByteArray verb,
                                           QByteArray body) {
        QNetworkRequest request(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        const auto response = co_await network::exchange(session, request, verb, body, 5s, nullptr);
        if (response.status != 200) throw RefinementProviderError::httpStatus(response.status);
        co_return response.body;
    }

private slots:
    void scriptFileControlPathsAndLog() {
        test::TestEnvironment environment;
        const QString scriptPath = environment.root() + "/script.json";
        test::writeFile(
            scriptPath,
            R"({"apiKey":"sk-person","refinedText":"来自脚本","realtime":{"transcript":"你好"}})");
        test::FakeServicesProcess services(scriptPath);
        QVERIFY(services.isRunning());
        QNetworkAccessManager session;

        QUrl chat = services.baseUrl();
        chat.setPath("/chat/completions");
        DeepSeekRefinementProvider refiner("sk-person", "deepseek-v4-flash", chat, &session);
        QCOMPARE(test::run(refiner.refine({"原文", InputMode::smartDictation, "（无个人词典）"})),
                 "来自脚本");

        QUrl realtime = services.baseUrl();
        realtime.setScheme("ws");
        realtime.setPath("/v1/realtime");
        OpenAIRealtimeTranscriptionProvider transcriber("sk-person", "gpt-live-transcribe", realtime);
        test::run(transcriber.start({}, {}));
        QCOMPARE(test::run(transcriber.finish()).text, "你好");

        // A new script replaces the old one and clears the record.
        QUrl scriptUrl = services.baseUrl();
        scriptUrl.setPath("/_fake/script");
        test::run(control(&session, scriptUrl, "POST", R"({"apiKey":"sk-person","chat":{"status":503}})"));
        const auto refused = test::runExpectingError<RefinementProviderError>(
            refiner.refine({"原文", InputMode::smartDictation, "（无个人词典）"}));
        QVERIFY(refused);
        QCOMPARE(refused->status(), 503);
        QVERIFY(test::runExpectingError<RefinementProviderError>(
            control(&session, scriptUrl, "POST", R"({"chat":5})")));

        QUrl logUrl = services.baseUrl();
        logUrl.setPath("/_fake/log");
        const QJsonObject log =
            QJsonDocument::fromJson(test::run(control(&session, logUrl, "GET", {}))).object();
        const QJsonArray requests = log["requests"].toArray();
        QCOMPARE(requests.size(), 1); // the refused refinement; the control calls are not recorded
        QCOMPARE(requests[0].toObject()["target"].toString(), "/chat/completions");
        QCOMPARE(requests[0].toObject()["headers"].toObject()["authorization"].toString(),
                 "Bearer sk-person");
    }

    void badCommandLinesFailWithStatusTwo() {
        test::TestEnvironment environment;
        test::writeFile(environment.root() + "/bad.json", "[1]");
        for (const QStringList& arguments :
             {QStringList{"--script", environment.root() + "/missing.json"},
              QStringList{"--script", environment.root() + "/bad.json"}, QStringList{"--port", "70000"}}) {
            QProcess process;
            process.start(test::FakeServicesProcess::programPath(), arguments);
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 2);
            QVERIFY(process.readAllStandardOutput().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(FakeServicesToolTest)
#include "tst_FakeServicesTool.moc"

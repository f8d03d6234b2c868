#include "TestEnvironment.h"
#include "common/Error.h"
#include "network/TransportErrors.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/PromptLibrary.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace murmelo;
using namespace murmelo::network;
using Provider = OpenAIRealtimeTranscriptionProvider;

namespace {

// The description of the error parsing fails with, or the parsed text itself.
template <typename Parse> QString outcome(Parse parse, const QByteArray& body) {
    try {
        return QStringLiteral("text:") + parse(body);
    } catch (const Error& error) {
        return error.description();
    }
}

} // namespace

// What goes over the wire and comes back, without a server: transport error codes, the realtime
// session's messages, the refinement payloads and the parsing of their answers.
class NetworkMessagesTest : public QObject {
    Q_OBJECT
private slots:
    void replyErrorsMapToUrlLoadingCodes_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("code");
        QTest::newRow("refused") << int(QNetworkReply::ConnectionRefusedError) << -1004;
        QTest::newRow("closed") << int(QNetworkReply::RemoteHostClosedError) << -1005;
        QTest::newRow("no host") << int(QNetworkReply::HostNotFoundError) << -1003;
        QTest::newRow("timeout") << int(QNetworkReply::TimeoutError) << -1001;
        QTest::newRow("tls") << int(QNetworkReply::SslHandshakeFailedError) << -1200;
        QTest::newRow("offline") << int(QNetworkReply::TemporaryNetworkFailureError) << -1009;
        QTest::newRow("proxy refused") << int(QNetworkReply::ProxyConnectionRefusedError) << -1004;
        QTest::newRow("other") << int(QNetworkReply::UnknownNetworkError) << -1;
    }
    void replyErrorsMapToUrlLoadingCodes() {
        QFETCH(int, error);
        QFETCH(int, code);
        QCOMPARE(networkErrorFor(QNetworkReply::NetworkError(error)).code(), code);
        QVERIFY(isTransportFailure(QNetworkReply::NetworkError(error)));
    }

    void socketErrorsMapToUrlLoadingCodes() {
        QCOMPARE(networkErrorFor(QAbstractSocket::ConnectionRefusedError, "Connection refused").code(),
                 -1004);
        // How Qt reports an upgrade the server answered with a status.
        QCOMPARE(networkErrorFor(
                     QAbstractSocket::ConnectionRefusedError,
                     "QWebSocketPrivate::processHandshake: Unhandled http status code: 401 (Unauthorized).")
                     .code(),
                 badServerResponse);
        QCOMPARE(networkErrorFor(QAbstractSocket::RemoteHostClosedError).code(), -1005);
        QCOMPARE(networkErrorFor(QAbstractSocket::HostNotFoundError).code(), -1003);
        QCOMPARE(networkErrorFor(QAbstractSocket::SocketTimeoutError).code(), -1001);
        QCOMPARE(networkErrorFor(QAbstractSocket::SslHandshakeFailedError).code(), -1200);
        QCOMPARE(networkErrorFor(QAbstractSocket::SslHandshakeFailedError).description(),
                 "无法建立安全连接。");
        QCOMPARE(NetworkError(badServerResponse).description(), "网络请求失败（-1011）。");
    }

    void keywordsAreCleanedAndEmptyOnesDropped() {
        QCOMPARE(Provider::cleanedKeywords({"<abc>", " a\nb ", "", "\r"}), (QStringList{"abc", "a b"}));
        QCOMPARE(Provider::cleanedKeywords({"<<>>", "x\r\ny", "\t中文 "}), (QStringList{"x  y", "中文"}));
    }

    void liveModelCarriesTheContext() {
        const QJsonObject update =
            Provider::sessionUpdate({"prompt", {}, {"zh-cn", "en"}}, "gpt-live-transcribe");
        const QJsonObject transcription = update["session"]["audio"]["input"]["transcription"].toObject();
        QCOMPARE(transcription.keys(), (QStringList{"delay", "keywords", "languages", "model", "prompt"}));
        QCOMPARE(transcription["keywords"].toArray(), QJsonArray{}); // present even when empty
        QCOMPARE(transcription["languages"].toArray(), (QJsonArray{"zh-cn", "en"}));
        QCOMPARE(transcription["delay"].toString(), "medium");
        QVERIFY(update["session"]["audio"]["input"].toObject().contains("turn_detection"));
        QVERIFY(update["session"]["audio"]["input"]["turn_detection"].isNull());
    }

    void otherModelsCarryTheModelAlone() {
        for (const QString model : {"gpt-live-transcribe-2", "GPT-LIVE-TRANSCRIBE", ""}) {
            const QJsonObject update = Provider::sessionUpdate({"prompt", {"k"}, {"en"}}, model);
            QCOMPARE(update["session"]["audio"]["input"]["transcription"].toObject(),
                     (QJsonObject{{"model", model}}));
        }
    }

    void connectionUrlHasTheOneModelItem_data() {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default") << "wss://api.example.com/v1/realtime?model=gpt-live-transcribe"
                                 << "gpt-live-transcribe"
                                 << "wss://api.example.com/v1/realtime?model=gpt-live-transcribe";
        QTest::newRow("other items dropped") << "ws://127.0.0.1:9/v1/realtime?a=1&model=x&b=2#frag"
                                             << "m"
                                             << "ws://127.0.0.1:9/v1/realtime?model=m";
        QTest::newRow("delimiters stay inside the value") << "ws://h/v1/realtime"
                                                          << "a&b=c#d+e f"
                                                          << "ws://h/v1/realtime?model=a%26b%3Dc%23d%2Be%20f";
        QTest::newRow("not a url") << "no scheme here"
                                   << "m"
                                   << "";
        QTest::newRow("no host") << "ws:///v1/realtime"
                                 << "m"
                                 << "";
    }
    void connectionUrlHasTheOneModelItem() {
        QFETCH(QString, endpoint);
        QFETCH(QString, model);
        QFETCH(QString, expected);
        const QUrl url = Provider::connectionUrl(QUrl(endpoint), model);
        QCOMPARE(url.isValid() ? QString::fromLatin1(url.toEncoded()) : QString(), expected);
    }

    void appendMessageIsTheCompactJson_data() {
        QTest::addColumn<int>("length");
        for (int length : {0, 1, 2, 3, 4, 5, 1024, 4800})
            QTest::addRow("%d bytes", length) << length; // every padding case
    }
    void appendMessageIsTheCompactJson() {
        QFETCH(int, length);
        QByteArray chunk;
        for (int i = 0; i < length; ++i)
            chunk.append(char(i * 13 + 255));
        const QString message = Provider::audioAppendMessage(chunk);
        const QJsonObject expected{{"type", "input_audio_buffer.append"},
                                   {"audio", QString::fromLatin1(chunk.toBase64())}};
        QJsonParseError error;
        QCOMPARE(QJsonDocument::fromJson(message.toUtf8(), &error).object(), expected);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(!message.contains(' ') && !message.contains('\n'));
    }

    void responsesPayloadHasExactlyItsKeys() {
        const RefinementRequest request{"我有两个安排", InputMode::smartDictation, "Murmelo => Murmelo"};
        const QJsonObject gpt5 = OpenAITextRefinementProvider::makePayload(request, "gpt-5.6-terra");
        QCOMPARE(gpt5.keys(),
                 (QStringList{"input", "instructions", "max_output_tokens", "model", "reasoning", "store"}));
        QCOMPARE(gpt5["model"].toString(), "gpt-5.6-terra");
        QCOMPARE(gpt5["instructions"].toString(), PromptLibrary::systemPrompt(InputMode::smartDictation));
        QCOMPARE(gpt5["input"].toString(), "个人词典：\nMurmelo => Murmelo\n\n原始语音转写：\n我有两个安排");
        QCOMPARE(gpt5["max_output_tokens"], QJsonValue(4096));
        QCOMPARE(gpt5["store"], QJsonValue(false));
        QCOMPARE(gpt5["reasoning"].toObject(), (QJsonObject{{"effort", "none"}}));
        QVERIFY(QJsonDocument(gpt5).toJson(QJsonDocument::Compact).contains("\"max_output_tokens\":4096"));

        for (const QString model : {"gpt-4.1", "GPT-5", "o3-gpt-5", "gpt5"}) {
            const QJsonObject other = OpenAITextRefinementProvider::makePayload(request, model);
            QCOMPARE(other.keys(),
                     (QStringList{"input", "instructions", "max_output_tokens", "model", "store"}));
        }
        const QJsonObject translation =
            OpenAITextRefinementProvider::makePayload({"x", InputMode::translateToEnglish, "g"}, "gpt-5");
        QCOMPARE(translation["instructions"].toString(),
                 PromptLibrary::systemPrompt(InputMode::translateToEnglish));
        QVERIFY(translation.contains("reasoning"));
    }

    void responsesPayloadFailsWithoutThePrompt() {
        test::TestEnvironment environment;
        try {
            OpenAITextRefinementProvider::makePayload({"x", InputMode::smartDictation, ""}, "gpt-5",
                                                      environment.root() + "/Missing.bundle");
            QFAIL("no error");
        } catch (const PromptLibraryError& error) {
            QCOMPARE(error.description(), "缺少提示词资源：smart_dictation_zh");
        }
    }

    void chatBodyHasExactlyItsSixKeys() {
        const QJsonObject body = DeepSeekRefinementProvider::makeBody("any-model", "SYSTEM", "USER");
        QCOMPARE(body.keys(),
                 (QStringList{"max_tokens", "messages", "model", "stream", "temperature", "thinking"}));
        QCOMPARE(body["model"].toString(), "any-model");
        QCOMPARE(body["messages"].toArray(),
                 (QJsonArray{QJsonObject{{"role", "system"}, {"content", "SYSTEM"}},
                             QJsonObject{{"role", "user"}, {"content", "USER"}}}));
        QCOMPARE(body["thinking"].toObject(), (QJsonObject{{"type", "disabled"}}));
        QCOMPARE(body["temperature"].toDouble(), 0.2);
        QCOMPARE(body["max_tokens"], QJsonValue(4096));
        QCOMPARE(body["stream"], QJsonValue(false));
        const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
        QVERIFY(bytes.contains("\"temperature\":0.2") && bytes.contains("\"max_tokens\":4096"));
    }

    // Both parsers' cases live in refinement_bodies.json: a body as JSON, or as raw text when it is not.
    void bodiesParse_data() {
        QTest::addColumn<QString>("parser");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QFile file(QFINDTESTDATA("network/refinement_bodies.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonArray cases = QJsonDocument::fromJson(file.readAll()).array();
        QVERIFY(!cases.isEmpty());
        for (const QJsonValue& each : cases) {
            const QJsonObject row = each.toObject();
            const QJsonValue json = row["json"];
            const QByteArray body = json.isUndefined() ? row["raw"].toString().toUtf8()
                                    : json.isArray()   ? QJsonDocument(json.toArray()).toJson()
                                                       : QJsonDocument(json.toObject()).toJson();
            QTest::newRow(qPrintable(row["parser"].toString() + ": " + row["name"].toString()))
                << row["parser"].toString() << body << row["expected"].toString();
        }
    }
    void bodiesParse() {
        QFETCH(QString, parser);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        if (parser == "chat")
            QCOMPARE(outcome(&DeepSeekRefinementProvider::parseResponse, body), expected);
        else
            QCOMPARE(outcome(&OpenAITextRefinementProvider::parseResponse, body), expected);
    }
};

QTEST_GUILESS_MAIN(NetworkMessagesTest)
#include "tst_NetworkMessages.moc"

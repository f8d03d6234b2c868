// What goes over the wire and comes back, without a server: transport error codes, the realtime
// session's messages, the refinement request bodies and the parsing of their answers.
#include "TestEnvironment.h"
#include "network/TransportErrors.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using namespace murmelo;
using Provider = OpenAIRealtimeTranscriptionProvider;

namespace {

// An enumerator by its name; a misspelt one fails the row instead of standing for some other value.
template <typename Enum> Enum named(const QJsonValue& name) {
    const int value = QMetaEnum::fromType<Enum>().keyToValue(name.toString().toLatin1());
    return value >= 0 ? Enum(value) : throw std::invalid_argument("no such enumerator");
}

// A row's expected outcome: "text:..." for a parsed answer, else the error it names.
QString expectedOutcome(const QString& expected) {
    using Refinement = RefinementProviderError;
    if (expected.startsWith("server:")) return Refinement::server(expected.mid(7)).description();
    const QHash<QString, QString> errors{
        {"json", JsonParseError().description()},
        {"empty", Refinement(Refinement::Case::emptyResult).description()},
        {"invalid", Refinement(Refinement::Case::invalidResponse).description()}};
    return errors.value(expected, expected);
}

} // namespace

class NetworkMessagesTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_bundle; // prompts with known texts

private slots:
    void initTestCase() {
        test::writeFile(m_bundle.path() + "/Prompts/smart_dictation_zh.md", "SMART");
        test::writeFile(m_bundle.path() + "/Prompts/translate_to_english.md", "TRANSLATE");
    }

    void transportFailuresGetUrlLoadingCodes_data() {
        test::rowsFromJson(QFINDTESTDATA("network/transport_errors.json"));
    }
    void transportFailuresGetUrlLoadingCodes() {
        QFETCH(const QJsonObject, row);
        const NetworkError error =
            row.contains("reply")
                ? network::networkErrorFor(named<QNetworkReply::NetworkError>(row["reply"]))
                : network::networkErrorFor(named<QAbstractSocket::SocketError>(row["socket"]),
                                           row["detail"].toString());
        QCOMPARE(error.code(), row["code"].toInt());
    }

    void sessionUpdateConfiguresTheTranscription_data() {
        test::rowsFromJson(QFINDTESTDATA("network/session_updates.json"));
    }
    void sessionUpdateConfiguresTheTranscription() {
        QFETCH(const QJsonObject, row);
        const auto list = [&](const char* name) { return row[name].toVariant().toStringList(); };
        const TranscriptionContext context{row["prompt"].toString(), list("keywords"), list("languages")};
        QCOMPARE(Provider::sessionUpdate(context, row["model"].toString()), row["expected"].toObject());
    }

    void connectionUrlHasTheOneModelItem_data() {
        test::rowsFromJson(QFINDTESTDATA("network/realtime_urls.json"));
    }
    void connectionUrlHasTheOneModelItem() {
        QFETCH(const QJsonObject, row);
        const QUrl url = Provider::connectionUrl(QUrl(row["endpoint"].toString()), row["model"].toString());
        QCOMPARE(url.isValid() ? QString::fromLatin1(url.toEncoded()) : QString(),
                 row["expected"].toString());
    }

    // The message is built by hand for speed; every base64 padding case must still be right.
    void audioAppendMessageCarriesTheChunkInBase64() {
        for (int length : {0, 1, 2, 3, 4, 5, 1024}) {
            QByteArray chunk;
            for (int i = 0; i < length; ++i)
                chunk.append(char(i * 13 + 255));
            const QJsonObject expected{{"type", "input_audio_buffer.append"},
                                       {"audio", QString::fromLatin1(chunk.toBase64())}};
            QCOMPARE(QJsonDocument::fromJson(Provider::audioAppendMessage(chunk).toUtf8()).object(),
                     expected);
        }
    }

    void requestBodiesHaveExactlyTheirFields_data() {
        test::rowsFromJson(QFINDTESTDATA("network/request_bodies.json"));
    }
    void requestBodiesHaveExactlyTheirFields() {
        QFETCH(const QJsonObject, row);
        const QString model = row["model"].toString();
        const RefinementRequest request{row["text"].toString(),
                                        row["translate"].toBool() ? InputMode::translateToEnglish
                                                                  : InputMode::smartDictation,
                                        row["glossary"].toString()};
        QCOMPARE(row["api"] == "chat"
                     ? DeepSeekRefinementProvider::makeBody(model, "SYSTEM", "USER")
                     : OpenAITextRefinementProvider::makePayload(request, model, m_bundle.path()),
                 row["expected"].toObject());
    }

    // A body as JSON, or as raw text when it is not JSON.
    void answerBodiesParse_data() { test::rowsFromJson(QFINDTESTDATA("network/refinement_bodies.json")); }
    void answerBodiesParse() {
        QFETCH(const QJsonObject, row);
        const QByteArray body = row.contains("raw")
                                    ? row["raw"].toString().toUtf8()
                                    : QJsonDocument::fromVariant(row["json"].toVariant()).toJson();
        QString outcome;
        try {
            outcome = "text:" + (row["parser"] == "chat" ? DeepSeekRefinementProvider::parseResponse(body)
                                                         : OpenAITextRefinementProvider::parseResponse(body));
        } catch (const Error& error) {
            outcome = error.description();
        }
        QCOMPARE(outcome, expectedOutcome(row["expected"].toString()));
    }
};

QTEST_GUILESS_MAIN(NetworkMessagesTest)
#include "tst_NetworkMessages.moc"

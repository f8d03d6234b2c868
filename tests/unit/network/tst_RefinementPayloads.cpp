#include "TestEnvironment.h"
#include "common/Error.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/PromptLibrary.h"
#include "refinement/RefinementProviderError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace murmelo;

namespace {

// The description of the error parsing fails with, or the parsed text itself.
template <typename Parse> QString outcome(Parse parse, const QByteArray& body) {
    try {
        return QStringLiteral("text:") + parse(body);
    } catch (const Error& error) {
        return error.description();
    }
}

QByteArray responsesBody(const QJsonArray& output) {
    return QJsonDocument(QJsonObject{{"output", output}}).toJson(QJsonDocument::Compact);
}

QJsonObject item(const QJsonValue& phase, const QJsonArray& content) {
    QJsonObject object{{"type", "message"}, {"content", content}};
    if (!phase.isUndefined()) object.insert("phase", phase);
    return object;
}

QJsonObject text(const QString& value) {
    return {{"type", "output_text"}, {"text", value}};
}

QByteArray chatBody(const QJsonValue& choices) {
    return QJsonDocument(QJsonObject{{"choices", choices}}).toJson(QJsonDocument::Compact);
}

QJsonObject choice(const QJsonValue& content) {
    return {{"message", QJsonObject{{"role", "assistant"}, {"content", content}}}};
}

} // namespace

class RefinementPayloadsTest : public QObject {
    Q_OBJECT
private slots:
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

    void responsesParsing_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("commentary skipped, final joined")
            << responsesBody({item("commentary", {text("不要输出这段")}),
                              item("final", {text("1. 第一项\n"), text("2. 第二项")})})
            << "text:1. 第一项\n2. 第二项";
        QTest::newRow("items without phase and of other types count")
            << responsesBody({QJsonObject{{"type", "reasoning"}, {"content", QJsonArray{text("a")}}},
                              item(QJsonValue::Undefined, {text("b")}), item(5, {text("c")})})
            << "text:abc";
        QTest::newRow("only output_text parts with string text")
            << responsesBody({item("final", {QJsonObject{{"type", "refusal"}, {"text", "no"}},
                                             QJsonObject{{"type", "output_text"}, {"text", 3}},
                                             QJsonObject{{"type", "output_text"}}, text(" 好 ")})})
            << "text:好";
        QTest::newRow("content with a stray element counts as empty")
            << responsesBody({item("final", {text("a"), "stray"}), item("final", {text("b")})}) << "text:b";
        QTest::newRow("output with a stray element counts as empty")
            << responsesBody({item("final", {text("a")}), 7}) << "文字整理服务返回了空结果。";
        QTest::newRow("trimmed including full-width space")
            << responsesBody({item("final", {text("\n\u3000结果\t\n")})}) << "text:结果";
        QTest::newRow("null error ignored")
            << QByteArray(R"({"error":null,"output":[{"content":[{"type":"output_text","text":"ok"}]}]})")
            << "text:ok";
        QTest::newRow("error without string message ignored")
            << QByteArray(
                   R"({"error":{"message":1},"output":[{"content":[{"type":"output_text","text":"ok"}]}]})")
            << "text:ok";
        QTest::newRow("error object with message")
            << QByteArray(R"({"error":{"message":"rate limited"}})") << "文字整理服务错误：rate limited";
        QTest::newRow("white space only")
            << responsesBody({item("final", {text("  \n")})}) << "文字整理服务返回了空结果。";
        QTest::newRow("no output") << QByteArray("{}") << "文字整理服务返回了空结果。";
        QTest::newRow("output of the wrong type")
            << QByteArray(R"({"output":{"content":[]}})") << "文字整理服务返回了空结果。";
        QTest::newRow("top level array") << QByteArray("[]") << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("top level string") << QByteArray("\"text\"") << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("not json") << QByteArray("<html>") << "数据格式无法解析。";
        QTest::newRow("truncated") << QByteArray(R"({"output":[{"content":[)") << "数据格式无法解析。";
        QTest::newRow("empty") << QByteArray() << "数据格式无法解析。";
        QTest::newRow("two values") << QByteArray("{} {}") << "数据格式无法解析。";
    }
    void responsesParsing() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(outcome(&OpenAITextRefinementProvider::parseResponse, body), expected);
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

    void chatParsing_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first choice trimmed")
            << chatBody(QJsonArray{choice("  第一\n"), choice("第二")}) << "text:第一";
        QTest::newRow("empty choices") << chatBody(QJsonArray{}) << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("choices not an array")
            << chatBody(QJsonObject{}) << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("a choice not an object")
            << chatBody(QJsonArray{choice("a"), 1}) << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("null content")
            << chatBody(QJsonArray{choice(QJsonValue::Null)}) << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("no message") << chatBody(QJsonArray{QJsonObject{{"text", "a"}}})
                                    << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("line feed only") << chatBody(QJsonArray{choice("\n")}) << "文字整理服务返回了空结果。";
        QTest::newRow("error object ignored")
            << QByteArray(R"({"error":{"message":"x"},"choices":[{"message":{"content":"ok"}}]})")
            << "text:ok";
        QTest::newRow("error alone") << QByteArray(R"({"error":{"message":"x"}})")
                                     << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("top level number") << QByteArray("42") << "文字整理服务返回了无法解析的数据。";
        QTest::newRow("not json") << QByteArray("Service Unavailable") << "数据格式无法解析。";
    }
    void chatParsing() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QCOMPARE(outcome(&DeepSeekRefinementProvider::parseResponse, body), expected);
    }
};

QTEST_GUILESS_MAIN(RefinementPayloadsTest)
#include "tst_RefinementPayloads.moc"

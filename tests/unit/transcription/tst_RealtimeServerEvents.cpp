// What one frame from the realtime service means, decided without a session: the cases where a
// malformed or unusual event must neither end the session wrongly nor pass bad text on.
#include "AsyncTest.h"
#include "common/Error.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QTest>

using namespace murmelo;
using Provider = OpenAIRealtimeTranscriptionProvider;
using Kind = Provider::ServerEvent::Kind;

Q_DECLARE_METATYPE(Kind)

class RealtimeServerEventsTest : public QObject {
    Q_OBJECT

private slots:
    void readsEvents_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("languages");
        const QByteArray completed = R"({"type":"conversation.item.input_audio_transcription.completed",)";
        QTest::newRow("delta") << QByteArray(R"({"type":"conversation.item.input_audio_transcription.delta",)"
                                             R"("delta":" 你好 "})")
                               << Kind::delta << " 你好 " << QStringList();
        QTest::newRow("empty delta") << QByteArray(
                                            R"({"type":"conversation.item.input_audio_transcription.delta",)"
                                            R"("delta":""})")
                                     << Kind::ignored << "" << QStringList();
        QTest::newRow("completed, trimmed, languages")
            << completed + R"("transcript":"  开会 \n","languages":[{"code":"zh"},{"code":"en"},{"x":1}]})"
            << Kind::completed << "开会" << QStringList{"zh", "en"};
        QTest::newRow("one stray language drops the list")
            << completed + R"("transcript":"开会","languages":[{"code":"zh"},"en"]})" << Kind::completed
            << "开会" << QStringList();
        QTest::newRow("blank transcript")
            << completed + R"("transcript":" \n "})" << Kind::emptyTranscript << "" << QStringList();
        QTest::newRow("transcript not a string")
            << completed + R"("transcript":7})" << Kind::emptyTranscript << "" << QStringList();
        QTest::newRow("error with message")
            << QByteArray(R"({"type":"error","error":{"message":"配额不足"}})") << Kind::serverError
            << "配额不足" << QStringList();
        QTest::newRow("error without message") << QByteArray(R"({"type":"error","error":"x"})")
                                               << Kind::serverError << "未知服务错误" << QStringList();
        QTest::newRow("other event") << QByteArray(R"({"type":"session.updated"})") << Kind::ignored << ""
                                     << QStringList();
    }
    void readsEvents() {
        QFETCH(QByteArray, frame);
        QFETCH(Kind, kind);
        QFETCH(QString, text);
        QFETCH(QStringList, languages);
        const Provider::ServerEvent event = Provider::parseServerEvent(frame);
        QCOMPARE(event.kind, kind);
        QCOMPARE(event.text, text);
        QCOMPARE(event.languages, languages);
    }

    void rejectsWhatIsNotAnEvent_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("message");
        QTest::newRow("not JSON") << QByteArray("{\"type\":") << "数据格式无法解析。";
        QTest::newRow("array") << QByteArray("[]") << "语音识别服务返回了无法解析的数据。";
        QTest::newRow("no type") << QByteArray(R"({"delta":"x"})") << "语音识别服务返回了无法解析的数据。";
        QTest::newRow("type not a string")
            << QByteArray(R"({"type":1})") << "语音识别服务返回了无法解析的数据。";
    }
    void rejectsWhatIsNotAnEvent() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, message);
        try {
            Provider::parseServerEvent(frame);
            QFAIL("parsed");
        } catch (const Error& error) {
            QCOMPARE(error.description(), message);
        }
    }
};

QTEST_GUILESS_MAIN(RealtimeServerEventsTest)
#include "tst_RealtimeServerEvents.moc"

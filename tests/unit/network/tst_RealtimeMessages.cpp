#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace murmelo;
using Provider = OpenAIRealtimeTranscriptionProvider;

class RealtimeMessagesTest : public QObject {
    Q_OBJECT
private slots:
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
};

QTEST_GUILESS_MAIN(RealtimeMessagesTest)
#include "tst_RealtimeMessages.moc"

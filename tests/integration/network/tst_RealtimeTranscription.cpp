#include "AsyncTest.h"
#include "BackgroundTask.h"
#include "FakeServices.h"
#include "network/TransportErrors.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"
#include "transcription/TranscriptionProviderError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace murmelo;
using namespace std::chrono_literals;
using Provider = OpenAIRealtimeTranscriptionProvider;
using fake::Frame;

namespace {

const QString key = QStringLiteral("sk-test-realtime");

QJsonObject frameObject(const fake::RecordedFrame& frame) {
    return QJsonDocument::fromJson(frame.data).object();
}

Frame json(const QJsonObject& object) {
    return Frame{Frame::Kind::text, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Frame completed(const QJsonValue& transcript) {
    QJsonObject event{{"type", "conversation.item.input_audio_transcription.completed"}};
    if (!transcript.isUndefined()) event.insert("transcript", transcript);
    return json(event);
}

QByteArray chunk(int index) {
    QByteArray bytes(1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((index * 31 + i * 7) & 0xff);
    return bytes;
}

QCoro::Task<> sendChunks(Provider* provider, int count) {
    for (int i = 0; i < count; ++i)
        co_await provider->sendAudio(chunk(i));
}

} // namespace

Q_DECLARE_METATYPE(QList<fake::Frame>)

class RealtimeTranscriptionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fake::FakeServices> m_server;

    QUrl endpoint() const {
        QUrl url = m_server->baseUrl();
        url.setScheme("ws");
        url.setPath("/v1/realtime");
        url.setQuery("model=gpt-live-transcribe");
        return url;
    }

    // The description of whatever error `finish()` ended with.
    static QString failureOfSend(QCoro::Task<>&& task) {
        try {
            test::run(std::move(task));
        } catch (const Error& error) {
            return error.description();
        }
        return QStringLiteral("(no failure)");
    }
    static QString failureOf(QCoro::Task<TranscriptionResult>&& task) {
        try {
            test::run(std::move(task));
        } catch (const Error& error) {
            return error.description();
        }
        return QStringLiteral("(no error)");
    }

private slots:
    void init() {
        m_server = std::make_unique<fake::FakeServices>();
        QVERIFY(m_server->listen());
        m_server->script.apiKey = key;
    }
    void cleanup() { m_server.reset(); }

    void fullSessionSendsEveryFrameAndReturnsTheTranscript() {
        m_server->script.realtime.transcript = QStringLiteral("  我想做一个语音输入工具\n");
        m_server->script.realtime.deltas = QStringList{"我想", "做一个", "语音输入工具"};
        m_server->script.realtime.languages = {"zh", "en"};
        Provider provider(key, "gpt-live-transcribe", endpoint());
        QStringList partials;
        const TranscriptionContext context{
            "Personal dictation.", {"<Murmelo>", "Qt\n6", "  "}, {"zh-cn", "en"}};
        test::run(provider.start(context, [&](const QString& delta) { partials << delta; }));
        QCOMPARE(provider.state(), Provider::State::streaming);
        test::run(sendChunks(&provider, 200));
        test::run(provider.sendAudio({})); // ignored, sends nothing
        const TranscriptionResult result = test::run(provider.finish());

        QCOMPARE(result, (TranscriptionResult{"我想做一个语音输入工具", {"zh", "en"}}));
        QCOMPARE(partials, (QStringList{"我想", "做一个", "语音输入工具"}));
        QCOMPARE(provider.state(), Provider::State::completed);

        QCOMPARE(m_server->sessions.size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        const fake::RecordedSession& session = m_server->sessions[0];
        QCOMPARE(session.target, QByteArray("/v1/realtime?model=gpt-live-transcribe"));
        QCOMPARE(session.authorization, ("Bearer " + key).toUtf8());
        QCOMPARE(session.closeCode, 1000);
        QCOMPARE(session.frames.size(), 202);

        QCOMPARE(frameObject(session.frames[0])["type"].toString(), "session.update");
        for (int i = 0; i < 200; ++i) {
            const fake::RecordedFrame& frame = session.frames[1 + i];
            QVERIFY(!frame.binary);
            QCOMPARE(QByteArray::fromBase64(frameObject(frame)["audio"].toString().toLatin1()), chunk(i));
        }
        QCOMPARE(frameObject(session.frames[201]), (QJsonObject{{"type", "input_audio_buffer.commit"}}));

        // Completed: the session is over.
        using Case = TranscriptionProviderError::Case;
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.sendAudio(chunk(0)))->kind(),
                 Case::notStarted);
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.finish())->kind(),
                 Case::notStarted);
    }

    void badServerEventsEndTheWaitingFinish_data() {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<QString>("expected");
        QTest::newRow("error event with message")
            << QList<Frame>{json({{"type", "error"}, {"error", QJsonObject{{"message", "配额不足"}}}})}
            << "语音识别失败：配额不足";
        QTest::newRow("blank transcript") << QList<Frame>{completed("  \n")} << "没有识别到有效语音。";
        QTest::newRow("not json") << QList<Frame>{Frame{Frame::Kind::text, "transcript: hi"}}
                                  << "数据格式无法解析。";
        QTest::newRow("frame over 16 MiB")
            << QList<Frame>{Frame{Frame::Kind::text, "{}", 0, Provider::maxIncomingMessageBytes + 1}}
            << "语音识别服务返回了无法解析的数据。";
        QTest::newRow("server closes without answer")
            << QList<Frame>{Frame{Frame::Kind::close, {}, 1000}} << "语音识别连接已断开。";
    }
    void badServerEventsEndTheWaitingFinish() {
        QFETCH(QList<Frame>, frames);
        QFETCH(QString, expected);
        m_server->script.realtime.afterCommit = frames;
        Provider provider(key, "gpt-live-transcribe", endpoint());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) { partials << delta; }));
        test::run(sendChunks(&provider, 3));
        QCOMPARE(failureOf(provider.finish()), expected);
        QCOMPARE(provider.state(), Provider::State::failed);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        // Later calls say why the session ended, not that it never started.
        QCOMPARE(failureOfSend(provider.sendAudio(chunk(1))), expected);
        QVERIFY(partials.isEmpty());
    }

    void binaryFramesAreReadLikeText() {
        Frame frame = completed("二进制也行");
        frame.kind = Frame::Kind::binary;
        m_server->script.realtime.afterCommit = QList<Frame>{frame};
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        QCOMPARE(test::run(provider.finish()), (TranscriptionResult{"二进制也行", {}}));
    }

    void aTranscriptThatCameBeforeFinishIsNotLost() {
        m_server->script.realtime.onFirstAudio = {completed(" 早到的转写 ")};
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_COMPARE_WITH_TIMEOUT(provider.state(), Provider::State::completed, 5000);
        QCOMPARE(test::run(provider.finish()), (TranscriptionResult{"早到的转写", {}}));
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.finish())->kind(),
                 TranscriptionProviderError::Case::notStarted);
        int commits = 0;
        for (const auto& frame : m_server->sessions[0].frames)
            commits += frameObject(frame)["type"] == QLatin1String("input_audio_buffer.commit");
        QCOMPARE(commits, 0);
    }

    void connectionDroppedWhileCommittingIsAConnectionLoss() {
        m_server->script.realtime.dropAfterCommit = true;
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        test::run(sendChunks(&provider, 2));
        const auto error = test::runExpectingError<NetworkError>(provider.finish());
        QVERIFY(error);
        QCOMPARE(error->code(), int(NetworkError::networkConnectionLost));
        QCOMPARE(provider.state(), Provider::State::failed);
    }

    void serverErrorWhileStreamingFailsTheNextCall() {
        m_server->script.realtime.onFirstAudio = {
            json({{"type", "error"}, {"error", QJsonObject{{"message", "bad"}}}})};
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_COMPARE_WITH_TIMEOUT(provider.state(), Provider::State::failed, 5000);
        // The server's own words reach the user.
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.finish())->description(),
                 QStringLiteral("语音识别失败：bad"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(m_server->sessions[0].closeCode, 1000);
    }

    void cancelDuringFinishEndsItAndClosesGoingAway() {
        m_server->script.realtime.answerCommit = false;
        Provider provider(key, "gpt-live-transcribe", endpoint());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) { partials << delta; }));
        test::BackgroundTask<TranscriptionResult> finishing(provider.finish());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->sessions[0].frames.size(), 2, 5000); // update, commit
        QVERIFY(!finishing.done());
        QCOMPARE(provider.state(), Provider::State::committing);
        test::run(provider.cancel());
        QTRY_VERIFY_WITH_TIMEOUT(finishing.done(), 5000);
        QVERIFY(finishing.error<CancellationError>());
        QCOMPARE(provider.state(), Provider::State::idle);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(m_server->sessions[0].closeCode, 1001);
        QVERIFY(partials.isEmpty());
    }

    void secondFinishJoinsTheFirst() {
        m_server->script.realtime.delayMs = 50;
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        test::BackgroundTask<TranscriptionResult> first(provider.finish());
        test::BackgroundTask<TranscriptionResult> second(provider.finish());
        QTRY_VERIFY_WITH_TIMEOUT(first.done() && second.done(), 5000);
        QVERIFY(first.succeeded() && second.succeeded());
        QCOMPARE(second.value(), first.value());
        int commits = 0;
        for (const auto& frame : m_server->sessions[0].frames)
            commits += frameObject(frame)["type"] == QLatin1String("input_audio_buffer.commit");
        QCOMPARE(commits, 1);
    }

    void startRules() {
        using Case = TranscriptionProviderError::Case;
        // Which keys are usable is the key store's table; here only that none is sent.
        Provider unusable(QStringLiteral("sk-1\r\nX-Injected: 1"), "gpt-live-transcribe", endpoint());
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(unusable.start({}, {}))->kind(),
                 Case::missingAPIKey);
        QCOMPARE(m_server->openConnections(), 0);
        QVERIFY(m_server->sessions.isEmpty());

        Provider unformable(key, "gpt-live-transcribe", QUrl("not a url"));
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(unformable.start({}, {}))->kind(),
                 Case::connectionClosed);

        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::run(provider.start({}, {}));
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.start({}, {}))->kind(),
                 Case::alreadyStarted);
        test::run(provider.cancel());
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.sendAudio(chunk(0)))->kind(),
                 Case::notStarted);
    }

    void handshakeFailuresAreTransportErrors_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("code");
        QTest::newRow("wrong key") << "wrong key" << network::badServerResponse;
        QTest::newRow("refused upgrade") << "reject 503" << network::badServerResponse;
        QTest::newRow("silent server") << "hang" << int(NetworkError::timedOut);
        QTest::newRow("nobody listening") << "closed port" << int(NetworkError::cannotConnectToHost);
        QTest::newRow("tls to a plain port") << "wss" << int(NetworkError::secureConnectionFailed);
    }
    void handshakeFailuresAreTransportErrors() {
        QFETCH(QString, situation);
        QFETCH(int, code);
        QUrl url = endpoint();
        QString usedKey = key;
        if (situation == "wrong key") usedKey = "sk-other";
        if (situation == "reject 503") m_server->script.realtime.rejectStatus = 503;
        if (situation == "hang") m_server->script.realtime.hangHandshake = true;
        if (situation == "wss") url.setScheme("wss");
        if (situation == "closed port") {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            url.setPort(probe.serverPort());
        } // the probe is closed again here: nobody listens on its port
        Provider provider(usedKey, "gpt-live-transcribe", url, 300ms);
        const auto error = test::runExpectingError<NetworkError>(provider.start({}, {}));
        QVERIFY(error);
        QCOMPARE(error->code(), code);
        QCOMPARE(provider.state(), Provider::State::failed);
        QCOMPARE(test::runExpectingError<TranscriptionProviderError>(provider.finish())->kind(),
                 TranscriptionProviderError::Case::notStarted);
    }

    void cancelDuringTheHandshakeEndsStart() {
        m_server->script.realtime.hangHandshake = true;
        Provider provider(key, "gpt-live-transcribe", endpoint());
        test::BackgroundTask<void> starting(provider.start({}, {}));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 1, 5000);
        test::run(provider.cancel());
        QTRY_VERIFY_WITH_TIMEOUT(starting.done(), 5000);
        QVERIFY(starting.error<CancellationError>());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 5000);
    }

    void aPartialHandlerMayCancelTheSession() {
        m_server->script.realtime.onFirstAudio = {
            json({{"type", "conversation.item.input_audio_transcription.delta"}, {"delta", "a"}}),
            json({{"type", "conversation.item.input_audio_transcription.delta"}, {"delta", "b"}})};
        Provider provider(key, "gpt-live-transcribe", endpoint());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) {
            partials << delta;
            provider.cancel(); // runs to completion at once
        }));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_COMPARE_WITH_TIMEOUT(partials, QStringList{"a"}, 5000);
        QCOMPARE(provider.state(), Provider::State::idle);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(partials, QStringList{"a"});
    }
};

QTEST_GUILESS_MAIN(RealtimeTranscriptionTest)
#include "tst_RealtimeTranscription.moc"

// The speech and language services against a loopback server: the realtime session, both
// refinement providers, and the connection tests of the key settings.
#include "AsyncTest.h"
#include "FakeServices.h"
#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "credentials/CredentialSettingsModel.h"
#include "dictation/DictationCoordinatorError.h"
#include "network/TransportErrors.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/ProviderConfiguration.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"
#include "transcription/TranscriptionProviderError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace murmelo;
using namespace std::chrono_literals;
using Provider = OpenAIRealtimeTranscriptionProvider;
using Case = TranscriptionProviderError::Case;
using fake::Frame;

namespace {

const QString key = QStringLiteral("sk-test-services"); // the only key the server accepts
const RefinementRequest request{QStringLiteral("我有两个安排"), InputMode::smartDictation, QStringLiteral("g")};

Frame json(const QJsonObject& object, Frame::Kind kind = Frame::Kind::text) {
    return Frame{kind, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}
Frame transcription(const QString& event, QJsonObject fields, Frame::Kind kind = Frame::Kind::text) {
    fields.insert("type", "conversation.item.input_audio_transcription." + event);
    return json(fields, kind);
}
QByteArray chunk(int index) {
    QByteArray bytes(1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((index * 31 + i * 7) & 0xff);
    return bytes;
}
int commits(const fake::RecordedSession& session) {
    return int(std::count_if(session.frames.begin(), session.frames.end(),
                             [](const auto& frame) { return frame.data.contains("input_audio_buffer.commit"); }));
}
// A port that was free a moment ago: nobody listens there.
quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}
template <typename T> std::optional<Case> caseOf(QCoro::Task<T>&& task) {
    const auto error = test::runExpectingError<TranscriptionProviderError>(std::move(task));
    return error ? std::optional(error->kind()) : std::nullopt;
}

} // namespace

Q_DECLARE_METATYPE(QList<fake::Frame>)

class NetworkServicesTest : public QObject {
    Q_OBJECT
    test::TestEnvironment m_environment;
    std::unique_ptr<fake::FakeServices> m_server;
    std::unique_ptr<QNetworkAccessManager> m_session;
    std::shared_ptr<SecretBackendFake> m_keyring;

    QUrl realtimeUrl() const {
        QUrl url = m_server->baseUrl();
        url.setScheme("ws");
        url.setPath("/v1/realtime");
        return url;
    }
    fake::HttpScript& endpoint(const QString& kind) {
        return kind == "openai" ? m_server->script.responses : m_server->script.chat;
    }
    std::unique_ptr<TextRefinementProvider> refiner(const QString& kind, QUrl base = {}, const QString& apiKey = key,
                                                    std::chrono::milliseconds timeout = 20s, const QString& bundle = {}) {
        if (base.isEmpty()) base = m_server->baseUrl();
        base.setPath(kind == "openai" ? "/v1/responses" : "/chat/completions");
        if (kind == "openai")
            return std::make_unique<OpenAITextRefinementProvider>(apiKey, "gpt-5.6-terra", base, m_session.get(), timeout,
                                                                  bundle);
        return std::make_unique<DeepSeekRefinementProvider>(apiKey, "deepseek-v4-flash", base, m_session.get(), timeout,
                                                            bundle);
    }
    std::unique_ptr<CredentialSettingsModel> settings(CredentialSettingsModel::Timing timing = {}) {
        const QString base = m_server->baseUrl().toString();
        const ProviderConfiguration configuration([base](const char*) { return base; }, [](const QString&) {});
        return std::make_unique<CredentialSettingsModel>(KeychainStore(m_keyring), m_session.get(), configuration,
                                                         timing);
    }
    // What reached the server: method, target, and the model a body names.
    QStringList sent() const {
        QStringList lines;
        for (const auto& each : m_server->requests)
            lines << QString::fromUtf8(each.method + ' ' + each.target) +
                         (each.body.isEmpty() ? "" : " " + QJsonDocument::fromJson(each.body)["model"].toString());
        return lines;
    }

private slots:
    void initTestCase() {
        m_environment.unset("OPENAI_API_KEY");
        m_environment.unset("DEEPSEEK_API_KEY");
    }
    void init() {
        m_server = std::make_unique<fake::FakeServices>();
        QVERIFY(m_server->listen());
        m_server->script.apiKey = key;
        m_session = std::make_unique<QNetworkAccessManager>();
        m_keyring = std::make_shared<SecretBackendFake>();
        for (const auto kind : {CredentialKind::openAI, CredentialKind::deepSeek})
            m_keyring->items.insert({KeychainStore::defaultService, keychainAccount(kind)}, key.toUtf8());
    }
    void cleanup() {
        m_session.reset();
        m_server.reset();
    }

    void fullSessionStreamsEveryChunkAndClosesNormally() {
        // Binary frames are read like text ones; the transcript comes back trimmed, with its languages.
        m_server->script.realtime.afterCommit = QList<Frame>{
            transcription("delta", {{"delta", "我想"}}), transcription("delta", {{"delta", "做一个"}}),
            transcription("completed",
                          {{"transcript", " 我想做一个\n"}, {"languages", QJsonArray{QJsonObject{{"code", "zh"}}}}},
                          Frame::Kind::binary)};
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) { partials << delta; }));
        for (int i = 0; i < 200; ++i)
            test::run(provider.sendAudio(chunk(i)));
        test::run(provider.sendAudio({})); // nothing to send
        QCOMPARE(test::run(provider.finish()), (TranscriptionResult{"我想做一个", {"zh"}}));
        QCOMPARE(partials, (QStringList{"我想", "做一个"}));
        QCOMPARE(caseOf(provider.sendAudio(chunk(0))), Case::notStarted); // the session is over

        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
        const fake::RecordedSession& session = m_server->sessions[0];
        QCOMPARE(session.target, "/v1/realtime?model=gpt-live-transcribe");
        QCOMPARE(session.closeCode, 1000);
        QCOMPARE(session.frames.size(), 202); // the session update, the audio, the commit
        for (int i = 0; i < 200; ++i) {
            const QJsonObject append = QJsonDocument::fromJson(session.frames[1 + i].data).object();
            QCOMPARE(QByteArray::fromBase64(append["audio"].toString().toLatin1()), chunk(i));
        }
        QCOMPARE(commits(session), 1);
    }

    void serverFailuresEndTheSessionWithTheirReason_data() {
        QTest::addColumn<QString>("when"); // "streaming": before finish(); otherwise in answer to the commit
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<QString>("expected");
        const Frame error = json({{"type", "error"}, {"error", QJsonObject{{"message", "配额不足"}}}});
        const QString server = TranscriptionProviderError(Case::server, "配额不足").description();
        const QString invalid = TranscriptionProviderError(Case::invalidServerMessage).description();
        QTest::newRow("server error while streaming") << "streaming" << QList{error} << server;
        QTest::newRow("server error answering the commit") << "commit" << QList{error} << server;
        QTest::newRow("blank transcript") << "commit" << QList{transcription("completed", {{"transcript", " \n"}})}
                                          << TranscriptionProviderError(Case::emptyTranscript).description();
        QTest::newRow("not json") << "commit" << QList{Frame{Frame::Kind::text, "transcript: hi"}}
                                  << JsonParseError().description();
        QTest::newRow("frame over 16 MiB")
            << "commit" << QList{Frame{Frame::Kind::text, "{}", 0, Provider::maxIncomingMessageBytes + 1}} << invalid;
        QTest::newRow("closed without an answer") << "commit" << QList{Frame{Frame::Kind::close, {}, 1000}}
                                                  << TranscriptionProviderError(Case::connectionClosed).description();
        QTest::newRow("dropped without an answer, not a time-out")
            << "drop" << QList<Frame>{} << NetworkError(NetworkError::networkConnectionLost).description();
    }
    void serverFailuresEndTheSessionWithTheirReason() {
        QFETCH(QString, when);
        QFETCH(QList<Frame>, frames);
        QFETCH(QString, expected);
        if (when == "streaming")
            m_server->script.realtime.onFirstAudio = frames;
        else
            m_server->script.realtime.afterCommit = frames;
        m_server->script.realtime.dropAfterCommit = when == "drop";
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        test::run(provider.sendAudio(chunk(0)));
        if (when == "streaming") QTRY_COMPARE_WITH_TIMEOUT(provider.state(), Provider::State::failed, 5000);
        QCOMPARE(test::failureOf(provider.finish()), expected);
        // Later calls say why the session ended, not that it never started.
        QCOMPARE(test::failureOf(provider.sendAudio(chunk(1))), expected);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
    }

    void aTranscriptBeforeFinishIsKeptAndNothingCommitted() {
        m_server->script.realtime.onFirstAudio = {transcription("completed", {{"transcript", " 早到的转写 "}})};
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
        QCOMPARE(test::run(provider.finish()), (TranscriptionResult{"早到的转写", {}}));
        QCOMPARE(caseOf(provider.finish()), Case::notStarted); // delivered once
        QCOMPARE(commits(m_server->sessions[0]), 0);
    }

    void aSecondFinishJoinsTheFirstCommit() {
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        auto first = provider.finish();
        auto second = provider.finish();
        QCOMPARE(test::run(std::move(second)), test::run(std::move(first)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(commits(m_server->sessions[0]), 1);
    }

    void callsOutOfTurnAreRefused() {
        Provider unformable(key, "gpt-live-transcribe", QUrl("not a url"));
        QCOMPARE(caseOf(unformable.start({}, {})), Case::connectionClosed);
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        QCOMPARE(caseOf(provider.finish()), Case::notStarted);
        test::run(provider.start({}, {}));
        QCOMPARE(caseOf(provider.start({}, {})), Case::alreadyStarted);
        test::run(provider.cancel());
        QCOMPARE(caseOf(provider.sendAudio(chunk(0))), Case::notStarted);
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
        QUrl url = realtimeUrl();
        if (situation == "reject 503") m_server->script.realtime.rejectStatus = 503;
        m_server->script.realtime.hangHandshake = situation == "hang";
        if (situation == "wss") url.setScheme("wss");
        if (situation == "closed port") url.setPort(closedPort());
        Provider provider(situation == "wrong key" ? "sk-other" : key, "gpt-live-transcribe", url, 300ms);
        const auto error = test::runExpectingError<NetworkError>(provider.start({}, {}));
        QCOMPARE(error ? error->code() : 0, code);
        QCOMPARE(caseOf(provider.finish()), Case::notStarted);
    }

    void cancelDuringTheHandshakeEndsStartAndTheConnection() {
        m_server->script.realtime.hangHandshake = true;
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        auto starting = provider.start({}, {});
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 1, 5000);
        test::run(provider.cancel());
        QVERIFY(test::runExpectingError<CancellationError>(std::move(starting)));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 5000);
    }

    void cancelDuringFinishEndsItAndClosesAsGoingAway() {
        m_server->script.realtime.answerCommit = false;
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        auto finishing = provider.finish();
        QTRY_COMPARE_WITH_TIMEOUT(commits(m_server->sessions.value(0)), 1, 5000);
        QVERIFY(!finishing.isReady());
        test::run(provider.cancel());
        QVERIFY(test::runExpectingError<CancellationError>(std::move(finishing)));
        QCOMPARE(provider.state(), Provider::State::idle);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(m_server->sessions[0].closeCode, 1001);
    }

    void aPartialHandlerMayCancelTheSession() {
        m_server->script.realtime.onFirstAudio = {transcription("delta", {{"delta", "a"}}),
                                                  transcription("delta", {{"delta", "b"}})};
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) {
            partials << delta;
            provider.cancel(); // runs to completion at once
        }));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
        QCOMPARE(partials, QStringList{"a"});
        QCOMPARE(provider.state(), Provider::State::idle);
    }

    void refinementPostsJsonWithTheModesPrompt() {
        QTemporaryDir bundle;
        test::writeFile(bundle.path() + "/Prompts/translate_to_english.md", "TRANSLATE");
        for (const QString kind : {"openai", "deepseek"}) {
            const RefinementRequest translation{"我有两个安排", InputMode::translateToEnglish, "g"};
            // The server echoes the transcript it finds in the request.
            QCOMPARE(test::run(refiner(kind, {}, key, 20s, bundle.path())->refine(translation)), "我有两个安排");
            const fake::RecordedRequest& sent = m_server->requests.last();
            QCOMPARE(sent.method, "POST");
            QCOMPARE(sent.headers.value("content-type"), "application/json");
            QVERIFY(sent.body.contains("TRANSLATE"));
        }
    }

    void httpFailuresBecomeTheirErrors_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("expected");
        for (const QString kind : {"openai", "deepseek"}) {
            const auto row = [&](const char* name, const char* situation) -> QTestData& {
                return QTest::newRow(qPrintable(kind + ": " + name)) << kind << QString(situation);
            };
            row("silent server", "hang") << NetworkError(NetworkError::timedOut).description();
            row("truncated body is a lost connection", "truncated")
                << NetworkError(NetworkError::networkConnectionLost).description();
            row("nobody listening", "closed port") << NetworkError(NetworkError::cannotConnectToHost).description();
            row("tls to a plain port", "https") << NetworkError(NetworkError::secureConnectionFailed).description();
        }
        // The status, not the error body's message; a redirect is not followed.
        QTest::newRow("openai: 401") << "openai" << "401" << RefinementProviderError::httpStatus(401).description();
        QTest::newRow("deepseek: 302") << "deepseek" << "302" << RefinementProviderError::httpStatus(302).description();
    }
    void httpFailuresBecomeTheirErrors() {
        QFETCH(QString, kind);
        QFETCH(QString, situation);
        QFETCH(QString, expected);
        QUrl base = m_server->baseUrl();
        endpoint(kind).hang = situation == "hang";
        if (situation == "truncated") endpoint(kind).dropAfterBytes = 5;
        if (situation == "https") base.setScheme("https");
        if (situation == "closed port") base.setPort(closedPort());
        if (situation.toInt()) {
            endpoint(kind).status = situation.toInt();
            endpoint(kind).body = R"({"error":{"message":"bad key"}})";
        }
        QCOMPARE(test::failureOf(refiner(kind, base, key, 200ms)->refine(request)), expected);
    }

    void cancelAbortsTheRefinementAndItsSocket() {
        m_server->script.chat.hang = true;
        auto provider = refiner("deepseek");
        auto refining = provider->refine(request);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests.size(), 1, 5000);
        provider->cancel();
        QVERIFY(test::runExpectingError<CancellationError>(std::move(refining)));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 5000);
    }

    void aKeyWithALineBreakOrAMissingPromptSendsNothing() {
        const QString injected = QStringLiteral("sk-1\r\nX-Injected: 1");
        Provider realtime(injected, "gpt-live-transcribe", realtimeUrl());
        QCOMPARE(caseOf(realtime.start({}, {})), Case::missingAPIKey);
        const auto refused = test::runExpectingError<RefinementProviderError>(refiner("openai", {}, injected)->refine(request));
        QVERIFY(refused && refused->kind() == RefinementProviderError::Case::missingAPIKey);
        QTemporaryDir noPrompts;
        QVERIFY(test::runExpectingError<PromptLibraryError>(refiner("deepseek", {}, key, 20s, noPrompts.path())->refine(request)));
        QVERIFY(m_server->sessions.isEmpty() && m_server->requests.isEmpty());
        QCOMPARE(m_server->openConnections(), 0);
    }

    void connectionTestsAskTheServices_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("message");
        const auto failed = [](auto error, const char* service) {
            return CredentialSettingsModel::connectionMessage(std::make_exception_ptr(error), service);
        };
        const QStringList openAI{"gpt-live-transcribe", " gpt-5.6-terra\n"};
        const QString first = "GET /v1/models/gpt-live-transcribe";
        QTest::newRow("OpenAI: both models, in order")
            << "OpenAI" << "" << openAI << QStringList{first, "GET /v1/models/gpt-5.6-terra"}
            << "OpenAI Key 和两个模型均可访问。";
        QTest::newRow("OpenAI: an unknown model ends the test")
            << "OpenAI" << "" << QStringList{"no-such-model", "gpt-5.6-terra"}
            << QStringList{"GET /v1/models/no-such-model"} << failed(RefinementProviderError::httpStatus(404), "OpenAI");
        QTest::newRow("OpenAI: a blank model is not asked for")
            << "OpenAI" << "" << QStringList{"gpt-live-transcribe", " \n"} << QStringList{first}
            << failed(RefinementProviderError(RefinementProviderError::Case::invalidResponse), "OpenAI");
        QTest::newRow("OpenAI: silent server") << "OpenAI" << "hang" << openAI << QStringList{first}
                                               << failed(NetworkError(NetworkError::timedOut), "OpenAI");
        QTest::newRow("OpenAI: no key, nothing sent")
            << "OpenAI" << "no key" << openAI << QStringList{}
            << failed(DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey), "OpenAI");
        QTest::newRow("DeepSeek: one real refinement") << "DeepSeek" << "" << QStringList{"deepseek-v4-flash"}
                                                       << QStringList{"POST /chat/completions deepseek-v4-flash"}
                                                       << "DeepSeek 连接正常。";
        QTest::newRow("DeepSeek: silent server")
            << "DeepSeek" << "hang" << QStringList{"deepseek-v4-flash"}
            << QStringList{"POST /chat/completions deepseek-v4-flash"} << failed(NetworkError(NetworkError::timedOut), "DeepSeek");
    }
    void connectionTestsAskTheServices() {
        QFETCH(QString, service);
        QFETCH(QString, situation);
        QFETCH(QStringList, models);
        QFETCH(QStringList, sent);
        QFETCH(QString, message);
        m_server->script.models.hang = m_server->script.chat.hang = situation == "hang";
        if (situation == "no key") m_keyring->items.clear();
        auto model = settings(situation == "hang" ? CredentialSettingsModel::Timing{150ms, 150ms}
                                                  : CredentialSettingsModel::Timing{});
        if (service == "OpenAI")
            test::run(model->testOpenAI(models.value(0), models.value(1)));
        else
            test::run(model->testDeepSeek(models.value(0)));
        QCOMPARE(model->statusMessage(), message);
        QCOMPARE(this->sent(), sent);
        QVERIFY(!model->isTesting());
    }

    void aConnectionTestIgnoresASecondAndOutlivesTheSettings() {
        auto model = settings();
        auto running = model->testOpenAI("gpt-live-transcribe", "gpt-5.6-terra");
        test::run(model->testDeepSeek("deepseek-v4-flash")); // ignored while one runs
        model.reset();
        test::run(std::move(running)); // nothing of the settings is touched any more
        QCOMPARE(sent(), QStringList{"GET /v1/models/gpt-live-transcribe"});
    }
};

QTEST_GUILESS_MAIN(NetworkServicesTest)
#include "tst_NetworkServices.moc"

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
const RefinementRequest request{QStringLiteral("我有两个安排"), InputMode::smartDictation,
                                QStringLiteral("g")};

Frame json(const QJsonObject& object, Frame::Kind kind = Frame::Kind::text) {
    return Frame{kind, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}
Frame transcription(const QString& event, QJsonObject fields, Frame::Kind kind = Frame::Kind::text) {
    fields.insert("type", "conversation.item.input_audio_transcription." + event);
    return json(fields, kind);
}
// Distinct chunks, so a lost or reordered one shows.
QByteArray chunk(int index) {
    return QByteArray(1024, char(index));
}
int commits(const fake::RecordedSession& session) {
    return int(std::count_if(session.frames.begin(), session.frames.end(), [](const auto& frame) {
        return frame.data.contains("input_audio_buffer.commit");
    }));
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

template <typename E> std::pair<std::exception_ptr, QString> named(const E& error) {
    return {std::make_exception_ptr(error), error.description()};
}
// The error a case names, and its description: "network:<code>", "http:<status>", "server:<message>", or a
// case's name.
std::pair<std::exception_ptr, QString> namedError(const QJsonValue& value) {
    using Refinement = RefinementProviderError;
    const QString name = value.toString(), detail = name.section(':', 1);
    if (name.startsWith("network:")) return named(NetworkError(detail.toInt()));
    if (name.startsWith("http:")) return named(Refinement::httpStatus(detail.toInt()));
    if (name.startsWith("server:")) return named(TranscriptionProviderError(Case::server, detail));
    if (name == "json") return named(JsonParseError());
    if (name == "invalidResponse") return named(Refinement(Refinement::Case::invalidResponse));
    if (name == "missingOpenAIKey")
        return named(DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey));
    const QHash<QString, Case> cases{{"emptyTranscript", Case::emptyTranscript},
                                     {"invalidServerMessage", Case::invalidServerMessage},
                                     {"connectionClosed", Case::connectionClosed}};
    return named(TranscriptionProviderError(cases.value(name, Case::server), "unknown: " + name));
}
// Where a case's request goes: to a port nobody listens on, or with another scheme.
QUrl aimed(QUrl url, const QJsonObject& row) {
    if (row["closedPort"].toBool()) url.setPort(closedPort());
    url.setScheme(row["scheme"].toString(url.scheme()));
    return url;
}

} // namespace

class NetworkServicesTest : public QObject {
    Q_OBJECT
    test::TestEnvironment m_environment;
    std::unique_ptr<fake::FakeServices> m_server;
    std::unique_ptr<QNetworkAccessManager> m_net; // the providers' session
    std::shared_ptr<SecretBackendFake> m_keyring;

    QUrl realtimeUrl() const { return QUrl(QString("ws://127.0.0.1:%1/v1/realtime").arg(m_server->port())); }
    std::unique_ptr<TextRefinementProvider> refiner(const QString& kind, QUrl base = {},
                                                    const QString& apiKey = key,
                                                    std::chrono::milliseconds limit = 20s,
                                                    const QString& bundle = {}) {
        if (base.isEmpty()) base = m_server->baseUrl();
        base.setPath(kind == "openai" ? "/v1/responses" : "/chat/completions");
        if (kind == "openai")
            return std::make_unique<OpenAITextRefinementProvider>(apiKey, "m", base, m_net.get(), limit,
                                                                  bundle);
        return std::make_unique<DeepSeekRefinementProvider>(apiKey, "m", base, m_net.get(), limit, bundle);
    }
    std::unique_ptr<CredentialSettingsModel> settings(CredentialSettingsModel::Timing timing = {}) {
        const QString base = m_server->baseUrl().toString();
        const ProviderConfiguration urls([base](const char*) { return base; }, [](const QString&) {});
        return std::make_unique<CredentialSettingsModel>(KeychainStore(m_keyring), m_net.get(), urls, timing);
    }
    // What reached the server: method, target, and the model a body names.
    QStringList sent() const {
        QStringList lines;
        for (const auto& each : m_server->requests)
            lines << QString(each.method + ' ' + each.target + ' ' +
                             QJsonDocument::fromJson(each.body)["model"].toString().toUtf8())
                         .trimmed();
        return lines;
    }

private slots:
    void initTestCase() { m_environment.unset("OPENAI_API_KEY"); }
    void init() {
        m_server = std::make_unique<fake::FakeServices>();
        QVERIFY(m_server->listen());
        m_server->script.apiKey = key;
        m_net = std::make_unique<QNetworkAccessManager>();
        m_keyring = std::make_shared<SecretBackendFake>();
        for (const auto kind : {CredentialKind::openAI, CredentialKind::deepSeek})
            m_keyring->items.insert({KeychainStore::defaultService, keychainAccount(kind)}, key.toUtf8());
    }

    void fullSessionStreamsEveryChunkAndClosesNormally() {
        m_server->script.realtime.transcript = QStringLiteral(" 我想做一个\n"); // comes back trimmed
        m_server->script.realtime.deltas = QStringList{"我想", "做一个"};
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) { partials << delta; }));
        QCOMPARE(caseOf(provider.start({}, {})), Case::alreadyStarted);
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
        for (int i = 0; i < 200; ++i)
            QCOMPARE(QJsonDocument::fromJson(session.frames[1 + i].data)["audio"],
                     QString(chunk(i).toBase64()));
        QCOMPARE(commits(session), 1);
    }

    void serverFailuresEndTheSessionWithTheirReason_data() {
        test::rowsFromJson(QFINDTESTDATA("network/session_failures.json"));
    }
    void serverFailuresEndTheSessionWithTheirReason() {
        QFETCH(const QJsonObject, row);
        const QJsonValue data = row["frame"];
        Frame frame{Frame::Kind::text,
                    data.isObject() ? QJsonDocument(data.toObject()).toJson() : data.toString().toUtf8()};
        if (row["close"].toBool()) frame = Frame{Frame::Kind::close, {}, 1000};
        if (row["oversized"].toBool()) frame.fillTo = Provider::maxIncomingMessageBytes + 1;
        const QList<Frame> frames = row.contains("frame") ? QList{frame} : QList<Frame>{};
        const QString when = row["when"].toString(); // "streaming": before finish(), else after it
        if (when == "streaming")
            m_server->script.realtime.onFirstAudio = frames;
        else
            m_server->script.realtime.afterCommit = frames;
        m_server->script.realtime.dropAfterCommit = when == "drop";
        const QString expected = namedError(row["error"]).second;
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
        m_server->script.realtime.onFirstAudio = {
            // binary frames are read like text ones
            transcription("completed", {{"transcript", " 早到的转写 "}}, Frame::Kind::binary)};
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
        QCOMPARE(test::run(provider.finish()), (TranscriptionResult{"早到的转写", {}}));
        QCOMPARE(commits(m_server->sessions[0]), 0);
    }

    void aSecondFinishJoinsTheFirstCommit() {
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        test::run(provider.start({}, {}));
        auto first = provider.finish();
        auto second = provider.finish();
        QTRY_VERIFY_WITH_TIMEOUT(first.isReady() && second.isReady(), 5000); // a lost first waits forever
        QCOMPARE(test::run(std::move(second)), test::run(std::move(first)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions[0].closed, 5000);
        QCOMPARE(commits(m_server->sessions[0]), 1);
    }

    void handshakeFailuresAreTransportErrors_data() {
        test::rowsFromJson(QFINDTESTDATA("network/handshake_failures.json"));
    }
    void handshakeFailuresAreTransportErrors() {
        QFETCH(const QJsonObject, row);
        m_server->script.realtime.rejectStatus = row["rejectStatus"].toInt();
        m_server->script.realtime.hangHandshake = row["hang"].toBool();
        Provider provider(row["key"].toString(key), "gpt-live-transcribe", aimed(realtimeUrl(), row), 300ms);
        QCOMPARE(test::failureOf(provider.start({}, {})), namedError(row["error"]).second);
        QCOMPARE(caseOf(provider.finish()), Case::notStarted);
    }

    void cancelDuringTheHandshakeEndsStartAndTheConnection() {
        m_server->script.realtime.hangHandshake = true;
        Provider provider(key, "gpt-live-transcribe", realtimeUrl());
        auto starting = provider.start({}, {});
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 1, 5000);
        test::run(provider.cancel());
        QTRY_VERIFY_WITH_TIMEOUT(starting.isReady(), 5000);
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
        QTRY_VERIFY_WITH_TIMEOUT(finishing.isReady(), 5000);
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
        const QString stopWord = QStringLiteral("a");
        test::run(provider.start({}, [&](const QString& delta) {
            if (delta == stopWord) provider.cancel(); // drops the session's handler while this one runs
            partials << delta;
        }));
        test::run(provider.sendAudio(chunk(0)));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sessions.value(0).closed, 5000);
        QCOMPARE(partials, QStringList{"a"});
        QCOMPARE(provider.state(), Provider::State::idle);
    }

    void refinementPostsJsonWithTheModesPrompt() {
        QTemporaryDir bundle;
        test::writeFile(bundle.path() + "/Prompts/smart_dictation_zh.md", "SMART");
        test::writeFile(bundle.path() + "/Prompts/translate_to_english.md", "TRANSLATE");
        for (const QString kind : {"openai", "deepseek"}) {
            const RefinementRequest translation{"我有两个安排", InputMode::translateToEnglish, "g"};
            // The server echoes the transcript it finds in the request.
            QCOMPARE(test::run(refiner(kind, {}, key, 20s, bundle.path())->refine(translation)),
                     "我有两个安排");
            const fake::RecordedRequest& sent = m_server->requests.last();
            QCOMPARE(sent.headers.value("content-type"), "application/json");
            QVERIFY(sent.body.contains("TRANSLATE"));
        }
    }

    void httpFailuresBecomeTheirErrors_data() {
        test::rowsFromJson(QFINDTESTDATA("network/http_failures.json"));
    }
    void httpFailuresBecomeTheirErrors() {
        QFETCH(const QJsonObject, row);
        for (const QJsonValue kind : row["providers"].toArray()) {
            fake::HttpScript& script = kind == "openai" ? m_server->script.responses : m_server->script.chat;
            script.hang = row["hang"].toBool();
            script.dropAfterBytes = row["dropAfterBytes"].toInt(-1);
            script.status = row["status"].toInt();
            if (row.contains("body")) script.body = row["body"].toString().toUtf8();
            const auto provider = refiner(kind.toString(), aimed(m_server->baseUrl(), row), key, 200ms);
            QCOMPARE(test::failureOf(provider->refine(request)), namedError(row["error"]).second);
        }
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

    void aKeyWithALineBreakAMissingPromptOrABadUrlSendNothing() {
        const QString injected = QStringLiteral("sk-1\r\nX-Injected: 1");
        Provider realtime(injected, "gpt-live-transcribe", realtimeUrl());
        QCOMPARE(caseOf(realtime.start({}, {})), Case::missingAPIKey);
        Provider unformable(key, "gpt-live-transcribe", QUrl("not a url"));
        QCOMPARE(caseOf(unformable.start({}, {})), Case::connectionClosed);
        const auto refused = test::runExpectingError<RefinementProviderError>(
            refiner("openai", {}, injected)->refine(request));
        QVERIFY(refused && refused->kind() == RefinementProviderError::Case::missingAPIKey);
        QTemporaryDir noPrompts;
        QVERIFY(test::runExpectingError<PromptLibraryError>(
            refiner("deepseek", {}, key, 20s, noPrompts.path())->refine(request)));
        QVERIFY(m_server->sessions.isEmpty() && m_server->requests.isEmpty());
        QCOMPARE(m_server->openConnections(), 0);
    }

    void connectionTestsAskTheServices_data() {
        test::rowsFromJson(QFINDTESTDATA("network/connection_tests.json"));
    }
    void connectionTestsAskTheServices() {
        QFETCH(const QJsonObject, row);
        const bool hang = row["hang"].toBool();
        m_server->script.models.hang = m_server->script.chat.hang = hang;
        if (row["noKey"].toBool()) m_keyring->items.clear();
        auto model = settings(hang ? CredentialSettingsModel::Timing{150ms, 150ms}
                                   : CredentialSettingsModel::Timing{});
        const QStringList models = row["models"].toVariant().toStringList();
        const QString service = row["service"].toString();
        test::run(service == "OpenAI" ? model->testOpenAI(models.value(0), models.value(1))
                                      : model->testDeepSeek(models.value(0)));
        QCOMPARE(model->statusMessage(),
                 row.contains("message")
                     ? row["message"].toString()
                     : CredentialSettingsModel::connectionMessage(namedError(row["error"]).first, service));
        QCOMPARE(sent(), row["sent"].toVariant().toStringList());
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

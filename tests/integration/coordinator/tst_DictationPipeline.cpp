// Whole dictations through the real coordinator and providers against the loopback services, one
// row of pipeline_cases.json per outcome: what the user sees, what reaches the clipboard, the
// target window and the history, which key went where, and that nothing outlives the dictation.
#include "AsyncTest.h"
#include "AudioCapturingFake.h"
#include "FakeServices.h"
#include "PipelineRig.h"
#include "TestEnvironment.h"
#include "dictation/DictationCoordinatorError.h"
#include "transcription/TranscriptionProviderError.h"

#include <QJsonObject>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const QString openAIKey = QStringLiteral("sk-pipeline-openai");
const QString deepSeekKey = QStringLiteral("sk-pipeline-deepseek");

// The product's own error a row names: rows say which error reaches the user; its wording is
// checked where it is written.
QString messageOf(const QJsonObject& error) {
    using Coordinator = DictationCoordinatorError::Case;
    if (error["coordinator"] == "timedOut")
        return DictationCoordinatorError(Coordinator::timedOut).description();
    if (error["coordinator"] == "missingOpenAIKey")
        return DictationCoordinatorError(Coordinator::missingOpenAIKey).description();
    if (error["transcription"] == "connectionClosed")
        return TranscriptionProviderError(TranscriptionProviderError::Case::connectionClosed).description();
    return NetworkError(error["network"].toInt()).description();
}

} // namespace

class DictationPipelineTest : public QObject {
    Q_OBJECT

private slots:
    void dictationEndsAsTheUserMustSeeItAndLeavesNothingOpen_data() {
        test::rowsFromJson(QFINDTESTDATA("coordinator/pipeline_cases.json"));
    }
    void dictationEndsAsTheUserMustSeeItAndLeavesNothingOpen() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        fake::FakeServices server;
        QVERIFY(server.listen());
        QString error;
        const auto script = fake::Script::fromJson(row["script"].toObject(), &error);
        QVERIFY2(script, qPrintable(error));
        server.script = *script;

        AudioCapturingFake microphone;
        // Time-outs of a few seconds, not the product's 35 s and 20 s.
        test::PipelineRig rig(environment.root(), server.baseUrl().toString(), microphone,
                              std::make_shared<SecretBackendFake>(), DictationTiming{2s, 2s, 50ms, 1s});
        rig.keychain.save(openAIKey, CredentialKind::openAI);
        rig.keychain.save(deepSeekKey, CredentialKind::deepSeek);
        rig.secrets->reachable = !row["keyringLocked"].toBool(); // locked: holds the keys, gives none out
        rig.keyboard.available = !row["noSyntheticInput"].toBool();
        const bool deepSeek = row["refinement"] == "deepSeek";
        if (deepSeek) rig.settings.setRefinementProvider(RefinementProviderKind::deepSeek);
        if (row["historyBlocked"].toBool()) test::writeFile(environment.root() + "/history", "in the way");
        const auto reaches = [&](const DictationPhase& phase) {
            return QTest::qWaitFor([&] { return rig.state.phase() == phase; }, 15000);
        };

        // Cancelled rows: cancel instead of stopping, or once the stop has reached that phase.
        const QString cancelIn = row["cancelIn"].toString();
        const auto cancelInPhase = [&](const char* phase, const DictationPhase& reached) {
            if (cancelIn != phase) return;
            QVERIFY(reaches(reached));
            // A refinement is cancelled once its request is with the service.
            if (row.contains("refinedAt")) QVERIFY(QTest::qWaitFor([&] { return !server.requests.isEmpty(); }, 5000));
            rig.coordinator.cancelDictation();
        };
        rig.coordinator.toggleDictation();
        const bool records = row["records"].toBool(true);
        if (records) {
            QVERIFY(reaches(DictationPhase::recording()));
            // Chunks of 100 ms of 24 kHz PCM16. (Their order, and their hand-over from the capture
            // thread, are checked by the layers' own tests.)
            const QByteArray chunk(4800, 'a');
            microphone.deliver(chunk);
            const bool untilClosed = row["untilClosed"].toBool();
            const auto heard = [&] {
                return !server.sessions.isEmpty() && server.sessions.first().frameCount > 1;
            };
            QVERIFY(QTest::qWaitFor(
                [&] { return heard() && (!untilClosed || server.sessions.first().closed); }, 10000));
            for (int i = 0; i < 4; ++i)
                microphone.deliver(chunk);
            const QString partial = row["partial"].toString();
            if (!partial.isEmpty())
                QVERIFY(QTest::qWaitFor([&] { return rig.state.partialTranscript() == partial; }, 10000));
            QCOMPARE(rig.state.phase(), DictationPhase::recording()); // only the user ends a recording
            if (cancelIn == "recording")
                rig.coordinator.cancelDictation();
            else
                rig.coordinator.toggleDictation();
        }
        cancelInPhase("transcribing", DictationPhase::transcribing());
        cancelInPhase("refining", DictationPhase::refining());
        const DictationPhase end = !cancelIn.isEmpty() ? DictationPhase::cancelled()
                                   : row.contains("error")
                                       ? DictationPhase::error(messageOf(row["error"].toObject()))
                                       : DictationPhase::success();
        QVERIFY2(reaches(end), qPrintable(rig.state.phase().message()));
        if (!cancelIn.isEmpty()) {
            QVERIFY(reaches(DictationPhase::idle())); // "已取消" does not stay
            rig.coordinator.copyBestAvailableText();  // nothing of it is left to copy either
        }

        QCOMPARE(microphone.starts, records ? 1 : 0);
        if (!records) QVERIFY(server.sessions.isEmpty());
        if (row.contains("clipboard"))
            QCOMPARE(rig.pasteboard.string(), row["clipboard"].toString());
        else
            QVERIFY(rig.pasteboard.operations.isEmpty()); // no partial transcript passed off as the text
        QCOMPARE(rig.keyboard.postAttempts, row["pastes"].toInt());
        if (row.contains("kept")) QCOMPARE(test::run(rig.history.allEntries()).size(), row["kept"].toInt());
        // The realtime socket goes with the dictation. (The HTTP connection may stay in the shared
        // network session's pool; it belongs to no dictation. What else a dictation holds is counted
        // on fakes by the unit tests.)
        for (const fake::RecordedSession& session : server.sessions) {
            QCOMPARE(session.authorization, ("Bearer " + openAIKey).toUtf8());
            QVERIFY(QTest::qWaitFor([&] { return session.closed; }, 5000));
            if (row.contains("committed"))
                QCOMPARE(std::any_of(session.frames.begin(), session.frames.end(),
                                     [](const fake::RecordedFrame& frame) {
                                         return frame.data.contains("input_audio_buffer.commit");
                                     }),
                         row["committed"].toBool());
        }
        QCOMPARE(server.requests.size(), row.contains("refinedAt") ? 1 : 0);
        if (row.contains("refinedAt")) {
            QCOMPARE(server.requests.first().target, row["refinedAt"].toString().toUtf8());
            QCOMPARE(server.requests.first().headers.value("authorization"),
                     ("Bearer " + (deepSeek ? deepSeekKey : openAIKey)).toUtf8());
        }
    }
};

QTEST_GUILESS_MAIN(DictationPipelineTest)
#include "tst_DictationPipeline.moc"

// The providers without a network: the realtime service's events, the mocks, the service URLs and
// where prompts come from.
#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "refinement/MockTextRefinementProvider.h"
#include "refinement/PromptLibrary.h"
#include "refinement/ProviderConfiguration.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/MockSpeechTranscriptionProvider.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"
#include "transcription/TranscriptionProviderError.h"

#include <QDir>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

using namespace murmelo;
using namespace std::chrono_literals;

class ProvidersTest : public QObject {
    Q_OBJECT
private slots:
    void serverEventsAreReadOrRejected_data() { test::rowsFromJson(QFINDTESTDATA("transcription/realtime_events.json")); }
    void serverEventsAreReadOrRejected() {
        QFETCH(QJsonObject, row);
        const QStringList kinds{"ignored", "delta", "completed", "emptyTranscript", "serverError"}; // enum order
        try {
            const auto event = OpenAIRealtimeTranscriptionProvider::parseServerEvent(row["frame"].toString().toUtf8());
            QCOMPARE(kinds.value(int(event.kind)), row["kind"].toString());
            QCOMPARE(event.text, row["text"].toString());
            QCOMPARE(event.languages, row["languages"].toVariant().toStringList());
        } catch (const Error& error) {
            QCOMPARE(error.description(), row["error"].toString());
        }
    }

    void mockTranscriptionKeepsTheSessionRulesAndGivesOnePartialPastHalfASecond() {
        using Case = TranscriptionProviderError::Case;
        const auto failure = [](QCoro::Task<>&& task) {
            const auto error = test::runExpectingError<TranscriptionProviderError>(std::move(task));
            return error ? std::optional(error->kind()) : std::nullopt;
        };
        MockSpeechTranscriptionProvider provider(1ms);
        QCOMPARE(failure(provider.sendAudio("x")), Case::notStarted);
        QStringList partials;
        test::run(provider.start({}, [&](const QString& delta) { partials << delta; }));
        QCOMPARE(failure(provider.start({}, {})), Case::alreadyStarted);
        test::run(provider.sendAudio(QByteArray(24000, '\1')));
        QVERIFY(partials.isEmpty()); // exactly at the threshold: nothing yet
        test::run(provider.sendAudio("x"));
        test::run(provider.sendAudio("y"));
        QCOMPARE(partials, QStringList{MockSpeechTranscriptionProvider::partialText()});
        QCOMPARE(test::run(provider.finish()).text, MockSpeechTranscriptionProvider::transcriptText());
        QVERIFY(test::runExpectingError<TranscriptionProviderError>(provider.finish()));
    }

    void mockWaitsEndInCancellationAndRefinementAnswersByMode() {
        MockSpeechTranscriptionProvider transcription(10s);
        test::run(transcription.start({}, {}));
        QTimer::singleShot(10ms, [&] { test::run(transcription.cancel()); });
        QVERIFY(test::runExpectingError<CancellationError>(transcription.finish()));
        MockTextRefinementProvider refinement(10s);
        QTimer::singleShot(10ms, [&] { refinement.cancel(); });
        QVERIFY(test::runExpectingError<CancellationError>(refinement.refine({})));
        MockTextRefinementProvider quick(0ms);
        QCOMPARE(test::run(quick.refine({"x", InputMode::translateToEnglish, "g"})),
                 MockTextRefinementProvider::translationText());
        QCOMPARE(test::run(quick.refine({"x", InputMode::smartDictation, "g"})),
                 MockTextRefinementProvider::smartDictationText());
    }

    void baseURLOverridesReachEveryEndpointAndABadOneWarnsOnce_data() {
        test::rowsFromJson(QFINDTESTDATA("transcription/provider_urls.json"));
    }
    void baseURLOverridesReachEveryEndpointAndABadOneWarnsOnce() {
        QFETCH(QJsonObject, row);
        QStringList warnings;
        const ProviderConfiguration configuration([&](const char* name) { return row[QLatin1String(name)].toString(); },
                                                  [&](const QString& line) { warnings << line; });
        QCOMPARE(configuration.openAIRealtimeURL().toString(), row["realtime"].toString());
        QCOMPARE(configuration.openAIResponsesURL().toString(), row["responses"].toString());
        QCOMPARE(configuration.deepSeekChatURL().toString(), row["chat"].toString());
        QCOMPARE(warnings.size(), row["warnings"].toInt());
        for (const QString& warning : warnings)
            QVERIFY(warning.contains("MURMELO_OPENAI_BASE_URL") && !warning.contains("pw")); // never a secret
    }

    void promptIsReadAfreshFromPromptsThenTheTopLevelUnchanged() {
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/Test.bundle";
        const auto prompt = [&] { return PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundle); };
        QVERIFY_THROWS_EXCEPTION(PromptLibraryError, prompt());
        QDir().mkpath(bundle + "/Prompts/translate_to_english.md"); // a folder is no prompt
        QVERIFY_THROWS_EXCEPTION(PromptLibraryError, prompt());
        test::writeFile(bundle + "/translate_to_english.md", "  top level\n");
        QCOMPARE(prompt(), QStringLiteral("  top level\n"));
        QDir(bundle + "/Prompts").removeRecursively();
        test::writeFile(bundle + "/Prompts/translate_to_english.md", "in folder");
        QCOMPARE(prompt(), QStringLiteral("in folder"));
        test::writeFile(bundle + "/Prompts/translate_to_english.md", "\xff\xfe\xfd");
        QVERIFY_THROWS_EXCEPTION(FileError, prompt());
    }

    void bundleIsTheFirstCandidateThatExists() {
        test::TestEnvironment environment;
        const QString a = environment.root() + "/a", b = environment.root() + "/b";
        QDir().mkpath(b);
        QCOMPARE(ResourceBundle::firstExisting({a, b, environment.root()}), std::optional<QString>(b));
        QVERIFY(!ResourceBundle::firstExisting({a}));
        const QStringList candidates = ResourceBundle::candidates();
        QCOMPARE(candidates.size(), 3);
        QVERIFY(candidates.first().endsWith("/Murmelo_MurmeloCore.bundle"));
        QVERIFY(candidates.at(1).endsWith("/share/murmelo/Murmelo_MurmeloCore.bundle"));
    }
};

QTEST_GUILESS_MAIN(ProvidersTest)
#include "tst_Providers.moc"

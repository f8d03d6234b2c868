// The providers without a network: the realtime service's events, the service URLs and where
// prompts come from.
#include "AsyncTest.h"
#include "TestEnvironment.h"
#include "refinement/PromptLibrary.h"
#include "refinement/ProviderConfiguration.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QDir>
#include <QJsonObject>
#include <QTest>

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

    void installedBundlesComeBeforeTheBuildTreesCopy() {
        const QStringList candidates = ResourceBundle::candidates();
        QCOMPARE(candidates.size(), 3);
        QVERIFY(candidates.first().endsWith("/Murmelo_MurmeloCore.bundle"));
        QVERIFY(candidates.at(1).endsWith("/share/murmelo/Murmelo_MurmeloCore.bundle"));
    }
};

QTEST_GUILESS_MAIN(ProvidersTest)
#include "tst_Providers.moc"

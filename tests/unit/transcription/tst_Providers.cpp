// The providers without a network: the realtime service's events and the service URLs.
#include "TestEnvironment.h"
#include "common/Error.h"
#include "refinement/ProviderConfiguration.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QJsonObject>
#include <QTest>

using namespace murmelo;

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
};

QTEST_GUILESS_MAIN(ProvidersTest)
#include "tst_Providers.moc"

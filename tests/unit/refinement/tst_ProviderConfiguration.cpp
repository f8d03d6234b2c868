#include "refinement/ProviderConfiguration.h"

#include <QTest>
#include <QUrlQuery>

using namespace murmelo;

class ProviderConfigurationTest : public QObject {
    Q_OBJECT

    static ProviderConfiguration make(QMap<QString, QString> values, QStringList* warnings) {
        return ProviderConfiguration([values](const char* name) { return values.value(QString::fromLatin1(name)); },
                                     [warnings](const QString& line) { warnings->append(line); });
    }

private slots:
    void defaultsPointAtTheServices() {
        QStringList warnings;
        const auto configuration = make({}, &warnings);
        QCOMPARE(configuration.openAIRealtimeURL().toString(),
                 QStringLiteral("wss://api.openai.com/v1/realtime?model=gpt-live-transcribe"));
        QCOMPARE(configuration.openAIResponsesURL().toString(), QStringLiteral("https://api.openai.com/v1/responses"));
        QCOMPARE(configuration.deepSeekChatURL().toString(), QStringLiteral("https://api.deepseek.com/chat/completions"));
        QVERIFY(warnings.isEmpty());
    }

    void localHostsSwapTheSchemeForTheSocket() {
        QStringList warnings;
        const auto configuration = make({{"MURMELO_OPENAI_BASE_URL", "http://127.0.0.1:8089/"},
                                         {"MURMELO_DEEPSEEK_BASE_URL", "http://localhost:9/prefix"}},
                                        &warnings);
        const QUrl realtime = configuration.openAIRealtimeURL();
        QCOMPARE(realtime.scheme(), QStringLiteral("ws"));
        QCOMPARE(realtime.port(), 8089);
        QCOMPARE(realtime.path(), QStringLiteral("/v1/realtime"));
        QCOMPARE(QUrlQuery(realtime).queryItems().size(), 1);
        QCOMPARE(configuration.openAIResponsesURL().toString(), QStringLiteral("http://127.0.0.1:8089/v1/responses"));
        QCOMPARE(configuration.deepSeekChatURL().toString(), QStringLiteral("http://localhost:9/prefix/chat/completions"));
        QVERIFY(warnings.isEmpty());
    }

    void invalidValuesAreIgnoredWithOneWarningEach_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("relative") << "api.example.com";
        QTest::newRow("other scheme") << "ftp://example.com";
        QTest::newRow("socket scheme") << "wss://example.com";
        QTest::newRow("no host") << "http://";
        QTest::newRow("query") << "https://example.com/?x=1";
        QTest::newRow("credentials") << "https://user:pw@example.com";
        QTest::newRow("garbage") << "http://exa mple.com";
    }
    void invalidValuesAreIgnoredWithOneWarningEach() {
        QFETCH(QString, value);
        QStringList warnings;
        const auto configuration = make({{"MURMELO_OPENAI_BASE_URL", value}}, &warnings);
        QCOMPARE(configuration.openAIResponsesURL().toString(), QStringLiteral("https://api.openai.com/v1/responses"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().contains("MURMELO_OPENAI_BASE_URL"));
        QVERIFY(!warnings.first().contains("pw")); // never echo what might be a secret
    }
};

QTEST_GUILESS_MAIN(ProviderConfigurationTest)
#include "tst_ProviderConfiguration.moc"

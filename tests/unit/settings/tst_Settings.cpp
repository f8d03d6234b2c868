#include "TestEnvironment.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <QSignalSpy>
#include <QTest>

using namespace murmelo;

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void domainsLiveWhereTheConfigurationGoes() {
        test::TestEnvironment environment;
        QCOMPARE(UserDefaults::standard()->filePath(), environment.configHome() + "/Murmelo/settings.json");
        QCOMPARE(UserDefaults::named("MurmeloSmokeTests.6F9619FF-8B86-D011-B42D-00C04FC964FF")->filePath(),
                 environment.configHome() + "/Murmelo/defaults/MurmeloSmokeTests.6F9619FF-8B86-D011-B42D-00C04FC964FF.json");
    }

    void namesThatCouldEscapeTheDirectoryAreRefused() {
        test::TestEnvironment environment;
        for (const char* name : {"", "../settings", "a/b", ".hidden", "..", "x\ny"})
            QVERIFY2(!UserDefaults::named(QString::fromUtf8(name)), name);
        QVERIFY(!UserDefaults::named(QString(201, QLatin1Char('a'))));
    }

    void valuesKeepTheirJsonTypeAcrossInstances() {
        test::TestEnvironment environment;
        {
            auto defaults = UserDefaults::standard();
            QVERIFY(defaults->set("flag", true));
            QVERIFY(defaults->set("name", QStringLiteral("中文 model")));
            QVERIFY(defaults->set(QJsonObject{{"a", 1}, {"b", "two"}}));
        }
        auto reopened = UserDefaults::standard();
        QCOMPARE(reopened->value("flag"), QJsonValue(true));
        QCOMPARE(reopened->string("name"), std::optional<QString>(QStringLiteral("中文 model")));
        QCOMPARE(reopened->value("a"), QJsonValue(1));
        QVERIFY(!reopened->string("flag")); // a boolean is not a string
        QVERIFY(reopened->value("missing").isUndefined());
    }

    void removingTheDomainDeletesItsFile() {
        test::TestEnvironment environment;
        auto domain = UserDefaults::named("Scratch");
        domain->set("k", 1);
        QVERIFY(QFile::exists(domain->filePath()));
        QVERIFY(domain->removeDomain());
        QVERIFY(!QFile::exists(domain->filePath()));
        QVERIFY(!domain->contains("k"));
        QVERIFY(!UserDefaults::named("Scratch")->contains("k"));
    }

    void unreadableFileIsKeptAsideBeforeTheFirstWrite() {
        test::TestEnvironment environment;
        const QString path = environment.configHome() + "/Murmelo/settings.json";
        for (const QByteArray& content : {QByteArray("{truncated"), QByteArray("[1,2]"), QByteArray("\xff\xfe")}) {
            QDir(environment.configHome() + "/Murmelo").removeRecursively();
            test::writeFile(path, content);
            auto defaults = UserDefaults::standard();
            QVERIFY(defaults->snapshot().isEmpty());
            QCOMPARE(test::readAll(path), content); // reading alone changes nothing
            defaults->set("k", 1);
            const QStringList aside = QDir(environment.configHome() + "/Murmelo").entryList({"settings.json.unreadable-*"});
            QCOMPARE(aside.size(), 1);
            QCOMPARE(test::readAll(environment.configHome() + "/Murmelo/" + aside.first()), content);
            QCOMPARE(QJsonDocument::fromJson(test::readAll(path)).object(), QJsonObject({{"k", 1}}));
        }
    }

    void emptyStoreGivesDefaultsAndWritesNothing() {
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        QCOMPARE(settings.inputMode(), InputMode::smartDictation);
        QCOMPARE(settings.useMockProviders(), true);
        QCOMPARE(settings.saveHistory(), false);
        QCOMPARE(settings.launchAtLogin(), false);
        QCOMPARE(settings.openAIModel(), QStringLiteral("gpt-live-transcribe"));
        QCOMPARE(settings.openAIRefinementModel(), QStringLiteral("gpt-5.6-terra"));
        QCOMPARE(settings.deepSeekModel(), QStringLiteral("deepseek-v4-flash"));
        QCOMPARE(settings.refinementProvider(), RefinementProviderKind::deepSeek);
        QCOMPARE(settings.selectedMicrophoneUID(), QString());
        QCOMPARE(settings.hotkeyPreset(), HotkeyPreset::controlOptionSpace);
        QVERIFY(!settings.isInitializing());
        QVERIFY(defaults.snapshot().isEmpty());
        QVERIFY(!QFile::exists(defaults.filePath()));
    }

    void storedValuesAreParsedExactly_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("stored");
        QTest::addColumn<QString>("expected"); // what the getter reads, as text
        QTest::newRow("mode exact") << AppSettings::inputModeKey << QJsonValue("translateToEnglish") << "translateToEnglish";
        QTest::newRow("mode other case") << AppSettings::inputModeKey << QJsonValue("TranslateToEnglish") << "smartDictation";
        QTest::newRow("mode not a string") << AppSettings::inputModeKey << QJsonValue(1) << "smartDictation";
        QTest::newRow("mock as string") << AppSettings::useMockProvidersKey << QJsonValue("false") << "true";
        QTest::newRow("mock as number") << AppSettings::useMockProvidersKey << QJsonValue(0) << "true";
        QTest::newRow("mock false") << AppSettings::useMockProvidersKey << QJsonValue(false) << "false";
        QTest::newRow("history as string") << AppSettings::saveHistoryKey << QJsonValue("true") << "false";
        QTest::newRow("preset exact") << AppSettings::hotkeyPresetKey << QJsonValue("commandShiftSpace") << "commandShiftSpace";
        QTest::newRow("preset unknown") << AppSettings::hotkeyPresetKey << QJsonValue("f13") << "controlOptionSpace";
        QTest::newRow("provider") << AppSettings::refinementProviderKey << QJsonValue("openAI") << "openAI";
        QTest::newRow("model kept untrimmed") << AppSettings::openAIModelKey << QJsonValue(" m ") << " m ";
        QTest::newRow("model not a string") << AppSettings::deepSeekModelKey << QJsonValue(true) << "deepseek-v4-flash";
    }
    void storedValuesAreParsedExactly() {
        QFETCH(QString, key);
        QFETCH(QJsonValue, stored);
        QFETCH(QString, expected);
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        defaults.set(key, stored);
        AppSettings settings(defaults);
        const QMap<QString, QString> read{
            {AppSettings::inputModeKey, rawValue(settings.inputMode())},
            {AppSettings::useMockProvidersKey, settings.useMockProviders() ? "true" : "false"},
            {AppSettings::saveHistoryKey, settings.saveHistory() ? "true" : "false"},
            {AppSettings::hotkeyPresetKey, rawValue(settings.hotkeyPreset())},
            {AppSettings::refinementProviderKey, rawValue(settings.refinementProvider())},
            {AppSettings::openAIModelKey, settings.openAIModel()},
            {AppSettings::deepSeekModelKey, settings.deepSeekModel()},
        };
        QCOMPARE(read.value(key), expected);
    }

    void oneChangeWritesAllTenKeysAndSignals() {
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        QSignalSpy history(&settings, &AppSettings::saveHistoryChanged);
        QSignalSpy any(&settings, &AppSettings::changed);
        settings.setSaveHistory(true);
        QCOMPARE(history.size(), 1);
        QCOMPARE(any.size(), 1);
        const QJsonObject stored = defaults.snapshot();
        QCOMPARE(stored.size(), 10);
        QCOMPARE(stored.value(AppSettings::saveHistoryKey), QJsonValue(true));
        QCOMPARE(stored.value(AppSettings::useMockProvidersKey), QJsonValue(true));
        QCOMPARE(stored.value(AppSettings::hotkeyPresetKey), QJsonValue("controlOptionSpace"));
        QCOMPARE(stored.value(AppSettings::selectedMicrophoneUIDKey), QJsonValue(""));
    }

    void changesSurviveARestart() {
        test::TestEnvironment environment;
        {
            auto defaults = UserDefaults::standard();
            AppSettings settings(*defaults);
            settings.setHotkeyPreset(HotkeyPreset::commandShiftSpace);
            settings.setInputMode(InputMode::translateToEnglish);
            settings.setDeepSeekModel(QStringLiteral("deepseek-x"));
            settings.setSelectedMicrophoneUID(QStringLiteral("alsa_input.usb-mic"));
        }
        auto defaults = UserDefaults::standard();
        AppSettings settings(*defaults);
        QCOMPARE(settings.hotkeyPreset(), HotkeyPreset::commandShiftSpace);
        QCOMPARE(settings.inputMode(), InputMode::translateToEnglish);
        QCOMPARE(settings.deepSeekModel(), QStringLiteral("deepseek-x"));
        QCOMPARE(settings.selectedMicrophoneUID(), QStringLiteral("alsa_input.usb-mic"));
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_Settings.moc"

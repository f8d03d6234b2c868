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
    void domainsLiveInTheConfigFolderAndNoNameEscapesIt() {
        test::TestEnvironment environment;
        const QString folder = environment.configHome() + "/Murmelo";
        QCOMPARE(UserDefaults::standard()->filePath(), folder + "/settings.json");
        QCOMPARE(UserDefaults::named("Scratch.1")->filePath(), folder + "/defaults/Scratch.1.json");
        for (const QString& name : QStringList{"", "../settings", "a/b", ".hidden", "x\ny", QString(201, 'a')})
            QVERIFY2(!UserDefaults::named(name), qPrintable(name)); // it would escape the folder
    }

    void freshInstallRunsInMockModeWithoutHistoryAndWritesNothing() {
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        QVERIFY(settings.useMockProviders() && !settings.saveHistory() && !settings.isInitializing());
        QVERIFY(!QFile::exists(defaults.filePath()));
    }

    // A stored value counts only with its own JSON type and an exact enum name; `read` is what the
    // settings write back.
    void storedValuesAreReadOnlyWithTheirOwnType_data() {
        test::rowsFromJson(QFINDTESTDATA("settings/stored_values.json"));
    }
    void storedValuesAreReadOnlyWithTheirOwnType() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        defaults.set(row["key"].toString(), row["stored"]);
        AppSettings settings(defaults);
        settings.persist();
        QCOMPARE(defaults.value(row["key"].toString()), row["read"]);
    }

    void aChangeSignalsOnceAndIsSavedWholeForTheNextStart() {
        test::TestEnvironment environment;
        UserDefaults defaults(environment.root() + "/settings.json");
        AppSettings settings(defaults);
        QSignalSpy history(&settings, &AppSettings::saveHistoryChanged), any(&settings, &AppSettings::changed);
        settings.setSaveHistory(true);
        QVERIFY(history.size() == 1 && any.size() == 1);
        UserDefaults reopened(defaults.filePath());
        QVERIFY(AppSettings(reopened).saveHistory());
        QCOMPARE(reopened.snapshot().size(), 10); // every key, for the format's other readers
    }

    // Each unreadable file goes aside, in the same second too, and no copy overwrites another.
    void unreadableFileIsKeptAsideBeforeTheFirstWriteNeverOverwritingACopy() {
        test::TestEnvironment environment;
        const QString folder = environment.configHome() + "/Murmelo";
        QList<QByteArray> contents;
        for (const QByteArray& content : {QByteArray("{truncated"), QByteArray("[1,2]"), QByteArray("\xff\xfe")}) {
            test::writeFile(folder + "/settings.json", content);
            auto defaults = UserDefaults::standard();
            QVERIFY(defaults->snapshot().isEmpty());
            QCOMPARE(test::readAll(folder + "/settings.json"), content); // reading alone changes nothing
            defaults->set("k", 1);
            QCOMPARE(QJsonDocument::fromJson(test::readAll(folder + "/settings.json")).object(), QJsonObject({{"k", 1}}));
            contents << content;
        }
        QList<QByteArray> aside;
        for (const QString& name : QDir(folder).entryList({"settings.json.unreadable-*"}))
            aside << test::readAll(folder + "/" + name);
        std::sort(aside.begin(), aside.end());
        std::sort(contents.begin(), contents.end());
        QCOMPARE(aside, contents);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_Settings.moc"

#include "TestEnvironment.h"
#include "settings/UserDefaults.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace murmelo;

class UserDefaultsTest : public QObject {
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
};

QTEST_GUILESS_MAIN(UserDefaultsTest)
#include "tst_UserDefaults.moc"

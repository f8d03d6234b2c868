#include "AsyncTest.h"
#include "FileSizeLimit.h"
#include "TestEnvironment.h"
#include "stores/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <limits>

using namespace murmelo;

namespace {

HistoryEntry entry(const QString& text, double createdAt = 800000000.25) {
    HistoryEntry result;
    result.createdAt = createdAt;
    result.mode = InputMode::translateToEnglish;
    result.text = text;
    result.audioDuration = 1.2;
    result.completionLatency = 0.8;
    return result;
}

QString defaultPath(const test::TestEnvironment& environment) {
    return environment.dataHome() + QStringLiteral("/Murmelo/history.json");
}

QStringList texts(const QList<HistoryEntry>& entries) {
    QStringList result;
    for (const auto& each : entries)
        result << each.text;
    return result;
}

QJsonArray fileArray(const QString& path) {
    return QJsonDocument::fromJson(test::readAll(path)).array();
}

QStringList asideCopies(const QString& path) {
    const QFileInfo info(path);
    return QDir(info.absolutePath())
        .entryList({info.fileName() + QStringLiteral(".unreadable-*")}, QDir::Files);
}

const char* validEntryJson =
    R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","createdAt":786000000.5,)"
    R"("mode":"smartDictation","text":"旧的","audioDuration":2,"completionLatency":1})";

} // namespace

class HistoryStoreTest : public QObject {
    Q_OBJECT
private slots:
    void keepsTheNewest500NewestFirst() {
        test::TestEnvironment environment;
        HistoryStore store;
        for (int i = 1; i <= 501; ++i)
            test::run(store.append(entry(QString::number(i))));
        const auto entries = test::run(store.allEntries());
        QCOMPARE(entries.size(), 500);
        QCOMPARE(entries.first().text, QStringLiteral("501"));
        QCOMPARE(entries.last().text, QStringLiteral("2"));

        const QJsonArray file = fileArray(defaultPath(environment));
        QCOMPARE(file.size(), 500);
        QCOMPARE(file.first().toObject().value("text").toString(), QStringLiteral("501"));
        QCOMPARE(test::unixMode(defaultPath(environment)), 0600);
        QCOMPARE(test::unixMode(QFileInfo(defaultPath(environment)).absolutePath()), 0700);
        HistoryStore reopened;
        QCOMPARE(test::run(reopened.allEntries()), entries);
    }

    void entriesRoundTripExactly() {
        test::TestEnvironment environment;
        HistoryStore store;
        // Doubles that need all 17 significant digits, and a fraction below a microsecond.
        QList<HistoryEntry> written{entry(QStringLiteral("a"), 1.0 / 3.0),
                                    entry(QStringLiteral("b"), 786543210.123456789),
                                    entry(QStringLiteral("c\n\"引号\"\t"), -0.1)};
        written[1].mode = InputMode::smartDictation;
        written[1].audioDuration = 0.1 + 0.2;
        written[2].completionLatency = 5e-324;
        for (const auto& each : written)
            test::run(store.append(each));

        const QJsonObject first = fileArray(defaultPath(environment)).first().toObject();
        QCOMPARE(first.value("id").toString(), written[2].id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(first.keys(),
                 (QStringList{"audioDuration", "completionLatency", "createdAt", "id", "mode", "text"}));

        HistoryStore reopened;
        const auto read = test::run(reopened.allEntries());
        QCOMPARE(read, (QList{written[2], written[1], written[0]}));
        QCOMPARE(read[1].createdAt, 786543210.123456789);
        QCOMPARE(read[1].mode, InputMode::smartDictation);
    }

    void referenceDatesCountFrom2001() {
        QCOMPARE(dateFromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
        QCOMPARE(referenceSeconds(QDateTime(QDate(2021, 1, 1), QTime(0, 0, 0, 500), Qt::UTC)), 631152000.5);
        QVERIFY(qAbs(referenceSecondsNow() - referenceSeconds(QDateTime::currentDateTimeUtc())) < 60);
        QVERIFY(!dateFromReferenceSeconds(std::numeric_limits<double>::infinity()).isValid());
    }

    void missingFileReadsEmptyAndIsNotCreated() {
        test::TestEnvironment environment;
        HistoryStore store;
        QVERIFY(test::run(store.allEntries()).isEmpty());
        QVERIFY(!QFileInfo::exists(QFileInfo(defaultPath(environment)).absolutePath()));
        // While the list is empty the file is consulted again, so entries written meanwhile appear.
        test::writeFile(defaultPath(environment), QByteArray("[") + validEntryJson + "]");
        QCOMPARE(texts(test::run(store.allEntries())), QStringList{QStringLiteral("旧的")});
    }

    void theListInMemoryIsNotReadAgainWhileItHoldsEntries() {
        test::TestEnvironment environment;
        HistoryStore store;
        test::run(store.append(entry(QStringLiteral("我的"))));
        test::writeFile(defaultPath(environment), QByteArray("[") + validEntryJson + "]");
        // Asking twice must not lose the list: the second answer would then come from the file.
        QCOMPARE(texts(test::run(store.allEntries())), QStringList{QStringLiteral("我的")});
        QCOMPARE(texts(test::run(store.allEntries())), QStringList{QStringLiteral("我的")});
    }

    void clearDeletesTheFileAndAppendStartsAgain() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        HistoryStore store;
        test::run(store.append(entry(QStringLiteral("一"))));
        test::run(store.append(entry(QStringLiteral("二"))));
        test::run(store.clear());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(QFileInfo(QFileInfo(path).absolutePath()).isDir());
        QVERIFY(test::run(store.allEntries()).isEmpty());
        test::run(store.clear()); // no file: still fine
        test::run(store.append(entry(QStringLiteral("三"))));
        QCOMPARE(fileArray(path).size(), 1);
    }

    void removeDropsEveryMatchAndAlwaysRewrites() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        HistoryEntry twice = entry(QStringLiteral("重复"));
        const HistoryEntry other = entry(QStringLiteral("别的"));
        QJsonArray array{twice.toJson(), other.toJson(), twice.toJson()};
        test::writeFile(path, QJsonDocument(array).toJson(QJsonDocument::Indented));

        HistoryStore store;
        test::run(store.remove(QUuid::createUuid()));
        QCOMPARE(test::run(store.allEntries()).size(), 3);
        QCOMPARE(test::readAll(path),
                 QJsonDocument(array).toJson(QJsonDocument::Compact)); // rewritten all the same

        test::run(store.remove(twice.id));
        QCOMPARE(test::run(store.allEntries()), QList{other});
        QCOMPARE(fileArray(path).size(), 1);
    }

    void undecodableFilesAreKeptAsideBeforeTheFirstWrite_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("byAppend");
        QTest::newRow("truncated, append")
            << QByteArray("[") + QByteArray(validEntryJson).chopped(10) << true;
        QTest::newRow("unknown mode, remove")
            << QByteArray("[") + QByteArray(validEntryJson).replace("smartDictation", "dictation") + "]"
            << false;
        QTest::newRow("invalid UTF-8, append")
            << QByteArray("[") + QByteArray(validEntryJson).replace("旧的", "\xc3\x28") + "]" << true;
    }

    void undecodableFilesAreKeptAsideBeforeTheFirstWrite() {
        QFETCH(QByteArray, content);
        QFETCH(bool, byAppend);
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        test::writeFile(path, content);
        HistoryStore store;
        QVERIFY(test::run(store.allEntries()).isEmpty());
        QCOMPARE(test::readAll(path), content);

        if (byAppend)
            test::run(store.append(entry(QStringLiteral("新"))));
        else
            test::run(store.remove(QUuid::createUuid()));
        QCOMPARE(fileArray(path).size(), byAppend ? 1 : 0);
        const QStringList copies = asideCopies(path);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(test::readAll(QFileInfo(path).absolutePath() + QLatin1Char('/') + copies[0]), content);
    }

    void failedWritesKeepTheListAndTheOldFile() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        HistoryStore store;
        test::run(store.append(entry(QStringLiteral("一"))));
        const QByteArray before = test::readAll(path);
        {
            test::FileSizeLimit fullDisk(before.size() + 16);
            test::run(store.append(entry(QStringLiteral("二"))));
            test::run(store.remove(QUuid::createUuid()));
        }
        QCOMPARE(texts(test::run(store.allEntries())), (QStringList{"二", "一"}));
        QCOMPARE(test::readAll(path), before);
        test::run(store.append(entry(QStringLiteral("三"))));
        HistoryStore reopened;
        QCOMPARE(texts(test::run(reopened.allEntries())), (QStringList{"三", "二", "一"}));
    }

    void nonFiniteNumbersCannotSpoilTheFile() {
        test::TestEnvironment environment;
        HistoryStore store;
        HistoryEntry odd = entry(QStringLiteral("奇怪"));
        odd.audioDuration = std::numeric_limits<double>::quiet_NaN();
        odd.completionLatency = std::numeric_limits<double>::infinity();
        test::run(store.append(odd));
        test::run(store.append(entry(QStringLiteral("正常"))));
        HistoryStore reopened;
        const auto read = test::run(reopened.allEntries());
        QCOMPARE(texts(read), (QStringList{"正常", "奇怪"}));
        QCOMPARE(read[1].audioDuration, 0.0);
        QCOMPARE(read[1].completionLatency, 0.0);
    }
};

QTEST_GUILESS_MAIN(HistoryStoreTest)
#include "tst_HistoryStore.moc"

#include "FileSizeLimit.h"
#include "TestEnvironment.h"
#include "stores/DictionaryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace murmelo;

namespace {

DictionaryEntry entry(QString canonical, DictionaryEntryKind kind, QStringList aliases = {},
                      std::optional<QString> english = std::nullopt) {
    DictionaryEntry result;
    result.canonical = std::move(canonical);
    result.kind = kind;
    result.aliases = std::move(aliases);
    result.english = std::move(english);
    return result;
}

QString defaultPath(const test::TestEnvironment& environment) {
    return environment.dataHome() + QStringLiteral("/Murmelo/dictionary.json");
}

QStringList asideCopies(const QString& path) {
    const QFileInfo info(path);
    return QDir(info.absolutePath())
        .entryList({info.fileName() + QStringLiteral(".unreadable-*")},
                   QDir::Files | QDir::Dirs | QDir::Hidden);
}

const char* validEntryJson =
    R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","canonical":"Murmelo","aliases":["默默"],"kind":"product"})";

} // namespace

class DictionaryStoreTest : public QObject {
    Q_OBJECT
private slots:
    void keywordsAndGlossary_data() {
        QTest::addColumn<QList<DictionaryEntry>>("entries");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<QString>("glossary");

        QTest::newRow("empty") << QList<DictionaryEntry>{} << QStringList{}
                               << QStringLiteral("（无个人词典）");
        QTest::newRow("no aliases, no English: the line ends after the kind")
            << QList{entry(QStringLiteral("张伟"), DictionaryEntryKind::person)}
            << QStringList{QStringLiteral("张伟")} << QStringLiteral("- 张伟（人名）");
        QTest::newRow("brand with a spaced alias and an English form")
            << QList{entry(QStringLiteral("小米 SU7"), DictionaryEntryKind::brand,
                           {QStringLiteral("xiao mi su 7")}, QStringLiteral("Xiaomi SU7"))}
            << QStringList{QStringLiteral("小米 SU7"), QStringLiteral("xiao mi su 7")}
            << QStringLiteral("- 小米 SU7（品牌）；可能误写：xiao mi su 7；英文：Xiaomi SU7");
        QTest::newRow("blank canonical: no keyword but still a line; kept keywords are untrimmed")
            << QList{entry(QStringLiteral("   "), DictionaryEntryKind::other,
                           {QStringLiteral(" k8s "), QStringLiteral("\n")})}
            << QStringList{QStringLiteral(" k8s ")} << QStringLiteral("-    （其他）；可能误写： k8s 、\n");
        QTest::newRow("empty English is present; lines joined by one line feed, none trailing")
            << QList{entry(QStringLiteral("A"), DictionaryEntryKind::brand,
                           {QStringLiteral("B"), QStringLiteral("C")}, QStringLiteral("D")),
                     entry(QStringLiteral("梯度下降"), DictionaryEntryKind::technicalTerm, {}, QString()),
                     entry(QStringLiteral("A"), DictionaryEntryKind::product)}
            << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"),
                           QStringLiteral("梯度下降"), QStringLiteral("A")}
            << QStringLiteral(
                   "- A（品牌）；可能误写：B、C；英文：D\n- 梯度下降（专业术语）；英文：\n- A（产品）");
    }

    void keywordsAndGlossary() {
        QFETCH(QList<DictionaryEntry>, entries);
        test::TestEnvironment environment;
        DictionaryStore store;
        store.setEntries(entries);
        QTEST(store.keywords(), "keywords");
        QTEST(store.glossaryText(), "glossary");
    }

    void changesArePersistedPrivatelyAndReadBack() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        // Looser permissions left by something else must not survive our first write.
        test::writeFile(path, "[]");
        QFile::setPermissions(QFileInfo(path).absolutePath(), QFileDevice::Permissions(0x7755));
        QFile::setPermissions(path, QFileDevice::Permissions(0x6644));

        DictionaryStore store;
        QCOMPARE(store.filePath(), path);
        QSignalSpy changed(&store, &DictionaryStore::entriesChanged);
        const auto withEnglish =
            entry(QStringLiteral("通义千问"), DictionaryEntryKind::product,
                  {QStringLiteral("同意千问"), QStringLiteral("tong yi")}, QStringLiteral("Qwen"));
        const auto withoutEnglish = entry(QStringLiteral("李雷"), DictionaryEntryKind::person);
        const auto removed = entry(QStringLiteral("韩梅梅"), DictionaryEntryKind::person);
        QVERIFY(store.add(withEnglish));
        QVERIFY(store.add(removed));
        QVERIFY(store.add(withoutEnglish));
        QVERIFY(store.removeAt({1, 7, -1}));
        QCOMPARE(changed.count(), 4);
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(QFileInfo(path).absolutePath()), 0700);

        const QJsonArray file = QJsonDocument::fromJson(test::readAll(path)).array();
        QCOMPARE(file.size(), 2);
        QCOMPARE(file[0].toObject().value("id").toString(),
                 withEnglish.id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(file[0].toObject().value("kind").toString(), QStringLiteral("product"));
        QVERIFY(!file[1].toObject().contains("english"));

        DictionaryStore reopened;
        QCOMPARE(reopened.entries(), (QList{withEnglish, withoutEnglish}));
        QVERIFY(!reopened.entries()[1].english);
    }

    void removesSeveralPositionsAtOnce() {
        test::TestEnvironment environment;
        DictionaryStore store;
        for (const char* name : {"a", "b", "c", "d"})
            store.add(entry(QString::fromLatin1(name), DictionaryEntryKind::other));
        store.removeAt({2, 0, 2});
        QCOMPARE(store.keywords(), (QStringList{"b", "d"}));
    }

    void undecodableFilesLoadEmptyAndStayUntouched_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("truncated") << (QByteArray("[") + validEntryJson).chopped(3);
        QTest::newRow("one good, one bad entry")
            << QByteArray("[") + validEntryJson + QByteArray(R"(,{"id":"x"}])");
        QTest::newRow("invalid UTF-8")
            << QByteArray(R"([{"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","canonical":")") +
                   QByteArray("\xff\xfe") + QByteArray(R"(","aliases":[],"kind":"other"}])");
        QTest::newRow("50 MB of something else") << QByteArray("[") + QByteArray(50 << 20, 'x');
    }

    void undecodableFilesLoadEmptyAndStayUntouched() {
        QFETCH(QByteArray, content);
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        test::writeFile(path, content);
        DictionaryStore store;
        QVERIFY(store.entries().isEmpty());
        QCOMPARE(store.glossaryText(), QStringLiteral("（无个人词典）"));
        QCOMPARE(test::readAll(path), content); // loading never writes
    }

    void firstWriteMovesAnUndecodableFileAside() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        const QByteArray precious = QByteArray("[") + validEntryJson + R"(,{"kind":"someday"}])";
        test::writeFile(path, precious);
        DictionaryStore store;
        QVERIFY(store.add(entry(QStringLiteral("新词"), DictionaryEntryKind::other)));

        const QStringList copies = asideCopies(path);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(test::readAll(QFileInfo(path).absolutePath() + QLatin1Char('/') + copies[0]), precious);
        QCOMPARE(DictionaryStore().keywords(), QStringList{QStringLiteral("新词")});
        // Only the file we could not read is kept; our own later writes replace ours.
        QVERIFY(store.add(entry(QStringLiteral("再一个"), DictionaryEntryKind::other)));
        QCOMPARE(asideCopies(path).size(), 1);
    }

    void directoryInPlaceOfTheFileIsKeptAside() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        test::writeFile(path + QStringLiteral("/inside.txt"), "keep me");
        DictionaryStore store;
        QVERIFY(store.entries().isEmpty());
        QVERIFY(store.add(entry(QStringLiteral("词"), DictionaryEntryKind::other)));
        const QStringList copies = asideCopies(path);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(test::readAll(QFileInfo(path).absolutePath() + QLatin1Char('/') + copies[0] +
                               QStringLiteral("/inside.txt")),
                 QByteArray("keep me"));
        QCOMPARE(DictionaryStore().entries().size(), 1);
    }

    void failedWritesKeepTheEditsAndTheOldFile() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        DictionaryStore store;
        QVERIFY(store.add(entry(QStringLiteral("旧"), DictionaryEntryKind::other)));
        const QByteArray before = test::readAll(path);
        {
            test::FileSizeLimit fullDisk(before.size() + 8);
            QVERIFY(!store.add(entry(QStringLiteral("一个放不下的新词条"), DictionaryEntryKind::other)));
        }
        QCOMPARE(store.entries().size(), 2);
        QCOMPARE(test::readAll(path), before);
        QVERIFY(store.persist()); // the next successful write stores what was edited meanwhile
        QCOMPARE(DictionaryStore().entries(), store.entries());
    }

    void readOnlyDirectoryLeavesTheFileAlone() {
        test::TestEnvironment environment;
        const QString path = defaultPath(environment);
        DictionaryStore store;
        QVERIFY(store.add(entry(QStringLiteral("旧"), DictionaryEntryKind::other)));
        const QByteArray before = test::readAll(path);
        const QString directory = QFileInfo(path).absolutePath();
        QFile::setPermissions(directory, QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(directory).isWritable())
            QSKIP("running with privileges that ignore directory permissions");
        QVERIFY(!store.add(entry(QStringLiteral("新"), DictionaryEntryKind::other)));
        QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(test::readAll(path), before);
        QCOMPARE(store.entries().size(), 2);
    }
};

QTEST_GUILESS_MAIN(DictionaryStoreTest)
#include "tst_DictionaryStore.moc"

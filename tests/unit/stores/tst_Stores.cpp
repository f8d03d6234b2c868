#include "AsyncTest.h"
#include "FileSizeLimit.h"
#include "SecretBackendFake.h"
#include "TestEnvironment.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "stores/KeychainStore.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace murmelo;

namespace {

QString pathOf(const test::TestEnvironment& environment, const QString& store) {
    return environment.dataHome() + "/Murmelo/" + store + ".json";
}

// History and dictionary behind one face, for what their files have in common. A test writes the
// file of one store only, so the other adds nothing to the texts.
struct AnyStore {
    explicit AnyStore(const QString& store)
        : isHistory(store == "history") {}
    QStringList texts() { // sorted: the two keep different orders, each tested on its own
        QStringList result;
        for (const auto& entry : test::run(history.allEntries()))
            result << entry.text;
        for (const auto& entry : dictionary.entries())
            result << entry.canonical;
        result.sort();
        return result;
    }
    void add(const QString& text) {
        if (isHistory)
            test::run(history.append({.text = text}));
        else
            dictionary.add({.canonical = text, .aliases = {}, .english = {}});
    }
    bool isHistory;
    HistoryStore history;
    DictionaryStore dictionary;
};

} // namespace

class StoresTest : public QObject {
    Q_OBJECT
private slots:
    void whatCannotBeReadOrWrittenIsNeverLost_data() {
        test::rowsFromJson(QFINDTESTDATA("stores/store_files.json"));
    }
    void whatCannotBeReadOrWrittenIsNeverLost() {
        QFETCH(QJsonObject, row);
        const QString failure = row["failure"].toString();
        if (failure == "read-only directory" && ::geteuid() != 0) QSKIP("giving a directory away needs root");
        test::TestEnvironment environment;
        const QString store = row["store"].toString(), path = pathOf(environment, store);
        const QString directory = QFileInfo(path).path(),
                      inside = row["directory"].toBool() ? "/inside.txt" : "";
        const QByteArray content = QByteArray::fromPercentEncoding(row["file"].toString().toUtf8());
        test::writeFile(path + inside, content);
        // Looser permissions left by something else must not survive our first write.
        QFile::setPermissions(directory, QFileDevice::Permissions(0x7755));
        QFile::setPermissions(path + inside, QFileDevice::Permissions(0x6644));
        AnyStore opened(store);
        QCOMPARE(opened.texts(), row["texts"].toVariant().toStringList());
        {
            std::optional<test::FileSizeLimit> full;
            std::optional<test::ForeignDirectory> foreign;
            if (failure == "disk full") full.emplace(content.size() + 16);
            if (failure == "read-only directory") QVERIFY(foreign.emplace(directory).given);
            if (!failure.isEmpty()) opened.add("二个放不下的词条");
        }
        QCOMPARE(test::readAll(path + inside), content); // neither reading nor a failed write touched it
        opened.add("新");
        opened.add("再"); // replaces our own file of a moment ago, and only that
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(directory), 0700);
        const QFileInfo file(path);
        const QStringList aside = file.dir().entryList({file.fileName() + ".unreadable-*"}, QDir::AllEntries);
        QCOMPARE(aside.size(), row["undecodable"].toBool() ? 1 : 0);
        if (!aside.isEmpty()) QCOMPARE(test::readAll(file.path() + "/" + aside[0] + inside), content);
        AnyStore reopened(store);
        QCOMPARE(reopened.texts(), row["after"].toVariant().toStringList());
        QCOMPARE(reopened.dictionary.entries(),
                 opened.dictionary.entries()); // an absent English stays absent
    }

    void historyKeepsTheNewest500ExactlyDatedFrom2001() {
        test::TestEnvironment environment;
        HistoryStore store;
        for (int i = 1; i <= 500; ++i) // doubles that need all 17 significant digits, subnormals, escapes
            test::run(store.append({.createdAt = 786543210.123456789 + i / 3.0,
                                    .mode = i % 2 ? InputMode::translateToEnglish : InputMode::smartDictation,
                                    .text = QString::number(i) + "\n\"引号\"\t",
                                    .audioDuration = 0.1 * i,
                                    .completionLatency = 5e-324 * i}));
        // The 501st. JSON has no NaN or infinity: one would spoil the whole file.
        test::run(store.append({.text = "非有限", .audioDuration = qQNaN(), .completionLatency = qInf()}));
        const auto entries = test::run(store.allEntries());
        QCOMPARE(entries.size(), 500);
        QCOMPARE(entries[0].audioDuration + entries[0].completionLatency, 0.0);
        QVERIFY(entries[1].text.startsWith("500\n") && entries.last().text.startsWith("2\n"));
        QCOMPARE(test::run(HistoryStore().allEntries()), entries);
        const QJsonArray file =
            QJsonDocument::fromJson(test::readAll(pathOf(environment, "history"))).array();
        QCOMPARE(file[1]["id"].toString(), entries[1].id.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(dateFromReferenceSeconds(0), QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC));
        QCOMPARE(referenceSeconds(QDateTime(QDate(2021, 1, 1), QTime(0, 0, 0, 500), Qt::UTC)), 631152000.5);
        QVERIFY(qAbs(referenceSecondsNow() - referenceSeconds(QDateTime::currentDateTimeUtc())) < 60);
    }

    void historyIsReadWhileEmptyOnlyAndRemovesEveryMatch() {
        test::TestEnvironment environment;
        const QString path = pathOf(environment, "history");
        HistoryStore store;
        QVERIFY(test::run(store.allEntries()).isEmpty());
        QVERIFY(!QFileInfo::exists(QFileInfo(path).path())); // reading creates nothing
        const HistoryEntry twice{.text = "重复"}, other{.text = "别的"};
        test::writeFile(path,
                        QJsonDocument(QJsonArray{twice.toJson(), other.toJson(), twice.toJson()}).toJson());
        QCOMPARE(test::run(store.allEntries()).size(), 3);
        test::run(store.append({.text = "我的"}));
        test::writeFile(path, "[]");
        // Asking twice must not empty the list: the second answer would then come from the file.
        QCOMPARE(test::run(store.allEntries()).size(), 4);
        QCOMPARE(test::run(store.allEntries()).size(), 4);
        test::run(store.remove(twice.id));
        QCOMPARE(test::run(HistoryStore().allEntries()).size(), 2);
        test::run(store.clear());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(test::run(store.allEntries()).isEmpty());
    }

    void dictionaryKeywordsAndGlossary_data() {
        test::rowsFromJson(QFINDTESTDATA("stores/dictionary_cases.json"));
    }
    void dictionaryKeywordsAndGlossary() {
        QFETCH(QJsonObject, row);
        test::TestEnvironment environment;
        test::writeFile(pathOf(environment, "dictionary"), QJsonDocument(row["entries"].toArray()).toJson());
        const DictionaryStore store;
        QCOMPARE(store.keywords(), row["keywords"].toVariant().toStringList());
        QCOMPARE(store.glossaryText(), row["glossary"].toString());
    }

    // Also the one table of the keys that may be saved: a control character could split a header.
    void keychainSavesReadsAndResolvesKeys_data() {
        test::rowsFromJson(QFINDTESTDATA("stores/keychain_cases.json"));
    }
    void keychainSavesReadsAndResolvesKeys() {
        QFETCH(QJsonObject, row);
        // Each kind has its own item and its own variable, as other clients and the shell see them.
        const bool deepSeek = row["kind"].toString() == "deepSeek";
        const auto kind = deepSeek ? CredentialKind::deepSeek : CredentialKind::openAI;
        test::TestEnvironment environment;
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        if (row.contains("environment"))
            environment.set(deepSeek ? "DEEPSEEK_API_KEY" : "OPENAI_API_KEY",
                            row["environment"].toString().toUtf8());
        auto backend = std::make_shared<SecretBackendFake>();
        if (row.contains("stored"))
            backend->items.insert(
                {"com.murmelo.credentials", deepSeek ? "deepseek-api-key" : "openai-api-key"},
                QByteArray::fromPercentEncoding(row["stored"].toString().toUtf8()));
        backend->reachable = row["reachable"].toBool(true);
        const KeychainStore store(backend);
        try {
            if (row.contains("save")) store.save(row["save"].toString(), kind);
            QVERIFY(!row["refused"].toBool());
        } catch (const KeychainStoreError& error) {
            QVERIFY(row["refused"].toBool());
            QCOMPARE(error, KeychainStoreError::encodingFailed());
        }
        const auto text = [&row](const char* key) {
            return row[key].isString() ? std::optional(row[key].toString()) : std::nullopt;
        };
        QCOMPARE(store.read(kind), text("read"));
        QCOMPARE(store.resolved(kind), text("resolved"));
        QVERIFY(!store.resolved(deepSeek ? CredentialKind::openAI : CredentialKind::deepSeek));
    }
};

QTEST_GUILESS_MAIN(StoresTest)
#include "tst_Stores.moc"

#include "DictionaryEditorTab.h"
#include "SettingsFixture.h"

#include <QAction>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

using namespace murmelo;
using test::SettingsFixture;

namespace {

DictionaryEntry entry(const QString& canonical, DictionaryEntryKind kind = DictionaryEntryKind::other,
                      std::optional<QString> english = std::nullopt) {
    DictionaryEntry result;
    result.canonical = canonical;
    result.kind = kind;
    result.english = std::move(english);
    return result;
}

// What a fresh start would read from the file.
QList<DictionaryEntry> onDisk(const SettingsFixture& f) {
    return DictionaryStore(f.dictionary.filePath()).entries();
}

} // namespace

class DictionaryEditorTabTest : public QObject {
    Q_OBJECT

private slots:
    void aliasesSplitAtBothCommas_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("aliases");
        QTest::newRow("full-width, then two ASCII, trailing space")
            << "默默罗，  莫莫洛,,Mo Mo Luo " << QStringList{"默默罗", "莫莫洛", "Mo Mo Luo"};
        QTest::newRow("only commas and spaces") << " ,，, ， " << QStringList{};
        QTest::newRow("duplicates and line breaks stay in order")
            << "\nb,a，b\t" << QStringList{"b", "a", "b"};
        QTest::newRow("no comma") << "  one piece  " << QStringList{"one piece"};
        QTest::newRow("other punctuation is no separator") << "a、b;c" << QStringList{"a、b;c"};
    }
    void aliasesSplitAtBothCommas() {
        QFETCH(QString, text);
        QFETCH(QStringList, aliases);
        QCOMPARE(DictionaryEditorTab::parseAliases(text), aliases);
    }

    void addButtonNeedsACanonicalForm() {
        SettingsFixture f;
        auto* canonical = f.find<QLineEdit>("canonicalField");
        auto* add = f.find<QPushButton>("addEntryButton");
        QVERIFY(!add->isEnabled());
        QTest::keyClicks(canonical, "  ");
        QVERIFY(!add->isEnabled());
        QTest::keyClick(canonical, Qt::Key_Return);
        QVERIFY(f.dictionary.entries().isEmpty());
        QTest::keyClicks(canonical, "x");
        QVERIFY(add->isEnabled());
        f.find<QLineEdit>("canonicalField")->setText(" \n");
        QVERIFY(!add->isEnabled());
        canonical->setText("x");
        add->click();
        QCOMPARE(f.dictionary.entries().size(), 1);
        QVERIFY(!add->isEnabled()); // the form is empty again
    }

    void returnAddsTheEntryAndResetsTheForm() {
        SettingsFixture f;
        auto* kind = f.find<QComboBox>("kindPicker");
        QCOMPARE(kind->currentText(), QStringLiteral("其他"));
        QCOMPARE(kind->count(), 5);
        QCOMPARE(kind->itemText(0), QStringLiteral("人名"));
        // (QTest types Latin-1 only; Chinese arrives as an input method's insertion.)
        f.find<QLineEdit>("canonicalField")->insert("  默萝 ");
        f.find<QLineEdit>("aliasesField")->insert("默默罗，  莫莫洛,,Mo Mo Luo ");
        QTest::keyClicks(f.find<QLineEdit>("englishField"), " Murmelo ");
        kind->setCurrentIndex(1);
        QTest::keyClick(f.find<QLineEdit>("englishField"), Qt::Key_Return);

        QCOMPARE(f.dictionary.entries().size(), 1);
        const DictionaryEntry added = f.dictionary.entries().first();
        QCOMPARE(added.canonical, QStringLiteral("默萝"));
        QCOMPARE(added.aliases, QStringList({"默默罗", "莫莫洛", "Mo Mo Luo"}));
        QCOMPARE(added.kind, DictionaryEntryKind::brand);
        QCOMPARE(added.english, std::optional<QString>("Murmelo"));
        QCOMPARE(onDisk(f), f.dictionary.entries());

        for (const char* field : {"canonicalField", "aliasesField", "englishField"})
            QCOMPARE(f.find<QLineEdit>(field)->text(), QString());
        QCOMPARE(kind->currentText(), QStringLiteral("其他"));

        auto* list = f.find<QListWidget>("dictionaryList");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QStringLiteral("默萝"));
        QCOMPARE(list->item(0)->data(DictionaryEditorTab::detailRole).toString(),
                 QStringLiteral("品牌 · Murmelo"));

        // A blank English form means none: the row shows only the kind.
        f.find<QLineEdit>("canonicalField")->insert("术语");
        QTest::keyClicks(f.find<QLineEdit>("englishField"), "   ");
        QTest::keyClick(f.find<QComboBox>("kindPicker"), Qt::Key_Return); // Return on the picker adds too
        QCOMPARE(f.dictionary.entries().size(), 2);
        QCOMPARE(f.dictionary.entries().at(1).english, std::nullopt);
        QCOMPARE(f.dictionary.entries().at(1).aliases, QStringList());
        QCOMPARE(list->item(1)->data(DictionaryEditorTab::detailRole).toString(), QStringLiteral("其他"));
    }

    void deletingSeveralRowsWritesOnce_data() {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Delete key") << true;
        QTest::newRow("context menu") << false;
    }
    void deletingSeveralRowsWritesOnce() {
        QFETCH(bool, byKey);
        SettingsFixture f;
        f.dictionary.setEntries({entry("甲"), entry("乙", DictionaryEntryKind::person), entry("丙")});
        const DictionaryEntry kept = f.dictionary.entries().at(1);
        auto* list = f.find<QListWidget>("dictionaryList");
        QCOMPARE(list->count(), 3);
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
        list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);

        // Every change of the store is one write of the whole file.
        QSignalSpy changes(&f.dictionary, &DictionaryStore::entriesChanged);
        if (byKey)
            QTest::keyClick(list, Qt::Key_Delete);
        else
            list->findChild<QAction*>("deleteEntriesAction")->trigger();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(f.dictionary.entries(), QList<DictionaryEntry>{kept});
        QCOMPARE(onDisk(f), QList<DictionaryEntry>{kept});
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QStringLiteral("乙"));

        // Nothing selected: nothing written.
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(changes.count(), 1);
    }
};

QTEST_MAIN(DictionaryEditorTabTest)
#include "tst_DictionaryEditorTab.moc"

#include "AsyncTest.h"
#include "SettingsFixture.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>

using namespace murmelo;
using test::SettingsFixture;

namespace {

HistoryEntry entry(const QString& text, InputMode mode = InputMode::smartDictation, double audio = 1,
                   double latency = 1) {
    HistoryEntry result;
    result.createdAt = referenceSecondsNow();
    result.mode = mode;
    result.text = text;
    result.audioDuration = audio;
    result.completionLatency = latency;
    return result;
}

QList<HistoryRow*> rows(const SettingsFixture& f) {
    QList<HistoryRow*> result;
    for (HistoryRow* row : f.view->findChildren<HistoryRow*>())
        if (row->isVisibleTo(f.view.get())) result.append(row);
    return result;
}

QString rowText(HistoryRow* row, const char* label) {
    return row->findChild<QLabel*>(label)->text();
}

} // namespace

class HistoryViewTest : public QObject {
    Q_OBJECT

    // Opens the history tab of a shown window, which loads the list.
    static void openHistory(SettingsFixture& f) {
        f.view->show();
        f.openTab(3);
    }
    static bool showsEmptyState(const SettingsFixture& f) {
        auto* content = f.find<QStackedWidget>("historyContent");
        return content->currentWidget()->objectName() == QLatin1String("historyEmptyState");
    }

private slots:
    void emptyHistoryShowsTheEmptyState() {
        SettingsFixture f;
        openHistory(f);
        QVERIFY(showsEmptyState(f));
        QCOMPARE(f.find<QLabel>("historyCount")->text(), QStringLiteral("0 条"));
        QVERIFY(!f.find<QPushButton>("clearButton")->isEnabled());
        QCOMPARE(f.find<QLabel>("emptyTitle")->text(), QStringLiteral("暂无历史记录"));
        QCOMPARE(f.find<QLabel>("emptyDescription")->text(),
                 QStringLiteral("在常规设置中开启“保存本地历史记录”后，成功结果会保存在这台电脑上。"));
    }

    void rowsShowModeTextAndMeasurementsNewestFirst() {
        SettingsFixture f;
        test::run(f.historyStore.append(entry("first", InputMode::translateToEnglish, 3.25, 1.04)));
        test::run(f.historyStore.append(entry("second")));
        openHistory(f);
        QCOMPARE(f.find<QLabel>("historyCount")->text(), QStringLiteral("2 条"));
        QVERIFY(!showsEmptyState(f));
        const auto shown = rows(f);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(rowText(shown[0], "textLabel"), QStringLiteral("second"));
        QCOMPARE(rowText(shown[0], "modeLabel"), QStringLiteral("智能口述"));
        QCOMPARE(rowText(shown[1], "modeLabel"), QStringLiteral("中文转英文"));
        // printf rounding: 3.25 is exact in binary and rounds to even.
        QCOMPARE(rowText(shown[1], "measurementsLabel"), QStringLiteral("录音 3.2s · 完成 1.0s"));
        QVERIFY(!rowText(shown[1], "timeLabel").isEmpty());
        QCOMPARE(shown[1]->findChild<QPushButton*>("deleteButton")->toolTip(),
                 QStringLiteral("删除这条历史"));
    }

    void longTextShowsFiveLinesButCopiesWhole() {
        SettingsFixture f;
        const auto lines = [](int count) {
            QStringList result;
            for (int i = 1; i <= count; ++i)
                result.append(QStringLiteral("第 %1 行 line").arg(i));
            return result.join('\n');
        };
        test::run(f.historyStore.append(entry(lines(4))));
        test::run(f.historyStore.append(entry(lines(5))));
        test::run(f.historyStore.append(entry(lines(12))));
        openHistory(f);
        const auto shown = rows(f);
        QCOMPARE(shown.size(), 3);
        const auto label = [&](int row) { return shown[row]->findChild<LineLimitedLabel*>("textLabel"); };
        QTRY_VERIFY(label(0)->height() > 0);
        // Five lines show whole; a sixth and more are cut at the fifth line.
        QCOMPARE(label(1)->height(), label(1)->fullHeightForWidth(label(1)->width()));
        QVERIFY(label(1)->height() > label(2)->height());
        QCOMPARE(label(0)->height(), label(1)->height());
        QVERIFY(label(0)->height() < label(0)->fullHeightForWidth(label(0)->width()));
        QCOMPARE(label(0)->text(), lines(12));
        QVERIFY(label(0)->textInteractionFlags() & Qt::TextSelectableByMouse);

        shown[0]->findChild<QPushButton*>("copyButton")->click();
        QCOMPARE(f.pasteboard.operations, QStringList({"clear", "set:" + lines(12)}));
        f.pasteboard.content.reset();
        shown[0]->findChild<QAction*>("copyAction")->trigger();
        QCOMPARE(f.pasteboard.string(), lines(12));
    }

    void clearAsksFirst() {
        SettingsFixture f;
        test::run(f.historyStore.append(entry("keep me")));
        openHistory(f);
        auto* view = f.find<HistoryView>("historyView");
        QVERIFY(!view->isConfirmingClear());

        f.find<QPushButton>("clearButton")->click();
        QVERIFY(view->isConfirmingClear());
        auto* box = f.find<QMessageBox>("clearConfirmation");
        QCOMPARE(box->text(), QStringLiteral("清空所有本地历史记录？"));
        QCOMPARE(box->informativeText(), QStringLiteral("此操作无法撤销，但不会影响系统剪贴板中的内容。"));
        f.find<QPushButton>("cancelClearButton")->click();
        QVERIFY(!view->isConfirmingClear());
        QCOMPARE(f.history.entries().size(), 1);
        QVERIFY(QFile::exists(f.historyStore.filePath()));

        f.find<QPushButton>("clearButton")->click();
        QCOMPARE(f.find<QPushButton>("confirmClearButton")->text(), QStringLiteral("清空"));
        f.find<QPushButton>("confirmClearButton")->click();
        QTRY_VERIFY(showsEmptyState(f));
        QCOMPARE(f.find<QLabel>("historyCount")->text(), QStringLiteral("0 条"));
        QVERIFY(!QFile::exists(f.historyStore.filePath()));
        QVERIFY(!f.find<QPushButton>("clearButton")->isEnabled());
    }

    void deletingEntries_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("trash button") << "button";
        QTest::newRow("Delete key") << "key";
        QTest::newRow("context menu") << "menu";
    }
    void deletingEntries() {
        QFETCH(QString, how);
        SettingsFixture f;
        test::run(f.historyStore.append(entry("older")));
        test::run(f.historyStore.append(entry("only one left")));
        openHistory(f);
        QCOMPARE(rows(f).size(), 2);
        const auto remove = [&](HistoryRow* row) {
            if (how == "button")
                row->findChild<QPushButton*>("deleteButton")->click();
            else if (how == "key")
                QTest::keyClick(row, Qt::Key_Delete);
            else
                row->findChild<QAction*>("deleteAction")->trigger();
        };
        remove(rows(f).value(1));
        QTRY_COMPARE(rows(f).size(), 1);
        QCOMPARE(rowText(rows(f)[0], "textLabel"), QStringLiteral("only one left"));
        QCOMPARE(test::run(f.historyStore.allEntries()).size(), 1);

        remove(rows(f).value(0));
        QTRY_VERIFY(showsEmptyState(f));
        QCOMPARE(f.find<QLabel>("historyCount")->text(), QStringLiteral("0 条"));
        QCOMPARE(test::run(f.historyStore.allEntries()).size(), 0);
    }

    void opensAndRefreshesLoadAgain() {
        SettingsFixture f;
        openHistory(f);
        QCOMPARE(f.history.entries().size(), 0);
        test::run(f.historyStore.append(entry("new dictation")));
        QCOMPARE(rows(f).size(), 0); // shown after the next load, not by itself
        f.find<QPushButton>("refreshButton")->click();
        QTRY_COMPARE(rows(f).size(), 1);

        test::run(f.historyStore.append(entry("another")));
        f.openTab(0);
        f.openTab(3);
        QTRY_COMPARE(rows(f).size(), 2);
    }

    void aSecondLoadWhileOneRunsIsIgnored() {
        SettingsFixture f;
        test::run(f.historyStore.append(entry("one")));
        QSignalSpy published(&f.history, &HistoryViewModel::entriesChanged);
        int nested = 0;
        // Someone asks again while the first load is still under way.
        connect(&f.history, &HistoryViewModel::isLoadingChanged, this, [&] {
            if (f.history.isLoading()) {
                ++nested;
                f.history.load();
            }
        });
        test::run(f.history.load());
        QCOMPARE(nested, 1);
        QCOMPARE(published.count(), 1);
        QVERIFY(!f.history.isLoading());
        QCOMPARE(f.history.entries().size(), 1);
        test::run(f.history.load()); // and once done, loading works again
        QCOMPARE(published.count(), 2);
    }
};

QTEST_MAIN(HistoryViewTest)
#include "tst_HistoryView.moc"

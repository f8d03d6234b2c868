#include "AsyncTest.h"
#include "DictionaryEditorTab.h"
#include "SettingsFixture.h"
#include "common/Error.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTcpSocket>

using namespace murmelo;
using test::SettingsFixture;

namespace {

HistoryEntry historyEntry(const QString& text) {
    HistoryEntry result;
    result.createdAt = referenceSecondsNow();
    result.text = text;
    return result;
}

QList<HistoryRow*> historyRows(const SettingsFixture& f) {
    QList<HistoryRow*> result;
    for (HistoryRow* row : f.view->findChildren<HistoryRow*>())
        if (row->isVisibleTo(f.view.get())) result.append(row);
    return result;
}

// The first request line the silent server receives; empty when none arrives in time.
QByteArray firstRequestLine(QTcpServer& server) {
    QDeadlineTimer deadline(5000);
    while (!server.hasPendingConnections() && !deadline.hasExpired())
        QTest::qWait(5);
    QTcpSocket* socket = server.nextPendingConnection();
    QByteArray received;
    while (socket && !received.contains("\r\n") && !deadline.hasExpired()) {
        QTest::qWait(5);
        received += socket->readAll();
    }
    return received.left(received.indexOf("\r\n"));
}

} // namespace

// The settings window over real models and stores; texts and sizes are left to the desktop tests.
class SettingsViewTest : public QObject {
    Q_OBJECT

private slots:
    void controlsWriteThroughAtOnceButBuildingWritesNothing() {
        SettingsFixture f;
        const QString file = f.environment.root() + QStringLiteral("/settings.json");
        QVERIFY(!QFile::exists(file));
        f.find<QComboBox>("inputModePicker")->setCurrentIndex(1);
        f.find<QComboBox>("refinementProviderPicker")->setCurrentIndex(1);
        f.find<QCheckBox>("saveHistorySwitch")->click();
        UserDefaults stored(file);
        QCOMPARE(stored.string(AppSettings::inputModeKey), QStringLiteral("translateToEnglish"));
        QCOMPARE(f.settings.refinementProvider(), RefinementProviderKind::openAI);
        QCOMPARE(stored.value(AppSettings::saveHistoryKey), QJsonValue(true));
        // Changes made elsewhere (the tray's mode picker) reach the control.
        f.settings.setInputMode(InputMode::smartDictation);
        QCOMPARE(f.find<QComboBox>("inputModePicker")->currentIndex(), 0);
    }

    void launchAtLoginSwitchShowsTheRealState_data() {
        QTest::addColumn<LoginItemStatus>("afterRegister");
        QTest::addColumn<bool>("failing");
        QTest::addColumn<bool>("on");
        QTest::newRow("enabled") << LoginItemStatus::enabled << false << true;
        QTest::newRow("executable missing") << LoginItemStatus::notFound << false << false;
        QTest::newRow("entry not written") << LoginItemStatus::enabled << true << false;
    }
    void launchAtLoginSwitchShowsTheRealState() {
        QFETCH(LoginItemStatus, afterRegister);
        QFETCH(bool, failing);
        QFETCH(bool, on);
        SettingsFixture f;
        f.loginItem.statusAfterRegister = afterRegister;
        const FileError error(FileError::Case::write, "/x/autostart/m.desktop");
        if (failing) f.loginItem.failRegister = [error] { throw error; };
        auto* toggle = f.find<QCheckBox>("launchAtLoginSwitch");
        toggle->click();
        QCOMPARE(toggle->isChecked(), on);
        QCOMPARE(f.settings.launchAtLogin(), on);
        QVERIFY(f.shown("launchAtLoginMessage"));
        if (failing) QCOMPARE(f.find<QLabel>("launchAtLoginMessage")->text(), error.description());
    }

    void launchAtLoginFollowsTheSystemWhenShownAndTurnsOff() {
        SettingsFixture f;
        f.loginItem.current = LoginItemStatus::enabled; // enabled outside since the last look
        auto* toggle = f.find<QCheckBox>("launchAtLoginSwitch");
        f.view->show();
        QVERIFY(toggle->isChecked());
        toggle->click();
        QCOMPARE(f.loginItem.current, LoginItemStatus::notRegistered);
        QVERIFY(!f.settings.launchAtLogin());
    }

    void unpluggedMicrophoneStaysChosen() {
        SettingsFixture f;
        auto* picker = f.find<QComboBox>("microphonePicker");
        f.devices = {{"usb-2", "USB 2"}, {"usb-10", "USB 10"}};
        f.view->show();
        picker->setCurrentIndex(2);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-10"));
        picker->setCurrentIndex(0); // the system default
        QCOMPARE(f.settings.selectedMicrophoneUID(), QString());

        f.settings.setSelectedMicrophoneUID("usb-2");
        f.devices.clear();
        f.view->hide();
        f.view->show(); // asks the system again
        QCOMPARE(picker->count(), 1);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-2"));
    }

    void syntheticInputStatusIsLookedUpAgainOnRefresh() {
        SettingsFixture f;
        f.syntheticInput = false;
        f.view->show();
        QVERIFY(f.shown("accessibilityPermissionButton"));
        f.syntheticInput = true;
        f.find<QPushButton>("refreshPermissionsButton")->click();
        QVERIFY(!f.shown("accessibilityPermissionButton"));
    }

    void keyIsSavedTrimmedAndDeleted_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<CredentialKind>("kind");
        QTest::newRow("OpenAI") << "openAI" << CredentialKind::openAI;
        QTest::newRow("DeepSeek") << "deepSeek" << CredentialKind::deepSeek;
    }
    void keyIsSavedTrimmedAndDeleted() {
        QFETCH(QString, service);
        QFETCH(CredentialKind, kind);
        SettingsFixture f;
        f.openTab(1);
        const QByteArray prefix = service.toLatin1();
        auto* field = f.find<QLineEdit>(prefix + "KeyField");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QTest::keyClicks(field, " sk-typed ");
        QTest::keyClick(field, Qt::Key_Return); // Return does not save
        QCOMPARE(f.keyring->stores, 0);
        f.find<QPushButton>(prefix + "SaveButton")->click();
        QCOMPARE(f.keyring->items.value({KeychainStore::defaultService, keychainAccount(kind)}), "sk-typed");
        QCOMPARE(field->text(), QString());
        QVERIFY(f.shown(prefix + "DeleteButton"));
        f.find<QPushButton>(prefix + "DeleteButton")->click();
        QVERIFY(f.keyring->items.isEmpty());
        QVERIFY(!f.shown(prefix + "DeleteButton"));

        QTest::keyClicks(field, "   ");
        f.find<QPushButton>(prefix + "SaveButton")->click();
        QCOMPARE(f.keyring->stores, 1); // a blank key is refused
    }

    void connectionTestUsesTheTypedModelAndLocksBothButtons() {
        SettingsFixture f;
        f.openTab(1);
        auto* model = f.find<QLineEdit>("openAIModelField");
        model->selectAll();
        QTest::keyClicks(model, "m-2");
        QCOMPARE(UserDefaults(f.environment.root() + "/settings.json").string(AppSettings::openAIModelKey),
                 QStringLiteral("m-2"));
        for (CredentialKind kind : allCredentialKinds())
            f.keyring->items.insert({KeychainStore::defaultService, keychainAccount(kind)}, "sk-1");
        f.credentials->refresh();
        auto* openAI = f.find<QPushButton>("openAITestButton");
        auto* deepSeek = f.find<QPushButton>("deepSeekTestButton");
        openAI->click();
        QVERIFY(!openAI->isEnabled());
        QVERIFY(!deepSeek->isEnabled());
        QCOMPARE(firstRequestLine(f.silentServer), QByteArray("GET /v1/models/m-2 HTTP/1.1"));
        // The silent service lets the test run into its time limit; then both come back.
        QTRY_VERIFY_WITH_TIMEOUT(openAI->isEnabled(), 5000);
        QVERIFY(deepSeek->isEnabled());
        QVERIFY(f.shown("credentialStatus"));
    }

    void aliasesSplitAtBothCommas_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("aliases");
        QTest::newRow("full-width, then two ASCII, trailing space")
            << "默默罗，  莫莫洛,,Mo Mo Luo " << QStringList{"默默罗", "莫莫洛", "Mo Mo Luo"};
        QTest::newRow("only commas and spaces") << " ,，, ， " << QStringList{};
        QTest::newRow("duplicates and line breaks stay in order")
            << "\nb,a，b\t" << QStringList{"b", "a", "b"};
        QTest::newRow("other punctuation is no separator") << "a、b;c" << QStringList{"a、b;c"};
    }
    void aliasesSplitAtBothCommas() {
        QFETCH(QString, text);
        QFETCH(QStringList, aliases);
        QCOMPARE(DictionaryEditorTab::parseAliases(text), aliases);
    }

    void returnAddsATrimmedEntryButNeverABlankOne() {
        SettingsFixture f;
        auto* canonical = f.find<QLineEdit>("canonicalField");
        QTest::keyClicks(canonical, "  ");
        QTest::keyClick(canonical, Qt::Key_Return);
        QVERIFY(f.dictionary.entries().isEmpty());
        QVERIFY(!f.find<QPushButton>("addEntryButton")->isEnabled());

        canonical->insert(" 默萝 ");
        f.find<QLineEdit>("aliasesField")->insert("默默罗，Mo");
        QTest::keyClicks(f.find<QLineEdit>("englishField"), "   "); // blank English means none
        f.find<QComboBox>("kindPicker")->setCurrentIndex(1);
        QTest::keyClick(f.find<QLineEdit>("englishField"), Qt::Key_Return);
        QCOMPARE(f.dictionary.entries().size(), 1);
        const DictionaryEntry added = f.dictionary.entries().first();
        QCOMPARE(added.canonical, QStringLiteral("默萝"));
        QCOMPARE(added.aliases, QStringList({"默默罗", "Mo"}));
        QCOMPARE(added.kind, DictionaryEntryKind::brand);
        QCOMPARE(added.english, std::nullopt);
        QCOMPARE(DictionaryStore(f.dictionary.filePath()).entries(), f.dictionary.entries());
        QCOMPARE(canonical->text(), QString());
    }

    void deletingSeveralDictionaryRowsWritesOnce_data() {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("Delete key") << true;
        QTest::newRow("context menu") << false;
    }
    void deletingSeveralDictionaryRowsWritesOnce() {
        QFETCH(bool, byKey);
        SettingsFixture f;
        QList<DictionaryEntry> entries(3);
        entries[0].canonical = "甲";
        entries[1].canonical = "乙";
        entries[2].canonical = "丙";
        f.dictionary.setEntries(entries);
        auto* list = f.find<QListWidget>("dictionaryList");
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
        list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select);
        QSignalSpy changes(&f.dictionary, &DictionaryStore::entriesChanged);
        if (byKey)
            QTest::keyClick(list, Qt::Key_Delete);
        else
            list->findChild<QAction*>("deleteEntriesAction")->trigger();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(DictionaryStore(f.dictionary.filePath()).entries(), QList<DictionaryEntry>{entries[1]});
        list->clearSelection();
        QTest::keyClick(list, Qt::Key_Delete); // nothing selected: nothing written
        QCOMPARE(changes.count(), 1);
    }

    void historyIsNewestFirstAndCopiesTheWholeText() {
        SettingsFixture f;
        const QString longText = QStringLiteral("第一行\n2\n3\n4\n5\n6\n第七行");
        test::run(f.historyStore.append(historyEntry("older")));
        test::run(f.historyStore.append(historyEntry(longText)));
        f.view->show();
        f.openTab(3);
        QTRY_COMPARE(historyRows(f).size(), 2);
        HistoryRow* newest = historyRows(f).first();
        QCOMPARE(newest->findChild<QLabel*>("textLabel")->text(), longText);
        newest->findChild<QPushButton*>("copyButton")->click();
        QCOMPARE(f.pasteboard.string(), longText);

        test::run(f.historyStore.append(historyEntry("new dictation")));
        f.find<QPushButton>("refreshButton")->click();
        QTRY_COMPARE(historyRows(f).size(), 3);
    }

    void historyClearAsksFirst() {
        SettingsFixture f;
        test::run(f.historyStore.append(historyEntry("keep me")));
        f.view->show();
        f.openTab(3);
        f.find<QPushButton>("clearButton")->click();
        f.find<QPushButton>("cancelClearButton")->click();
        QVERIFY(QFile::exists(f.historyStore.filePath()));
        f.find<QPushButton>("clearButton")->click();
        f.find<QPushButton>("confirmClearButton")->click();
        QTRY_COMPARE(f.find<QStackedWidget>("historyContent")->currentWidget()->objectName(),
                     QStringLiteral("historyEmptyState"));
        QVERIFY(!QFile::exists(f.historyStore.filePath()));
    }

    void deletingHistoryEntries_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("trash button") << "button";
        QTest::newRow("Delete key") << "key";
        QTest::newRow("context menu") << "menu";
    }
    void deletingHistoryEntries() {
        QFETCH(QString, how);
        SettingsFixture f;
        test::run(f.historyStore.append(historyEntry("older")));
        test::run(f.historyStore.append(historyEntry("only one left")));
        f.view->show();
        f.openTab(3);
        QTRY_COMPARE(historyRows(f).size(), 2);
        HistoryRow* row = historyRows(f).value(1);
        if (how == "button")
            row->findChild<QPushButton*>("deleteButton")->click();
        else if (how == "key")
            QTest::keyClick(row, Qt::Key_Delete);
        else
            row->findChild<QAction*>("deleteAction")->trigger();
        QTRY_COMPARE(historyRows(f).size(), 1);
        const auto left = test::run(f.historyStore.allEntries());
        QCOMPARE(left.size(), 1);
        QCOMPARE(left.first().text, QStringLiteral("only one left"));
    }

    void aSecondHistoryLoadWhileOneRunsIsIgnored() {
        SettingsFixture f;
        test::run(f.historyStore.append(historyEntry("one")));
        QSignalSpy published(&f.history, &HistoryViewModel::entriesChanged);
        connect(&f.history, &HistoryViewModel::isLoadingChanged, this, [&] {
            if (f.history.isLoading()) f.history.load();
        });
        test::run(f.history.load());
        QCOMPARE(published.count(), 1);
        QVERIFY(!f.history.isLoading());
        test::run(f.history.load()); // and once done, loading works again
        QCOMPARE(published.count(), 2);
    }
};

QTEST_MAIN(SettingsViewTest)
#include "tst_SettingsView.moc"

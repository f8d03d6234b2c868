#include "AsyncTest.h"
#include "DictionaryEditorTab.h"
#include "MenuBarView.h"
#include "OverlayWindowController.h"
#include "RecordingOverlayView.h"
#include "SettingsFixture.h"
#include "TrayIcon.h"
#include "common/Error.h"
#include "dictation/AppState.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QLayout>
#include <QScrollArea>
#include <QStackedWidget>

using namespace murmelo;
using test::SettingsFixture;

namespace {

// In the order the list shows them.
QList<HistoryRow*> historyRows(const SettingsFixture& f) {
    QList<HistoryRow*> result;
    const QLayout* rows = f.view->findChild<QScrollArea*>("historyList")->widget()->layout();
    for (int i = 0; i < rows->count(); ++i)
        if (auto* row = qobject_cast<HistoryRow*>(rows->itemAt(i)->widget()); row && row->isVisibleTo(f.view.get()))
            result.append(row);
    return result;
}

SecretBackendFake::Key item(CredentialKind kind) {
    return {KeychainStore::defaultService, keychainAccount(kind)};
}

} // namespace

// The windows: the tray panel and menu and the recording overlay over a real AppState, the settings
// window over real models and stores. Texts and sizes are left to the desktop tests.
class WindowsTest : public QObject {
    Q_OBJECT

private slots:
    void startStopAndCancelAreOfferedOnlyWhenTheyCanActAndThePanelClosesFirst_data() {
        QTest::addColumn<DictationPhase>("phase");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("cancellable");
        QTest::newRow("recording") << DictationPhase::recording() << true << true;
        QTest::newRow("transcribing") << DictationPhase::transcribing() << false << true;
        QTest::newRow("inserting") << DictationPhase::inserting() << false << false;
        QTest::newRow("error") << DictationPhase::error("出错了") << true << false;
    }
    // An open panel holds the keyboard grab: it must close before the dictation starts or pastes.
    void startStopAndCancelAreOfferedOnlyWhenTheyCanActAndThePanelClosesFirst() {
        QFETCH(DictationPhase, phase);
        QFETCH(bool, enabled);
        QFETCH(bool, cancellable);
        SettingsFixture f;
        AppState state;
        state.transition(phase);
        int toggles = 0, cancels = 0;
        MenuBarView* open = nullptr;
        const auto count = [&](int& counter) { counter += open && open->isVisible() ? 100 : 1; };
        const MenuActions actions{[&] { count(toggles); }, [] {}, [] {}, [] {},
                                  [] { return true; }, [] {}, [&] { count(cancels); }};
        MenuBarView panel(state, f.settings, actions);
        open = &panel;
        panel.popUp(QRect());
        auto* cancel = panel.findChild<QPushButton*>("cancelButton");
        QCOMPARE(cancel->isVisibleTo(&panel), cancellable);
        if (cancellable) {
            cancel->click();
            QCOMPARE(cancels, 1);
            panel.popUp(QRect());
        }
        panel.findChild<QPushButton*>("startStopButton")->click(); // disabled, it ignores the press
        TrayIcon tray(state, f.settings, actions);
        tray.menu().findChild<QAction*>("startStopAction")->trigger();
        QCOMPARE(toggles, enabled ? 2 : 0);
        QCOMPARE(tray.menu().findChild<QAction*>("cancelAction")->isVisible(), cancellable);
    }

    void overlayShowsCentredAtOneHeightWithTimerThenTranscriptAndHidesAtIdle() {
        AppState state;
        OverlayWindowController controller(state);
        const RecordingOverlayView& view = controller.view();
        state.beginRecording(); // showing at all: the desktop tests find it
        QVERIFY(view.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect frame = view.geometry();
        QVERIFY(qAbs(frame.center().x() - available.center().x()) <= 1);
        QCOMPARE(frame.bottom() + 1, available.bottom() + 1 - OverlayWindowController::bottomOffset);
        const QString transcript(300, QChar(0x5B57));
        state.setPartialTranscript(transcript);
        state.setRecordingDuration(3725.9);
        QCOMPARE(view.detailText(), QStringLiteral("62:05")); // whole seconds; minutes not capped at an hour
        QVERIFY(view.isPulsing());
        state.transition(DictationPhase::transcribing());
        QVERIFY(!view.isPulsing());
        QCOMPARE(view.detailText(), transcript);
        // The long CJK transcript after the monospace timer widens it; it stays centred and keeps
        // its height, as it does in a phase without any detail line.
        const QRect wider = view.geometry();
        QVERIFY(qAbs(wider.center().x() - available.center().x()) <= 1);
        QVERIFY(wider.width() < available.width());
        QCOMPARE(wider.height(), frame.height());
        state.setPartialTranscript(QString());
        QCOMPARE(view.geometry().height(), frame.height());
        state.setStatusDetail("状态");
        QCOMPARE(view.detailText(), QStringLiteral("状态"));
        state.reset();
        QVERIFY(!view.isVisible());
    }

    // Leaving before the paste is seen on sway, where the text has to reach the focused window.
    void whereItWouldTakeTheFocusItStaysAwayAfterThePasteAndAnErrorLeavesOnItsOwn() {
        AppState state;
        OverlayWindowController controller(state, {}, true, std::chrono::milliseconds(50));
        state.beginRecording();
        state.transition(DictationPhase::success());
        QVERIFY(!controller.view().isVisible());
        state.transition(DictationPhase::error(QStringLiteral("网络连接已中断。")));
        // The error leaves on its own, so that typing goes back to the user's window.
        QTRY_VERIFY_WITH_TIMEOUT(!controller.view().isVisible(), 5000);
        state.beginRecording(); // a new dictation shows it again, and the old hold does not hide it
        QTest::qWait(100);
        QVERIFY(controller.view().isVisible());
    }

    void controlsWriteThroughAtOnceButBuildingWritesNothing() {
        SettingsFixture f;
        QVERIFY(!QFile::exists(f.settingsPath));
        f.find<QComboBox>("inputModePicker")->setCurrentIndex(1);
        f.find<QComboBox>("refinementProviderPicker")->setCurrentIndex(1);
        f.find<QCheckBox>("saveHistorySwitch")->click();
        f.find<QCheckBox>("soundCuesSwitch")->click();
        f.find<QComboBox>("hotkeyBehaviorPicker")->setCurrentIndex(1);
        auto* model = f.find<QLineEdit>("openAIModelField"); // read by the connection test at its press
        model->selectAll();
        QTest::keyClicks(model, "m-2");
        UserDefaults stored(f.settingsPath);
        QCOMPARE(stored.string(AppSettings::inputModeKey), QStringLiteral("translateToEnglish"));
        QCOMPARE(f.settings.refinementProvider(), RefinementProviderKind::openAI);
        QCOMPARE(stored.value(AppSettings::saveHistoryKey), QJsonValue(true));
        QCOMPARE(stored.value(AppSettings::soundCuesKey), QJsonValue(false));
        QCOMPARE(stored.string(AppSettings::hotkeyBehaviorKey), QStringLiteral("holdToTalk"));
        QCOMPARE(stored.string(AppSettings::openAIModelKey), QStringLiteral("m-2"));
        // Changes made elsewhere (the tray's mode picker) reach the control.
        f.settings.setInputMode(InputMode::smartDictation);
        QCOMPARE(f.find<QComboBox>("inputModePicker")->currentIndex(), 0);
    }

    void launchAtLoginSwitchShowsTheRealState_data() {
        test::rowsFromJson(QFINDTESTDATA("ui/launch_at_login.json"));
    }
    void launchAtLoginSwitchShowsTheRealState() {
        QFETCH(QJsonObject, row);
        SettingsFixture f;
        f.loginItem.current = LoginItemStatus(row["before"].toInt()); // changed since the window was built
        f.loginItem.statusAfterRegister = LoginItemStatus(row["afterRegister"].toInt());
        const FileError error(FileError::Case::write, "/x/autostart/m.desktop");
        if (row["failing"].toBool()) f.loginItem.failRegister = [error] { throw error; };
        auto* toggle = f.find<QCheckBox>("launchAtLoginSwitch");
        f.view->show();
        QCOMPARE(toggle->isChecked(), f.loginItem.current == LoginItemStatus::enabled);
        toggle->click();
        QCOMPARE(toggle->isChecked(), row["on"].toBool());
        QVERIFY(f.shown("launchAtLoginMessage"));
        if (row["failing"].toBool())
            QCOMPARE(f.find<QLabel>("launchAtLoginMessage")->text(), error.description());
    }

    // The checks are awaited: the window shows them pending, then each answer as it arrives.
    void environmentChecksArriveAfterShowingRefreshOnTheButtonAndAnUnpluggedMicrophoneStaysChosen() {
        SettingsFixture f;
        auto* picker = f.find<QComboBox>("microphonePicker");
        const auto symbol = [&f](const char* name) { return f.find<QLabel>(name)->property("symbol").toString(); };
        f.devices = {{"usb-2", "USB 2"}, {"usb-10", "USB 10"}};
        f.paste = PasteAvailability::noXTest;
        f.keyring->status = SecretServiceStatus::locked;
        f.view->show();
        QCOMPARE(f.find<QLabel>("microphoneStatus")->text(), "麦克风：检测中…");
        QCOMPARE(picker->count(), 1);
        QTRY_COMPARE(picker->count(), 3);
        QCOMPARE(symbol("automaticPasteSymbol"), "xmark.circle.fill");
        QVERIFY(f.shown("automaticPasteAdvice"));
        QCOMPARE(symbol("keyringSymbol"), "exclamationmark.triangle.fill");
        QCOMPARE(symbol("microphoneSymbol"), "checkmark.circle.fill");
        QVERIFY(!f.shown("soundSettingsLink"));
        picker->setCurrentIndex(2);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-10"));
        QVERIFY(f.find<QLabel>("microphoneStatus")->text().endsWith("USB 10"));
        picker->setCurrentIndex(0); // the system default
        QCOMPARE(f.settings.selectedMicrophoneUID(), QString());

        f.settings.setSelectedMicrophoneUID("usb-2");
        f.devices.clear();
        f.paste = PasteAvailability::xtest;
        f.find<QPushButton>("recheckButton")->click();
        QTRY_COMPARE(picker->count(), 1);
        QCOMPARE(f.settings.selectedMicrophoneUID(), QStringLiteral("usb-2"));
        QCOMPARE(symbol("microphoneSymbol"), "xmark.circle.fill");
        QVERIFY(f.shown("soundSettingsLink"));
        QCOMPARE(symbol("automaticPasteSymbol"), "checkmark.circle.fill");
        QVERIFY(!f.shown("automaticPasteAdvice"));

        // The panel points there only while automatic paste is unavailable, and closes first.
        AppState state;
        bool canPaste = false;
        int opened = 0;
        MenuActions actions;
        actions.automaticPasteAvailable = [&] { return canPaste; };
        actions.openEnvironmentChecks = [&] { ++opened; };
        MenuBarView panel(state, f.settings, actions);
        panel.popUp(QRect());
        panel.findChild<QPushButton*>("pasteUnavailableButton")->click();
        QCOMPARE(opened, 1);
        QVERIFY(!panel.isVisible());
        canPaste = true;
        panel.popUp(QRect());
        QVERIFY(!panel.findChild<QPushButton*>("pasteUnavailableButton")->isVisible());
    }

    void keyFieldIsHiddenSavedTrimmedByItsButtonOnlyUnderItsKindDeletableAndItsTestAnswers_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<CredentialKind>("kind");
        QTest::newRow("OpenAI") << "openAI" << CredentialKind::openAI;
        QTest::newRow("DeepSeek") << "deepSeek" << CredentialKind::deepSeek;
    }
    void keyFieldIsHiddenSavedTrimmedByItsButtonOnlyUnderItsKindDeletableAndItsTestAnswers() {
        QFETCH(QString, service);
        QFETCH(CredentialKind, kind);
        SettingsFixture f;
        f.openTab(1);
        QCOMPARE(f.view->windowTitle(), QStringLiteral("Murmelo 设置")); // a window list says whose it is
        const QByteArray prefix = service.toLatin1();
        f.find<QPushButton>(prefix + "TestButton")->click(); // no key yet: told so without the network
        QVERIFY(f.shown("credentialStatus"));
        auto* field = f.find<QLineEdit>(prefix + "KeyField");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QTest::keyClicks(field, "  sk-1 2 ");
        QTest::keyClick(field, Qt::Key_Return); // Return does not save
        QVERIFY(f.keyring->items.isEmpty());
        f.find<QPushButton>(prefix + "SaveButton")->click();
        QCOMPARE(f.keyring->items, (QMap<SecretBackendFake::Key, QByteArray>{{item(kind), "sk-1 2"}}));
        QCOMPARE(f.credentials->statusMessage(), "密钥已安全保存到系统密钥环。");
        QVERIFY(f.shown(prefix + "DeleteButton"));
        f.find<QPushButton>(prefix + "DeleteButton")->click();
        QVERIFY(f.keyring->items.isEmpty());
        QVERIFY(!f.shown(prefix + "DeleteButton"));
        QCOMPARE(f.credentials->statusMessage(), "已删除密钥。");
    }

    void refusedSavesKeepTheOldKeyShowWhyAndTheKeyFlagsLookAgain() {
        SettingsFixture f;
        f.keyring->items.insert(item(CredentialKind::openAI), "sk-old");
        f.keyring->items.insert(item(CredentialKind::deepSeek), "sk-1");
        f.credentials->refresh();
        f.credentials->setOpenAIDraft("sk-1\r\nX-Injected: 1"); // which keys are usable: the key store's test
        f.credentials->saveOpenAIKey();
        QCOMPARE(f.credentials->statusMessage(), "请输入有效密钥。");
        QCOMPARE(f.keyring->items.value(item(CredentialKind::openAI)), "sk-old");

        QVERIFY(f.credentials->hasDeepSeekKey());
        f.keyring->items.remove(item(CredentialKind::deepSeek)); // removed outside since the window looked
        f.keyring->storeStatus = -25293;
        f.credentials->setDeepSeekDraft("sk-new");
        f.credentials->saveDeepSeekKey();
        QCOMPARE(f.credentials->statusMessage(), KeychainStoreError::unexpectedStatus(-25293).description());
        QVERIFY(!f.credentials->hasDeepSeekKey());
        f.keyring->clearStatus = 2;
        f.credentials->remove(CredentialKind::deepSeek);
        QCOMPARE(f.credentials->statusMessage(), KeychainStoreError::unexpectedStatus(2).description());
    }

    // The hint itself is seen through real sockets in the integration tests.
    void hostNotFoundKeepsItsOwnTextWithoutTheCheckYourNetworkHint() {
        const NetworkError error(NetworkError::cannotFindHost);
        QCOMPARE(CredentialSettingsModel::connectionMessage(std::make_exception_ptr(error), "DeepSeek"),
                 error.description());
    }

    void modelNamesAreOnePathSegment_data() { test::rowsFromJson(QFINDTESTDATA("ui/model_check_urls.json")); }
    void modelNamesAreOnePathSegment() {
        QFETCH(QJsonObject, row);
        const QUrl url =
            CredentialSettingsModel::modelCheckUrl(QUrl(row["base"].toString()), row["model"].toString());
        QCOMPARE(url.isValid() ? QString::fromLatin1(url.toEncoded()) : QString(), row["url"].toString());
    }

    void aliasesSplitAtBothCommas_data() { test::rowsFromJson(QFINDTESTDATA("ui/aliases.json")); }
    void aliasesSplitAtBothCommas() {
        QFETCH(QJsonObject, row);
        QCOMPARE(DictionaryEditorTab::parseAliases(row["text"].toString()),
                 row["aliases"].toVariant().toStringList());
    }

    void returnAddsATrimmedEntryNeverABlankOneAndDeletingRemovesExactlyTheSelection() {
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
        QTest::keyClick(f.find<QComboBox>("kindPicker"), Qt::Key_Return); // the picker's Return adds too
        const DictionaryEntry added{.id = f.dictionary.entries().value(0).id,
                                    .canonical = "默萝",
                                    .aliases = {"默默罗", "Mo"},
                                    .kind = DictionaryEntryKind::brand,
                                    .english = std::nullopt};
        QCOMPARE(f.dictionary.entries(), QList{added});
        QCOMPARE(canonical->text(), QString());

        for (const char* more : {"乙", "丙"}) {
            canonical->insert(QString::fromUtf8(more));
            QTest::keyClick(canonical, Qt::Key_Return);
        }
        auto* list = f.find<QListWidget>("dictionaryList");
        const DictionaryEntry middle = f.dictionary.entries().value(1);
        for (int row : {0, 2})
            list->selectionModel()->select(list->model()->index(row, 0), QItemSelectionModel::Select);
        QTest::keyClick(list, Qt::Key_Delete);
        QCOMPARE(DictionaryStore(f.dictionary.filePath()).entries(), QList<DictionaryEntry>{middle});
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::Select);
        list->findChild<QAction*>("deleteEntriesAction")->trigger(); // the context menu
        QVERIFY(DictionaryStore(f.dictionary.filePath()).entries().isEmpty());
    }

    void historyIsNewestFirstCopiesWholeTextsDeletesThreeWaysAndClearsOnlyWhenConfirmed() {
        SettingsFixture f;
        const QString longText = QStringLiteral("第一行\n2\n3\n4\n5\n6\n第七行");
        for (const QString& text :
             {QStringLiteral("menu"), QStringLiteral("key"), QStringLiteral("button"), longText})
            test::run(f.historyStore.append({.createdAt = referenceSecondsNow(), .text = text}));
        f.view->show();
        f.openTab(3);
        QTRY_COMPARE(historyRows(f).size(), 4);
        HistoryRow* newest = historyRows(f).first();
        QCOMPARE(newest->findChild<QLabel*>("textLabel")->text(), longText);
        newest->findChild<QPushButton*>("copyButton")->click();
        QCOMPARE(f.pasteboard.string(), longText);
        historyRows(f)[1]->findChild<QPushButton*>("deleteButton")->click();
        QTRY_COMPARE(historyRows(f).size(), 3);
        QTest::keyClick(historyRows(f)[1], Qt::Key_Delete);
        QTRY_COMPARE(historyRows(f).size(), 2);
        historyRows(f)[1]->findChild<QAction*>("deleteAction")->trigger();
        QTRY_COMPARE(historyRows(f).size(), 1);
        QCOMPARE(test::run(f.historyStore.allEntries()).value(0).text, longText);
        QCOMPARE(test::run(f.historyStore.allEntries()).size(), 1);

        test::run(f.historyStore.append({.createdAt = referenceSecondsNow(), .text = "new dictation"}));
        f.find<QPushButton>("refreshButton")->click();
        QTRY_COMPARE(historyRows(f).size(), 2);
        QCOMPARE(historyRows(f).first()->entry().text, QStringLiteral("new dictation")); // not below the kept row
        f.find<QPushButton>("clearButton")->click();
        f.find<QPushButton>("cancelClearButton")->click();
        QVERIFY(QFile::exists(f.historyStore.filePath()));
        f.find<QPushButton>("clearButton")->click();
        f.find<QPushButton>("confirmClearButton")->click();
        QTRY_COMPARE(f.find<QStackedWidget>("historyContent")->currentWidget()->objectName(),
                     QStringLiteral("historyEmptyState"));
        QVERIFY(!QFile::exists(f.historyStore.filePath()));
    }

    // More rows than the viewport shows fill in over later turns: every one arrives, in list order,
    // also when the history changes while they fill in, and the list ends with its last row, not
    // with an empty tail sized for rows narrower than they are.
    void longHistoryFillsInWhollyAndInOrderEvenWhenItChangesMidwayAndEndsWithItsLastRow() {
        SettingsFixture f;
        QStringList expected;
        for (int i = 0; i < 60; ++i) {
            const QString text = QString::number(i) + QStringLiteral(" 明天上午十点和产品团队同步发布计划，确认 API Key 的迁移方案。"
                                                                     "下午整理设计文档发给大家评审。");
            test::run(f.historyStore.append({.createdAt = referenceSecondsNow(), .text = text}));
            expected.prepend(text);
        }
        f.view->show();
        f.openTab(3);
        QTRY_VERIFY(!historyRows(f).isEmpty());
        test::run(f.historyStore.append({.createdAt = referenceSecondsNow(), .text = "new"}));
        expected.prepend("new");
        f.find<QPushButton>("refreshButton")->click();
        const auto* view = f.find<HistoryView>("historyView");
        QTRY_VERIFY(view->isComplete() && historyRows(f).size() == expected.size());
        QStringList listed;
        for (const HistoryRow* row : historyRows(f))
            listed << row->entry().text;
        QCOMPARE(listed, expected);
        const QWidget* host = f.find<QScrollArea>("historyList")->widget();
        QTRY_VERIFY2(host->height() - historyRows(f).last()->geometry().bottom() < 20,
                     qPrintable(QString("list %1 px, last row ends at %2")
                                    .arg(host->height())
                                    .arg(historyRows(f).last()->geometry().bottom())));
    }
};

QTEST_MAIN(WindowsTest)
#include "tst_Windows.moc"

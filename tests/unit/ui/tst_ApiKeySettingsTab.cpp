#include "SettingsFixture.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>

using namespace murmelo;
using test::SettingsFixture;

class ApiKeySettingsTabTest : public QObject {
    Q_OBJECT

    // The first request line the silent server receives ("GET /v1/models/... HTTP/1.1"); empty
    // when none arrives in time.
    static QByteArray firstRequestLine(QTcpServer& server) {
        QDeadlineTimer deadline(5000);
        while (!server.hasPendingConnections() && !deadline.hasExpired())
            QTest::qWait(5);
        QTcpSocket* socket = server.nextPendingConnection();
        if (!socket) return {};
        QByteArray received;
        while (!received.contains("\r\n") && !deadline.hasExpired()) {
            QTest::qWait(5);
            received += socket->readAll();
        }
        return received.left(received.indexOf("\r\n"));
    }

private slots:
    void keyPromptsFollowSaveAndDelete_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("emptyPrompt");
        QTest::addColumn<CredentialKind>("kind");
        QTest::newRow("OpenAI") << "openAI"
                                << "输入 OpenAI API Key" << CredentialKind::openAI;
        QTest::newRow("DeepSeek") << "deepSeek"
                                  << "输入 DeepSeek API Key" << CredentialKind::deepSeek;
    }
    void keyPromptsFollowSaveAndDelete() {
        QFETCH(QString, service);
        QFETCH(QString, emptyPrompt);
        QFETCH(CredentialKind, kind);
        SettingsFixture f;
        f.openTab(1);
        const QByteArray prefix = service.toLatin1();
        auto* field = f.find<QLineEdit>(prefix + "KeyField");
        const QByteArray deleteButton = prefix + "DeleteButton";
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(field->placeholderText(), emptyPrompt);
        QVERIFY(!f.shown(deleteButton));
        QVERIFY(!f.shown("credentialStatus"));

        QTest::keyClicks(field, " sk-typed ");
        QTest::keyClick(field, Qt::Key_Return); // Return does not save
        QCOMPARE(f.keyring->stores, 0);
        f.find<QPushButton>(prefix + "SaveButton")->click();
        QCOMPARE(f.keyring->items.value({KeychainStore::defaultService, keychainAccount(kind)}), "sk-typed");
        QCOMPARE(field->text(), QString());
        QCOMPARE(field->placeholderText(), QStringLiteral("已保存；输入新值可覆盖"));
        QVERIFY(f.shown(deleteButton));
        QVERIFY(f.shown("credentialStatus"));
        QCOMPARE(f.find<QLabel>("credentialStatus")->text(), QStringLiteral("密钥已安全保存到 Keychain。"));

        f.find<QPushButton>(deleteButton)->click();
        QVERIFY(f.keyring->items.isEmpty());
        QCOMPARE(field->placeholderText(), emptyPrompt);
        QVERIFY(!f.shown(deleteButton));
        QCOMPARE(f.find<QLabel>("credentialStatus")->text(), QStringLiteral("已删除密钥。"));
    }

    void blankKeyIsRefused() {
        SettingsFixture f;
        QTest::keyClicks(f.find<QLineEdit>("openAIKeyField"), "   ");
        f.find<QPushButton>("openAISaveButton")->click();
        QCOMPARE(f.find<QLabel>("credentialStatus")->text(), QStringLiteral("请输入有效密钥。"));
        QCOMPARE(f.find<QLineEdit>("openAIKeyField")->text(), QString());
        QCOMPARE(f.keyring->stores, 0);
    }

    void modelFieldsWriteEveryKeystrokeAndTheTestUsesThem() {
        SettingsFixture f;
        auto* field = f.find<QLineEdit>("openAIModelField");
        QCOMPARE(field->text(), QStringLiteral("gpt-live-transcribe"));
        QCOMPARE(f.find<QLineEdit>("openAIRefinementModelField")->text(), QStringLiteral("gpt-5.6-terra"));
        QCOMPARE(f.find<QLineEdit>("deepSeekModelField")->text(), QStringLiteral("deepseek-v4-flash"));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_M);
        QCOMPARE(f.settings.openAIModel(), QStringLiteral("m"));
        QTest::keyClicks(field, "-2");
        QCOMPARE(f.settings.openAIModel(), QStringLiteral("m-2"));
        UserDefaults stored(f.environment.root() + QStringLiteral("/settings.json"));
        QCOMPARE(stored.string(AppSettings::openAIModelKey), QStringLiteral("m-2"));

        f.keyring->items.insert({KeychainStore::defaultService, keychainAccount(CredentialKind::openAI)},
                                "sk-1");
        f.credentials->refresh();
        f.find<QPushButton>("openAITestButton")->click();
        QCOMPARE(firstRequestLine(f.silentServer), QByteArray("GET /v1/models/m-2 HTTP/1.1"));
    }

    void bothTestButtonsWaitWhileEitherTestRuns_data() {
        QTest::addColumn<QByteArray>("started");
        QTest::addColumn<QString>("service");
        QTest::newRow("OpenAI") << QByteArray("openAITestButton") << "OpenAI";
        QTest::newRow("DeepSeek") << QByteArray("deepSeekTestButton") << "DeepSeek";
    }
    void bothTestButtonsWaitWhileEitherTestRuns() {
        QFETCH(QByteArray, started);
        QFETCH(QString, service);
        SettingsFixture f;
        f.openTab(1);
        for (CredentialKind kind : allCredentialKinds())
            f.keyring->items.insert({KeychainStore::defaultService, keychainAccount(kind)}, "sk-1");
        f.credentials->refresh();
        auto* openAI = f.find<QPushButton>("openAITestButton");
        auto* deepSeek = f.find<QPushButton>("deepSeekTestButton");
        QCOMPARE(openAI->text(), QStringLiteral("测试 OpenAI"));
        QCOMPARE(deepSeek->text(), QStringLiteral("测试 DeepSeek"));

        f.find<QPushButton>(started)->click();
        QVERIFY(f.credentials->isTesting());
        for (QPushButton* button : {openAI, deepSeek}) {
            QCOMPARE(button->text(), QStringLiteral("正在测试…"));
            QVERIFY(!button->isEnabled());
        }
        // The silent service lets the test run into its time limit; then both come back.
        QTRY_VERIFY_WITH_TIMEOUT(openAI->isEnabled(), 5000);
        QVERIFY(deepSeek->isEnabled());
        QCOMPARE(openAI->text(), QStringLiteral("测试 OpenAI"));
        QCOMPARE(deepSeek->text(), QStringLiteral("测试 DeepSeek"));
        QVERIFY(f.shown("credentialStatus"));
        QCOMPARE(f.find<QLabel>("credentialStatus")->text(),
                 "无法连接 " + service + QStringLiteral("（-1001）。请检查当前网络、VPN 或系统代理后重试。"));
    }
};

QTEST_MAIN(ApiKeySettingsTabTest)
#include "tst_ApiKeySettingsTab.moc"

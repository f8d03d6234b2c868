#include "LoginItemBackendFake.h"
#include "TestEnvironment.h"
#include "system/LaunchAtLoginService.h"
#include "xdg/DesktopEntry.h"
#include "xdg/LoginItemBackendXdg.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace murmelo;

Q_DECLARE_METATYPE(murmelo::LoginItemStatus)

namespace {

void makeExecutable(const QString& path, const QByteArray& script) {
    test::writeFile(path, script);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

class LaunchAtLoginTest : public QObject {
    Q_OBJECT
private slots:
    // --- the service's decisions, over the fake ---

    void serviceTransitions_data() {
        QTest::addColumn<LoginItemStatus>("before");
        QTest::addColumn<bool>("enable");
        QTest::addColumn<LoginItemStatus>("afterRegister");
        QTest::addColumn<int>("registers");
        QTest::addColumn<int>("unregisters");
        QTest::addColumn<bool>("needsApproval");
        QTest::addColumn<LoginItemStatus>("after");
        using S = LoginItemStatus;
        QTest::newRow("enable from absent")
            << S::notRegistered << true << S::enabled << 1 << 0 << false << S::enabled;
        QTest::newRow("enable when enabled")
            << S::enabled << true << S::enabled << 0 << 0 << false << S::enabled;
        QTest::newRow("enable, approval pending before")
            << S::requiresApproval << true << S::enabled << 0 << 0 << true << S::requiresApproval;
        QTest::newRow("enable, approval pending after")
            << S::notRegistered << true << S::requiresApproval << 1 << 0 << true << S::requiresApproval;
        QTest::newRow("enable when the program went missing")
            << S::notFound << true << S::enabled << 1 << 0 << false << S::enabled;
        QTest::newRow("disable when absent")
            << S::notRegistered << false << S::enabled << 0 << 0 << false << S::notRegistered;
        QTest::newRow("disable when enabled")
            << S::enabled << false << S::enabled << 0 << 1 << false << S::notRegistered;
        QTest::newRow("disable when missing")
            << S::notFound << false << S::enabled << 0 << 1 << false << S::notRegistered;
        QTest::newRow("disable when pending")
            << S::requiresApproval << false << S::enabled << 0 << 1 << false << S::notRegistered;
    }
    void serviceTransitions() {
        QFETCH(LoginItemStatus, before);
        QFETCH(bool, enable);
        QFETCH(LoginItemStatus, afterRegister);
        QFETCH(int, registers);
        QFETCH(int, unregisters);
        QFETCH(bool, needsApproval);
        QFETCH(LoginItemStatus, after);
        LoginItemBackendFake backend;
        backend.current = before;
        backend.statusAfterRegister = afterRegister;
        LaunchAtLoginService service(backend);
        bool approvalError = false;
        try {
            service.setEnabled(enable);
        } catch (const LaunchAtLoginError& error) {
            approvalError = true;
            QCOMPARE(
                error.description(),
                QStringLiteral("登录项需要系统确认，请在“系统设置 → 通用 → 登录项与扩展”中允许 Murmelo。"));
        }
        QCOMPARE(approvalError, needsApproval);
        QCOMPARE(backend.registerCalls, registers);
        QCOMPARE(backend.unregisterCalls, unregisters);
        QCOMPARE(service.status(), after);
        QCOMPARE(service.isEnabled(), after == LoginItemStatus::enabled);
    }

    void platformErrorsPassThroughUnchanged() {
        LoginItemBackendFake backend;
        backend.failRegister = [] {
            throw FileError(FileError::Case::write, QStringLiteral("/x/y.desktop"));
        };
        LaunchAtLoginService service(backend);
        try {
            service.setEnabled(true);
            QFAIL("no error");
        } catch (const FileError& error) {
            QCOMPARE(error.description(), QStringLiteral("无法写入文件：/x/y.desktop"));
        }
        QVERIFY(!service.isEnabled());
    }

    // --- the XDG autostart entry ---

    void entryIsWrittenAndRemovedInTheConfigHome() {
        test::TestEnvironment environment;
        const QString program = environment.root() + QStringLiteral("/bin/murmelo");
        makeExecutable(program, "#!/bin/sh\n");
        LoginItemBackendXdg backend(program);
        LaunchAtLoginService service(backend);
        const QString entry =
            environment.configHome() + QStringLiteral("/autostart/com.murmelo.Murmelo.desktop");
        QCOMPARE(backend.entryPath(), entry);
        QCOMPARE(service.status(), LoginItemStatus::notRegistered);

        service.setEnabled(true);
        QCOMPARE(service.status(), LoginItemStatus::enabled);
        QCOMPARE(QString::fromUtf8(test::readAll(entry)),
                 QStringLiteral("[Desktop Entry]\nType=Application\nName=Murmelo\n"
                                "Comment=语音输入：按下快捷键说话，结果粘贴到当前应用\nExec=\"") +
                     program + QStringLiteral("\"\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"));

        service.setEnabled(false);
        QVERIFY(!QFile::exists(entry));
        QCOMPARE(service.status(), LoginItemStatus::notRegistered);
        QVERIFY(QFileInfo(environment.configHome() + QStringLiteral("/autostart")).isDir());
    }

    void entryStartsTheRunningExecutableByDefault() {
        test::TestEnvironment environment;
        LoginItemBackendXdg backend;
        backend.registerItem();
        QCOMPARE(backend.status(), LoginItemStatus::enabled);
        const auto keys = desktopentry::readMainGroup(test::readAll(backend.entryPath()));
        QCOMPARE(desktopentry::parseExec(keys.value(QStringLiteral("Exec"))),
                 std::optional<QStringList>(QStringList{QCoreApplication::applicationFilePath()}));
        QVERIFY(QDir::isAbsolutePath(QCoreApplication::applicationFilePath()));
    }

    void statusReadsHiddenDisabledAndMissingEntries_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<LoginItemStatus>("status");
        const QByteArray exec = "Exec=\"@PROGRAM@\" --flag\n";
        QTest::newRow("ours") << QByteArray("[Desktop Entry]\n" + exec) << LoginItemStatus::enabled;
        QTest::newRow("hidden by the user")
            << QByteArray("[Desktop Entry]\n" + exec + "Hidden=true\n") << LoginItemStatus::notRegistered;
        QTest::newRow("switched off in GNOME")
            << QByteArray("[Desktop Entry]\n" + exec + "X-GNOME-Autostart-enabled=false\n")
            << LoginItemStatus::notRegistered;
        QTest::newRow("program gone")
            << QByteArray("[Desktop Entry]\nExec=\"/nonexistent/murmelo\"\n") << LoginItemStatus::notFound;
        QTest::newRow("relative program")
            << QByteArray("[Desktop Entry]\nExec=murmelo\n") << LoginItemStatus::notFound;
        QTest::newRow("broken quoting")
            << QByteArray("[Desktop Entry]\nExec=\"@PROGRAM@\n") << LoginItemStatus::notFound;
        QTest::newRow("Exec of another group only")
            << QByteArray("[Desktop Entry]\nName=x\n[Desktop Action a]\n" + exec)
            << LoginItemStatus::notFound;
    }
    void statusReadsHiddenDisabledAndMissingEntries() {
        QFETCH(QByteArray, content);
        QFETCH(LoginItemStatus, status);
        test::TestEnvironment environment;
        const QString program = environment.root() + QStringLiteral("/bin/murmelo");
        makeExecutable(program, "#!/bin/sh\n");
        LoginItemBackendXdg backend(program);
        test::writeFile(backend.entryPath(), QByteArray(content).replace("@PROGRAM@", program.toUtf8()));
        QCOMPARE(backend.status(), status);
    }

    void enablingReplacesAHiddenOrStaleEntry() {
        test::TestEnvironment environment;
        const QString program = environment.root() + QStringLiteral("/bin/murmelo");
        makeExecutable(program, "#!/bin/sh\n");
        LoginItemBackendXdg backend(program);
        LaunchAtLoginService service(backend);
        test::writeFile(backend.entryPath(),
                        "[Desktop Entry]\nExec=\"" + program.toUtf8() + "\"\nHidden=true\n");
        service.setEnabled(true);
        QCOMPARE(service.status(), LoginItemStatus::enabled);

        // Murmelo moved since the entry was written: switching the option on points it here.
        test::writeFile(backend.entryPath(), "[Desktop Entry]\nExec=\"/old/place/murmelo\"\n");
        QCOMPARE(service.status(), LoginItemStatus::notFound);
        service.setEnabled(true);
        QCOMPARE(service.status(), LoginItemStatus::enabled);
    }

    void unwritableAutostartFolderReportsTheFileError() {
        test::TestEnvironment environment;
        LoginItemBackendXdg backend(QStringLiteral("/usr/bin/true"));
        LaunchAtLoginService service(backend);
        // A file where the folder should be: mkdir fails whoever we run as.
        const QString folder = environment.configHome() + QStringLiteral("/autostart");
        test::writeFile(folder, "not a folder");
        try {
            service.setEnabled(true);
            QFAIL("no error");
        } catch (const FileError& error) {
            QCOMPARE(error.description(), QStringLiteral("无法创建文件夹：") + folder);
        }

        // A folder where the entry should be: it can be neither written nor removed.
        QFile::remove(folder);
        QVERIFY(QDir().mkpath(backend.entryPath()));
        try {
            backend.registerItem();
            QFAIL("no error");
        } catch (const FileError& error) {
            QCOMPARE(error.description(), QStringLiteral("无法写入文件：") + backend.entryPath());
        }
        try {
            backend.unregisterItem();
            QFAIL("no error");
        } catch (const FileError& error) {
            QCOMPARE(error.description(), QStringLiteral("无法删除：") + backend.entryPath());
        }
    }

    // --- Exec quoting ---

    void execValueQuotesAndEscapes_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << "/usr/bin/murmelo"
                               << "\"/usr/bin/murmelo\"";
        QTest::newRow("space and CJK") << "/home/李 雷/Murmelo app/murmelo"
                                       << "\"/home/李 雷/Murmelo app/murmelo\"";
        QTest::newRow("dollar") << "/opt/$HOME/m"
                                << "\"/opt/\\\\$HOME/m\"";
        QTest::newRow("double quote") << "/opt/\"q\"/m"
                                      << "\"/opt/\\\\\"q\\\\\"/m\"";
        QTest::newRow("backtick") << "/opt/`id`/m"
                                  << "\"/opt/\\\\`id\\\\`/m\"";
        QTest::newRow("backslash") << "/opt/a\\b/m"
                                   << "\"/opt/a\\\\\\\\b/m\"";
        QTest::newRow("percent") << "/opt/100%/m"
                                 << "\"/opt/100%%/m\"";
        QTest::newRow("single quote, ampersand") << "/opt/it's & more/m"
                                                 << "\"/opt/it's & more/m\"";
    }
    void execValueQuotesAndEscapes() {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QCOMPARE(desktopentry::execValue({path}), exec);
        // And back, as our own status check reads it.
        QCOMPARE(desktopentry::parseExec(desktopentry::unescapeString(exec)),
                 std::optional<QStringList>(QStringList{path}));
    }

    void anotherLauncherStartsTheEntryAtAnAwkwardPath() {
        // GLib's launcher is an independent reader of the same rules: if it starts the program,
        // the quoting is right. (No "%" here: GLib checks the program before it undoes "%%".)
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty()) QSKIP("gio is not installed");
        test::TestEnvironment environment;
        const QString directory = environment.root() + QStringLiteral("/bin/my \"apps\" $HOME `x` a\\b 中文");
        const QString program = directory + QStringLiteral("/murmelo");
        const QString marker = environment.root() + QStringLiteral("/started");
        makeExecutable(program, "#!/bin/sh\nprintf '%s' \"$0\" > '" + marker.toUtf8() + "'\n");
        LoginItemBackendXdg backend(program);
        backend.registerItem();
        QCOMPARE(backend.status(), LoginItemStatus::enabled);

        QProcess launcher;
        launcher.start(gio, {QStringLiteral("launch"), backend.entryPath()});
        QVERIFY(launcher.waitForFinished(20000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(!test::readAll(marker).isEmpty(), 10000);
        QCOMPARE(QString::fromUtf8(test::readAll(marker)), program);
    }
};

QTEST_GUILESS_MAIN(LaunchAtLoginTest)
#include "tst_LaunchAtLogin.moc"

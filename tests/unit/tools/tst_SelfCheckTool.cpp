// The self-check tool as a user runs it, in private folders and without an audio server.
#include "TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

namespace {

struct Outcome {
    int status = -1;
    QByteArray out, err;
};

// Runs the tool with HOME, the XDG folders and the temporary folder inside `root`.
Outcome runTool(const QString& root, const QString& configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root + "/home");
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("XDG_DATA_HOME", root + "/data");
    environment.insert("XDG_RUNTIME_DIR", root + "/run");
    environment.insert("TMPDIR", root + "/tmp");
    environment.insert("PULSE_SERVER", "unix:" + root + "/run/no-such-server");
    for (const char* folder : {"/home", "/run", "/tmp"})
        QDir().mkpath(root + folder);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck", QStringList());
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QStringList contentsOf(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    return found;
}

} // namespace

class SelfCheckToolTest : public QObject {
    Q_OBJECT
private slots:
    void freshInstallPrintsTenNamesAndASummary() {
        murmelo::test::TestEnvironment environment;
        const auto outcome = runTool(environment.root(), environment.root() + "/config");
        QCOMPARE(outcome.status, 0);
        QCOMPARE(QString::fromUtf8(outcome.out), QStringLiteral("smart prompt resource\n"
                                                                "translation prompt resource\n"
                                                                "mock transcription and refinement\n"
                                                                "dictionary keywords and glossary\n"
                                                                "hotkey setting persistence\n"
                                                                "completion feedback state\n"
                                                                "audio input device catalog\n"
                                                                "OpenAI Responses payload and parsing\n"
                                                                "evaluation metrics\n"
                                                                "local history persistence\n"
                                                                "全部 10 项自检通过。\n"));
        QCOMPARE(outcome.err, QByteArray());
        // Its scratch folder is gone; the audio client library may leave its own runtime files.
        for (const QString& left : contentsOf(environment.root() + "/tmp"))
            QVERIFY2(left.startsWith("pulse-"), qPrintable(left));
        QVERIFY(!QFileInfo::exists(environment.root() + "/config/Murmelo"));
    }

    void failureGivesItsMessageAndStatusOne() {
        murmelo::test::TestEnvironment environment;
        // The config home is a file: the settings cannot be written, so they do not persist.
        murmelo::test::writeFile(environment.root() + "/config-file", "x");
        const auto outcome = runTool(environment.root(), environment.root() + "/config-file");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(QString::fromUtf8(outcome.out), QStringLiteral("smart prompt resource\n"
                                                                "translation prompt resource\n"
                                                                "mock transcription and refinement\n"
                                                                "dictionary keywords and glossary\n"));
        QCOMPARE(QString::fromUtf8(outcome.err), QStringLiteral("自检失败：快捷键设置未持久化\n"));
        for (const QString& left : contentsOf(environment.root() + "/tmp"))
            QVERIFY2(left.startsWith("pulse-"), qPrintable(left));
    }

    void argumentsAreRefused() {
        QProcess process;
        process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck", {"--all"});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(SelfCheckToolTest)
#include "tst_SelfCheckTool.moc"

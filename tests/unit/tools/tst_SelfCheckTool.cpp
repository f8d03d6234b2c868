// The self-check as a user runs it (the tool, in private folders and without an audio server), and
// the failures the tool cannot be steered into, run in process.
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "evaluation/MurmeloSmokeTestSuite.h"
#include "evaluation/SmokeTestError.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Every file and folder below `root`, except the audio client library's own runtime files.
QStringList leftIn(const QString& root) {
    QStringList found;
    for (QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        if (const QString relative = QDir(root).relativeFilePath(it.next()); !relative.startsWith("pulse-"))
            found << relative;
    return found;
}

} // namespace

class SelfCheckToolTest : public QObject {
    Q_OBJECT
private slots:
    void toolNamesEachPassedCheckReportsTheFailureAndLeavesNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("lines"); // on standard output
        QTest::addColumn<QString>("err");
        QTest::newRow("fresh install") << QStringList() << 0 << 11 << QString();
        // The config home is a file: the settings cannot be written, so they do not persist.
        QTest::newRow("settings cannot persist") << QStringList() << 1 << 4 << "自检失败：快捷键设置未持久化\n";
        QTest::newRow("arguments refused") << QStringList{"--all"} << 2 << 0 << "用法：murmelo-selfcheck（不带参数）\n";
    }
    void toolNamesEachPassedCheckReportsTheFailureAndLeavesNothing() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(int, lines);
        QFETCH(QString, err);
        test::TestEnvironment environment;
        const QString root = environment.root();
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const char* folder : {"/home", "/run", "/tmp"})
            QDir().mkpath(root + folder);
        variables.insert("HOME", root + "/home");
        variables.insert("XDG_RUNTIME_DIR", root + "/run");
        variables.insert("TMPDIR", root + "/tmp");
        variables.insert("XDG_DATA_HOME", root + "/data");
        variables.insert("XDG_CONFIG_HOME", root + "/config");
        variables.insert("PULSE_SERVER", "unix:" + root + "/run/no-such-server");
        if (status == 1) test::writeFile(root + "/config", "x");
        QProcess tool;
        tool.setProcessEnvironment(variables);
        tool.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck", arguments);
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), status);
        const QStringList out = QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), lines);
        if (status == 0) QCOMPARE(out.last(), QStringLiteral("全部 10 项自检通过。"));
        QCOMPARE(QString::fromUtf8(tool.readAllStandardError()), err);
        QCOMPARE(leftIn(root + "/tmp"), QStringList());
        QVERIFY(!QFileInfo::exists(root + "/config/Murmelo"));
    }

    // Whatever fails, the scratch folder and the defaults domain go, and folders that were there
    // before the run stay.
    void failedCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat_data() {
        QTest::addColumn<QByteArray>("smart");
        QTest::addColumn<QByteArray>("translation");
        QTest::addColumn<bool>("duplicateMicrophones");
        QTest::addColumn<int>("passed");
        QTest::addColumn<QString>("failure"); // empty: the run passes
        const QByteArray faithful("只整理，不编造。"), natural("Write natural English.");
        QTest::newRow("all pass") << faithful << natural << false << 10 << QString();
        QTest::newRow("smart prompt may invent")
            << QByteArray("把口述整理成书面中文。") << natural << false << 0 << "智能口述提示词缺少保真约束";
        QTest::newRow("translation not natural")
            << QByteArray("整理时不增加结论。") << QByteArray("Translate into English.") << false << 1 << "翻译提示词资源异常";
        QTest::newRow("two microphones with one UID") << faithful << natural << true << 6 << "麦克风设备 UID 重复";
    }
    void failedCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat() {
        QFETCH(QByteArray, smart);
        QFETCH(QByteArray, translation);
        QFETCH(bool, duplicateMicrophones);
        QFETCH(int, passed);
        QFETCH(QString, failure);
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/bundle", temporary = environment.root() + "/tmp";
        test::writeFile(bundle + "/Prompts/smart_dictation_zh.md", smart);
        test::writeFile(bundle + "/Prompts/translate_to_english.md", translation);
        QDir().mkpath(temporary);
        QDir().mkpath(environment.configHome() + "/Murmelo/defaults");
        AudioInputBackendFake microphones;
        if (duplicateMicrophones) microphones.devices = {{"mic", "麦克风 A"}, {"mic", "麦克风 B"}};
        int reported = 0;
        SmokeTestOptions options;
        options.bundleDirectory = bundle;
        options.temporaryDirectory = temporary;
        options.mockTranscriptionDelay = options.mockRefinementDelay = 1ms;
        options.onCheckPassed = [&](const QString&) { ++reported; };
        const auto error = test::failureOf(MurmeloSmokeTestSuite::run(microphones, options));
        QCOMPARE(error, failure);
        QCOMPARE(reported, passed);
        QCOMPARE(leftIn(temporary), QStringList());
        QCOMPARE(leftIn(environment.configHome()), QStringList({"Murmelo", "Murmelo/defaults"}));
    }
};

QTEST_GUILESS_MAIN(SelfCheckToolTest)
#include "tst_SelfCheckTool.moc"

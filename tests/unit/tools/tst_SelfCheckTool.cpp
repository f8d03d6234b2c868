// The self-check as a user runs it (the tool, in private folders and without an audio server), and
// the failures the tool cannot be steered into, run in process.
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "evaluation/MurmeloSmokeTestSuite.h"

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
    // In private folders and without an audio server; a config home that is a file keeps the
    // settings from persisting.
    void toolNamesEachPassedCheckReportsAFailureAndLeavesNothing_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("lines"); // on standard output
        QTest::addColumn<QString>("err");
        QTest::newRow("fresh install") << 0 << 11 << QString();
        QTest::newRow("settings cannot persist") << 1 << 4 << "自检失败：快捷键设置未持久化\n";
    }
    void toolNamesEachPassedCheckReportsAFailureAndLeavesNothing() {
        QFETCH(int, status);
        QFETCH(int, lines);
        QFETCH(QString, err);
        test::TestEnvironment environment;
        const QString root = environment.root();
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        for (const QString& name : QStringList{"HOME", "XDG_RUNTIME_DIR", "TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            variables.insert(name, root + "/" + name);
            if (name != "XDG_CONFIG_HOME" || status == 0) QDir().mkpath(root + "/" + name);
        }
        if (status == 1) test::writeFile(root + "/XDG_CONFIG_HOME", "x");
        variables.insert("PULSE_SERVER", "unix:" + root + "/no-such-server");
        QProcess tool;
        tool.setProcessEnvironment(variables);
        tool.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck");
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), status);
        const QStringList out = QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), lines);
        QCOMPARE(QString::fromUtf8(tool.readAllStandardError()), err);
        QCOMPARE(leftIn(root + "/TMPDIR"), QStringList());
        QVERIFY(!QFileInfo::exists(root + "/XDG_CONFIG_HOME/Murmelo"));
    }

    // Whatever fails, the scratch folder and the defaults domain go, and folders that were there
    // before the run stay.
    void failedCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat_data() {
        QTest::addColumn<int>("passed");
        QTest::addColumn<QString>("failure");
        QTest::newRow("smart prompt may invent") << 0 << "智能口述提示词缺少保真约束";
        QTest::newRow("translation not natural") << 1 << "翻译提示词资源异常";
        QTest::newRow("two microphones with one UID") << 6 << "麦克风设备 UID 重复";
    }
    void failedCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat() {
        QFETCH(int, passed);
        QFETCH(QString, failure);
        const QByteArray fault = QTest::currentDataTag();
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/bundle", temporary = environment.root() + "/tmp";
        test::writeFile(bundle + "/Prompts/smart_dictation_zh.md",
                        fault == "smart prompt may invent" ? "把口述整理成书面中文。" : "只整理，不编造。");
        test::writeFile(bundle + "/Prompts/translate_to_english.md",
                        fault == "translation not natural" ? "Translate into English." : "Write natural English.");
        QDir().mkpath(temporary);
        QDir().mkpath(environment.configHome() + "/Murmelo/defaults");
        AudioInputBackendFake microphones;
        if (fault == "two microphones with one UID") microphones.devices = {{"mic", "麦克风 A"}, {"mic", "麦克风 B"}};
        int reported = 0;
        SmokeTestOptions options;
        options.bundleDirectory = bundle;
        options.temporaryDirectory = temporary;
        options.mockTranscriptionDelay = options.mockRefinementDelay = 1ms;
        options.onCheckPassed = [&](const QString&) { ++reported; };
        QCOMPARE(test::failureOf(MurmeloSmokeTestSuite::run(microphones, options)), failure);
        QCOMPARE(reported, passed);
        QCOMPARE(leftIn(temporary), QStringList());
        QCOMPARE(leftIn(environment.configHome()), QStringList({"Murmelo", "Murmelo/defaults"}));
    }
};

QTEST_GUILESS_MAIN(SelfCheckToolTest)
#include "tst_SelfCheckTool.moc"

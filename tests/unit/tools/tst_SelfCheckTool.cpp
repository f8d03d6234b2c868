// The self-check as a user runs it (the tool, in private folders and without an audio server), and
// the suite's own clean-up and prompt checks, which the tool cannot be steered into.
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

const QStringList allTen{"smart prompt resource",
                         "translation prompt resource",
                         "mock transcription and refinement",
                         "dictionary keywords and glossary",
                         "hotkey setting persistence",
                         "completion feedback state",
                         "audio input device catalog",
                         "OpenAI Responses payload and parsing",
                         "evaluation metrics",
                         "local history persistence"};

struct Outcome {
    int status = -1;
    QByteArray out, err;
};

// Runs the tool with HOME, the XDG folders and the temporary folder inside `root`.
Outcome runTool(const QString& root, const QString& configHome, const QStringList& arguments = {}) {
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
    process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck", arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// Every file and folder below `root`, relative to it, except the audio client library's own
// runtime files, which are not the self-check's to remove.
QStringList leftIn(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(root).relativeFilePath(it.next());
        if (!relative.startsWith("pulse-")) found << relative;
    }
    return found;
}

QString lines(const QStringList& names) {
    QString text;
    for (const QString& name : names)
        text += name + '\n';
    return text;
}

} // namespace

class SelfCheckToolTest : public QObject {
    Q_OBJECT
private slots:
    void freshInstallPrintsTenNamesAndASummaryAndLeavesNothing() {
        test::TestEnvironment environment;
        const auto outcome = runTool(environment.root(), environment.root() + "/config");
        QCOMPARE(outcome.status, 0);
        QCOMPARE(QString::fromUtf8(outcome.out), lines(allTen) + QStringLiteral("全部 10 项自检通过。\n"));
        QCOMPARE(outcome.err, QByteArray());
        QCOMPARE(leftIn(environment.root() + "/tmp"), QStringList());
        QVERIFY(!QFileInfo::exists(environment.root() + "/config/Murmelo"));
    }

    void failureGivesItsMessageAndStatusOneAndLeavesNoScratchFolder() {
        test::TestEnvironment environment;
        // The config home is a file: the settings cannot be written, so they do not persist.
        test::writeFile(environment.root() + "/config-file", "x");
        const auto outcome = runTool(environment.root(), environment.root() + "/config-file");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(QString::fromUtf8(outcome.out), lines(allTen.mid(0, 4)));
        QCOMPARE(QString::fromUtf8(outcome.err), QStringLiteral("自检失败：快捷键设置未持久化\n"));
        QCOMPARE(leftIn(environment.root() + "/tmp"), QStringList());
    }

    void argumentsAreRefused() {
        test::TestEnvironment environment;
        const auto outcome = runTool(environment.root(), environment.root() + "/config", {"--all"});
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.out.isEmpty());
    }

    // A failure after the settings check still removes the scratch folder and the settings domain,
    // and folders that existed before the run stay.
    void laterFailureRemovesWhatTheRunMadeAndOnlyThat() {
        test::TestEnvironment environment;
        const QString temporary = environment.root() + "/tmp";
        QDir().mkpath(temporary);
        QDir().mkpath(environment.configHome() + "/Murmelo/defaults");
        AudioInputBackendFake microphones;
        microphones.devices = {{"mic", "麦克风 A"}, {"mic", "麦克风 B"}};
        QStringList reported;
        SmokeTestOptions options;
        options.temporaryDirectory = temporary;
        options.mockTranscriptionDelay = 1ms;
        options.mockRefinementDelay = 1ms;
        options.onCheckPassed = [&](const QString& name) { reported << name; };
        const auto error = test::runExpectingError<SmokeTestError>(MurmeloSmokeTestSuite::run(microphones, options));
        QVERIFY(error);
        QCOMPARE(error->description(), QStringLiteral("麦克风设备 UID 重复"));
        QCOMPARE(reported, allTen.mid(0, 6));
        QCOMPARE(leftIn(temporary), QStringList());
        QCOMPARE(leftIn(environment.configHome()), QStringList({"Murmelo", "Murmelo/defaults"}));
    }

    void promptResourcesWithoutTheirConstraintsFail_data() {
        QTest::addColumn<QByteArray>("smart");
        QTest::addColumn<QByteArray>("translation");
        QTest::addColumn<QString>("failure"); // empty: the run passes
        QTest::newRow("smart prompt may invent") << QByteArray("把口述整理成书面中文。")
                                                 << QByteArray("Translate into natural English.")
                                                 << "智能口述提示词缺少保真约束";
        QTest::newRow("translation not natural") << QByteArray("整理时不增加结论。")
                                                 << QByteArray("Translate into English.") << "翻译提示词资源异常";
        QTest::newRow("both constrained") << QByteArray("只整理，不编造。") << QByteArray("Write natural English.")
                                          << QString();
    }
    void promptResourcesWithoutTheirConstraintsFail() {
        QFETCH(QByteArray, smart);
        QFETCH(QByteArray, translation);
        QFETCH(QString, failure);
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/bundle";
        test::writeFile(bundle + "/Prompts/smart_dictation_zh.md", smart);
        test::writeFile(bundle + "/Prompts/translate_to_english.md", translation);
        AudioInputBackendFake microphones;
        SmokeTestOptions options;
        options.bundleDirectory = bundle;
        options.temporaryDirectory = environment.root();
        options.mockTranscriptionDelay = 1ms;
        options.mockRefinementDelay = 1ms;
        if (failure.isEmpty()) {
            QCOMPARE(test::run(MurmeloSmokeTestSuite::run(microphones, options)), allTen);
            return;
        }
        const auto error = test::runExpectingError<SmokeTestError>(MurmeloSmokeTestSuite::run(microphones, options));
        QVERIFY(error);
        QCOMPARE(error->description(), failure);
    }
};

QTEST_GUILESS_MAIN(SelfCheckToolTest)
#include "tst_SelfCheckTool.moc"

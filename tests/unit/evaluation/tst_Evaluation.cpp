// The evaluation metrics on case files, the self-check in process, and the two tools built on
// them as a user runs them.
#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "evaluation/EvaluationCalculator.h"
#include "evaluation/MurmeloSmokeTestSuite.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// What a folder holds, hidden files included; a leftover below it leaves its top folder too.
QStringList leftIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class EvaluationTest : public QObject {
    Q_OBJECT
private slots:
    // Each row's records are valid ones with the row's fields changed, or a raw text; the summary
    // is compared on the keys the row names (null: absent). The error rate counts user-perceived
    // characters without white space.
    void recordsAreSummarisedOrRejected_data() { test::rowsFromJson(QFINDTESTDATA("evaluation/summaries.json")); }
    void recordsAreSummarisedOrRejected() {
        QFETCH(QJsonObject, row);
        QByteArray input = row["text"].toString().toUtf8();
        if (row.contains("records")) {
            QJsonArray records;
            for (const QJsonValue& value : row["records"].toArray()) {
                QJsonObject record = EvaluationRecord().toJson();
                const QJsonObject changes = value.toObject();
                for (auto it = changes.begin(); it != changes.end(); ++it)
                    record.insert(it.key(), it.value());
                records.append(record);
            }
            input = QJsonDocument(records).toJson();
        }
        try {
            const QJsonObject summary = EvaluationCalculator::summarize(decodeEvaluationRecords(input)).toJson();
            const QJsonObject expected = row["summary"].toObject();
            QVERIFY2(!expected.isEmpty(), "the records were summarised");
            for (auto it = expected.begin(); it != expected.end(); ++it)
                QCOMPARE(summary.value(it.key()), it->isNull() ? QJsonValue(QJsonValue::Undefined) : *it);
        } catch (const EvaluationError& error) {
            QCOMPARE(error.field(), row["overflow"].toString());
        } catch (const JsonParseError&) {
            QVERIFY2(row["malformed"].toBool(), "the records were rejected");
        }
    }

    // The tool reads a file named on its command line, else standard input; bad input gets one
    // line on standard error and status 2.
    void evaluationToolSummarisesAFileOrStandardInputAndRejectsBadInputInOneLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        const QByteArray records = QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson();
        QTest::newRow("file") << QStringList{"records.json"} << QByteArray() << 0;
        QTest::newRow("standard input") << QStringList() << records << 0;
        QTest::newRow("missing file") << QStringList{"absent.json"} << records << 2;
        QTest::newRow("not JSON") << QStringList() << QByteArray("{{") << 2;
    }
    void evaluationToolSummarisesAFileOrStandardInputAndRejectsBadInputInOneLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        test::TestEnvironment environment;
        test::writeFile(environment.root() + "/records.json", QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson());
        QProcess tool;
        tool.setWorkingDirectory(environment.root());
        tool.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-eval", arguments);
        tool.write(input);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), status);
        const QJsonObject summary = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
        QCOMPARE(summary["recordCount"], status == 0 ? QJsonValue(1) : QJsonValue(QJsonValue::Undefined));
        QCOMPARE(tool.readAllStandardError().count('\n'), status == 0 ? 0 : 1);
    }

    // In private folders and without an audio server; a config home that is a file keeps the
    // settings from persisting.
    void selfCheckToolNamesEachPassedCheckReportsAFailureAndLeavesNothing_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("lines"); // on standard output
        QTest::addColumn<QString>("err");
        QTest::newRow("fresh install") << 0 << 11 << QString();
        QTest::newRow("settings cannot persist") << 1 << 4 << "自检失败：快捷键设置未持久化\n";
    }
    void selfCheckToolNamesEachPassedCheckReportsAFailureAndLeavesNothing() {
        QFETCH(int, status);
        QFETCH(int, lines);
        QFETCH(QString, err);
        test::TestEnvironment environment; // the tool inherits its private HOME and XDG folders
        const QString root = environment.root();
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            environment.set(name, (root + "/" + name).toUtf8());
            QDir().mkpath(root + "/" + name);
        }
        environment.set("PULSE_SERVER", ("unix:" + root + "/no-such-server").toUtf8());
        if (status == 1) test::writeFile(environment.configHome(), "x");
        QProcess tool;
        tool.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-selfcheck");
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), status);
        const QStringList out = QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), lines);
        QCOMPARE(QString::fromUtf8(tool.readAllStandardError()), err);
        QCOMPARE(leftIn(root + "/TMPDIR"), QStringList());
        QVERIFY(!QFileInfo::exists(environment.configHome() + "/Murmelo"));
    }

    // Whatever fails, the scratch folder and the defaults domain go, and folders that were there
    // before the run stay.
    void failedSelfCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat_data() {
        QTest::addColumn<int>("passed");
        QTest::addColumn<QString>("failure");
        QTest::newRow("smart prompt may invent") << 0 << "智能口述提示词缺少保真约束";
        QTest::newRow("translation not natural") << 1 << "翻译提示词资源异常";
        QTest::newRow("two microphones with one UID") << 6 << "麦克风设备 UID 重复";
    }
    void failedSelfCheckStopsTheRunAndRemovesWhatItMadeAndOnlyThat() {
        QFETCH(int, passed);
        QFETCH(QString, failure);
        const QByteArray fault = QTest::currentDataTag();
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/bundle", temporary = environment.root() + "/tmp";
        // Either of the two fidelity phrases will do for the smart prompt.
        test::writeFile(bundle + "/Prompts/smart_dictation_zh.md", fault == "smart prompt may invent" ? "把口述整理成书面中文。"
                                                                   : fault == "translation not natural" ? "整理时不增加结论。"
                                                                                                        : "只整理，不编造。");
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
        QCOMPARE(leftIn(environment.configHome() + "/Murmelo"), QStringList({"defaults"}));
        QCOMPARE(leftIn(environment.configHome() + "/Murmelo/defaults"), QStringList());
    }
};

QTEST_GUILESS_MAIN(EvaluationTest)
#include "tst_Evaluation.moc"

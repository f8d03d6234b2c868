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
#include <QRegularExpression>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// What a folder holds, hidden files included; a leftover below it leaves its top folder too.
QStringList leftIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Whether all of `text` matches `pattern`.
bool matches(const QString& pattern, const QByteArray& text) {
    const QRegularExpression whole(QRegularExpression::anchoredPattern(pattern));
    return whole.match(QString::fromUtf8(text)).hasMatch();
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

    // Both tools as a user runs them, in private folders and without an audio server: the
    // evaluation tool reads the file it is given, else standard input; the self-check names each
    // check as it passes, then sums up, and fails where a config home that is a file keeps the
    // settings from persisting. A failure is one line on standard error, status 2 for bad input.
    void toolsPrintTheirResultOrOneLineOfFailureWithItsStatus_data() {
        QTest::addColumn<QString>("command"); // the tool and its arguments
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // patterns that all of standard output and error match
        QTest::addColumn<QString>("err");
        const QByteArray records = QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson();
        const QString summary = R"((?s)\{.*"recordCount": 1\b.*\}\n)", oneLine = ".+\n";
        QTest::newRow("evaluation of a file")
            << "murmelo-eval records.json" << QByteArray() << 0 << summary << "";
        QTest::newRow("evaluation of standard input") << "murmelo-eval" << records << 0 << summary << "";
        QTest::newRow("evaluation of a missing file")
            << "murmelo-eval absent.json" << records << 2 << "" << oneLine;
        QTest::newRow("evaluation of bad JSON") << "murmelo-eval" << QByteArray("{{") << 2 << "" << oneLine;
        QTest::newRow("self-check of a fresh install")
            << "murmelo-selfcheck" << QByteArray() << 0 << "提示词资源：.+\n(.+\n){10}全部 10 项自检通过。\n"
            << "";
        QTest::newRow("self-check where settings cannot persist")
            << "murmelo-selfcheck" << QByteArray() << 1 << "提示词资源：.+\n(.+\n){4}"
            << "自检失败：快捷键设置未持久化\n";
    }
    void toolsPrintTheirResultOrOneLineOfFailureWithItsStatus() {
        QFETCH(QString, command);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        test::TestEnvironment environment; // the tools inherit its private HOME and XDG folders
        const QString root = environment.root();
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            environment.set(name, (root + "/" + name).toUtf8());
            QDir().mkpath(root + "/" + name);
        }
        environment.set("PULSE_SERVER", ("unix:" + root + "/no-such-server").toUtf8());
        if (status == 1) test::writeFile(environment.configHome(), "x");
        test::writeFile(root + "/records.json",
                        QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson());
        QProcess tool;
        tool.setWorkingDirectory(root);
        QStringList arguments = command.split(' ');
        tool.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/" + arguments.takeFirst(), arguments);
        tool.write(input);
        tool.closeWriteChannel();
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), status);
        const QByteArray printed = tool.readAllStandardOutput(), complaint = tool.readAllStandardError();
        QVERIFY2(matches(out, printed), printed.constData());
        QVERIFY2(matches(err, complaint), complaint.constData());
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

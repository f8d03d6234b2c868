// The evaluation metrics on case files, and murmelo-eval as a user runs it.
#include "TestEnvironment.h"
#include "evaluation/EvaluationCalculator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace murmelo;

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
    void toolSummarisesAFileOrStandardInputAndRejectsBadInputInOneLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        const QByteArray records = QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson();
        QTest::newRow("file") << QStringList{"records.json"} << QByteArray() << 0;
        QTest::newRow("standard input") << QStringList() << records << 0;
        QTest::newRow("missing file") << QStringList{"absent.json"} << records << 2;
        QTest::newRow("not JSON") << QStringList() << QByteArray("{{") << 2;
        QTest::newRow("empty input") << QStringList() << QByteArray() << 2;
    }
    void toolSummarisesAFileOrStandardInputAndRejectsBadInputInOneLine() {
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
};

QTEST_GUILESS_MAIN(EvaluationTest)
#include "tst_Evaluation.moc"

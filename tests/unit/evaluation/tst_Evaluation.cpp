// The evaluation metrics on case files, and murmelo-eval as a user runs it.
#include "TestEnvironment.h"
#include "evaluation/EvaluationCalculator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace murmelo;

namespace {

struct Outcome {
    int status = -1;
    QByteArray out, err;
};
Outcome runTool(const QStringList& arguments, const QByteArray& input) {
    QProcess process;
    process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + "/bin/murmelo-eval", arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
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

    void toolSummarisesStandardInputOrAFileAndRejectsBadInputInOneLine() {
        const QByteArray records = QJsonDocument(QJsonArray{EvaluationRecord().toJson()}).toJson();
        const auto fromStdin = runTool({}, records);
        QCOMPARE(fromStdin.status, 0);
        QCOMPARE(QJsonDocument::fromJson(fromStdin.out).object()["recordCount"], QJsonValue(1));
        test::TestEnvironment environment;
        test::writeFile(environment.root() + "/records.json", records);
        QCOMPARE(runTool({environment.root() + "/records.json"}, {}).out, fromStdin.out);
        for (const auto& [arguments, input] : QList<std::pair<QStringList, QByteArray>>{
                 {{"/nonexistent/records.json"}, {}}, {{}, "{{"}, {{}, {}}}) {
            const auto outcome = runTool(arguments, input);
            QCOMPARE(outcome.status, 2);
            QVERIFY(outcome.out.isEmpty());
            QCOMPARE(outcome.err.count('\n'), 1);
        }
    }
};

QTEST_GUILESS_MAIN(EvaluationTest)
#include "tst_Evaluation.moc"

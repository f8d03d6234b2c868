#include "TestEnvironment.h"
#include "evaluation/EvaluationCalculator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <limits>

using namespace murmelo;
namespace calc = murmelo::EvaluationCalculator;

namespace {

EvaluationRecord record(double latency, bool failed = false) {
    EvaluationRecord r;
    r.id = QStringLiteral("r");
    r.mode = QStringLiteral("smartDictation");
    r.completionLatencySeconds = latency;
    r.requestFailed = failed;
    return r;
}

// The command-line tool as a user runs it.
struct Outcome {
    int status;
    QByteArray out, err;
};
Outcome runTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/bin/murmelo-eval"), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) return {-1, {}, {}};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class EvaluationTest : public QObject {
    Q_OBJECT
private slots:
    void editRates_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<double>("rate");
        QTest::newRow("one substitution") << "你好世界" << "你好世间" << 0.25;
        QTest::newRow("both empty") << "" << "" << 0.0;
        QTest::newRow("empty reference") << "abc" << "" << 1.0;
        QTest::newRow("white space never counts") << "你 好\n世\t界 " << "你好世界" << 0.0;
        QTest::newRow("ideographic space") << "你\u3000好" << "你好" << 0.0;
        QTest::newRow("canonical equivalence") << "caf\u00e9" << "cafe\u0301" << 0.0;
        QTest::newRow("emoji is one character") << "👍🏽好" << "好" << 1.0;
        QTest::newRow("flag is one character") << "🇨🇳" << "🇺🇸" << 1.0;
        QTest::newRow("rate can exceed one") << "abcd" << "x" << 4.0;
        QTest::newRow("no case folding") << "ABC" << "abc" << 1.0;
        QTest::newRow("insertion") << "abc" << "abxc" << 0.25;
    }
    void editRates() {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(double, rate);
        QCOMPARE(calc::editRate(source, target), rate);
    }

    void percentileUsesNearestRank() {
        QList<double> twenty;
        for (int i = 1; i <= 20; ++i) twenty << i;
        QCOMPARE(calc::percentile(twenty, 0.95), std::optional<double>(19));
        QCOMPARE(calc::percentile({1, 2, 3, 4}, 0.5), std::optional<double>(2));
        QCOMPARE(calc::percentile({7}, 0.0), std::optional<double>(7));
        QVERIFY(!calc::percentile({}, 0.5));
    }

    void emptyListSummary() {
        const auto summary = calc::summarize({});
        QCOMPARE(summary, EvaluationSummary{});
        QCOMPARE(QJsonDocument(summary.toJson()).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"recordCount":0,"requestFailureRate":0})"));
    }

    void summaryCombinesRecords() {
        auto a = record(1.0);
        a.referenceText = "你好世界";
        a.rawTranscript = "你好世间";
        a.userEditedText = "   "; // only spaces: not a usable edit
        a.terminologyHits = 1;
        a.terminologyTotal = 2;
        a.meaningPreserved = true;
        auto b = record(3.0);
        b.referenceText = " \n"; // ignored for the error rate
        b.finalText = "abcd";
        b.userEditedText = "abcx";
        b.terminologyHits = 5; // hits without totals still count in the sum
        b.meaningPreserved = false;
        auto c = record(9.0, true);
        c.referenceText = "ab";
        c.rawTranscript = "ab";
        c.numberHits = 3;
        const auto summary = calc::summarize({a, b, c});
        QCOMPARE(summary.recordCount, 3);
        QCOMPARE(summary.averageCharacterErrorRate, std::optional<double>(0.125)); // (0.25 + 0) / 2, failed counts
        QCOMPARE(summary.averageUserModificationRate, std::optional<double>(0.25));
        QCOMPARE(summary.terminologyAccuracy, std::optional<double>(3.0));
        QVERIFY(!summary.numberAccuracy); // totals of zero
        QCOMPARE(summary.medianCompletionLatencySeconds, std::optional<double>(1.0));
        QCOMPARE(summary.p95CompletionLatencySeconds, std::optional<double>(3.0));
        QCOMPARE(summary.requestFailureRate, 1.0 / 3.0);
        QCOMPARE(summary.meaningPreservationRate, std::optional<double>(0.5));
    }

    void allFailedLeavesNoLatencies() {
        const auto summary = calc::summarize({record(1, true), record(2, true)});
        QVERIFY(!summary.medianCompletionLatencySeconds && !summary.p95CompletionLatencySeconds);
        QCOMPARE(summary.requestFailureRate, 1.0);
    }

    void overflowingTotalsAreReportedNotWrapped() {
        auto a = record(1), b = record(1);
        a.numberTotal = std::numeric_limits<qint64>::max();
        b.numberTotal = 1;
        try {
            calc::summarize({a, b});
            QFAIL("expected an overflow error");
        } catch (const EvaluationError& error) {
            QCOMPARE(error.field(), QStringLiteral("numberTotal"));
            QVERIFY(error.description().startsWith(QStringLiteral("评测数据的整数合计超出范围")));
        }
        a.terminologyHits = std::numeric_limits<qint64>::min();
        b.terminologyHits = -1;
        b.numberTotal = -1;
        QVERIFY_THROWS_EXCEPTION(EvaluationError, calc::summarize({a, b}));
    }

    void recordsRoundTripThroughJson() {
        auto full = record(0.8);
        full.audioDurationSeconds = 1.2;
        full.referenceText = "参考";
        full.userEditedText = "修改";
        full.meaningPreserved = false;
        full.notes = "备注";
        full.terminologyTotal = 9007199254740993LL; // beyond a double's exact range
        for (const auto& original : {record(0.5), full}) {
            const auto json = original.toJson();
            QCOMPARE(EvaluationRecord::fromJson(json), original);
        }
        QVERIFY(!record(0.5).toJson().contains("referenceText")); // absent optionals are omitted
        EvaluationSummary summary;
        summary.recordCount = 2;
        summary.p95CompletionLatencySeconds = 0.3;
        QCOMPARE(EvaluationSummary::fromJson(summary.toJson()), summary);
    }

    void malformedRecordsAreRejected_data() {
        QTest::addColumn<QByteArray>("json");
        const QByteArray valid = QJsonDocument(record(1).toJson()).toJson(QJsonDocument::Compact);
        QTest::newRow("not json") << QByteArray("[{");
        QTest::newRow("object") << valid;
        QTest::newRow("not an object") << QByteArray("[1]");
        QTest::newRow("missing field") << QByteArray(R"([{"id":"x"}])");
        QByteArray fractional = valid;
        fractional.replace(R"("numberHits":0)", R"("numberHits":1.5)");
        QTest::newRow("fractional count") << "[" + fractional + "]";
        QByteArray wrongType = valid;
        wrongType.replace(R"("requestFailed":false)", R"("requestFailed":"no")");
        QTest::newRow("string boolean") << "[" + wrongType + "]";
    }
    void malformedRecordsAreRejected() {
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(JsonParseError, decodeEvaluationRecords(json));
    }

    void summarisesRecordsFromStandardInputAndFiles() {
        const QByteArray records = R"([{"id":"1","mode":"smartDictation","audioDurationSeconds":2,
            "completionLatencySeconds":0.7,"referenceText":"你好世界","rawTranscript":"你好世间","finalText":"x",
            "terminologyHits":1,"terminologyTotal":1,"numberHits":0,"numberTotal":0,"requestFailed":false}])";
        const auto fromStdin = runTool({}, records);
        QCOMPARE(fromStdin.status, 0);
        const QJsonObject summary = QJsonDocument::fromJson(fromStdin.out).object();
        QCOMPARE(summary.value("recordCount").toInt(), 1);
        QCOMPARE(summary.value("averageCharacterErrorRate").toDouble(), 0.25);
        QCOMPARE(summary.value("medianCompletionLatencySeconds").toDouble(), 0.7);

        test::TestEnvironment environment;
        test::writeFile(environment.root() + "/records.json", records);
        QCOMPARE(runTool({environment.root() + "/records.json"}).out, fromStdin.out);
    }

    void badInputGivesOneChineseLineAndStatusTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("missing file") << QStringList{"/nonexistent/records.json"} << QByteArray();
        QTest::newRow("not json") << QStringList{} << QByteArray("{{");
        QTest::newRow("empty input") << QStringList{} << QByteArray();
    }
    void badInputGivesOneChineseLineAndStatusTwo() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        const auto outcome = runTool(arguments, input);
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.out.isEmpty());
        QCOMPARE(outcome.err.count('\n'), 1);
        QVERIFY(QString::fromUtf8(outcome.err).contains(QStringLiteral("评测记录")));
    }
};

QTEST_GUILESS_MAIN(EvaluationTest)
#include "tst_Evaluation.moc"

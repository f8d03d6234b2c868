// The command-line tool as a user runs it.
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

class EvalToolTest : public QObject {
    Q_OBJECT

    static QString tool() { return qEnvironmentVariable("MURMELO_BUILD_DIR") + QStringLiteral("/bin/murmelo-eval"); }

    struct Outcome {
        int status;
        QByteArray out, err;
    };
    static Outcome run(const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        process.start(tool(), arguments);
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(20000)) return {-1, {}, {}};
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }

private slots:
    void summarisesRecordsFromStandardInputAndFiles() {
        const QByteArray records = R"([{"id":"1","mode":"smartDictation","audioDurationSeconds":2,
            "completionLatencySeconds":0.7,"referenceText":"你好世界","rawTranscript":"你好世间","finalText":"x",
            "terminologyHits":1,"terminologyTotal":1,"numberHits":0,"numberTotal":0,"requestFailed":false}])";
        const auto fromStdin = run({}, records);
        QCOMPARE(fromStdin.status, 0);
        const QJsonObject summary = QJsonDocument::fromJson(fromStdin.out).object();
        QCOMPARE(summary.value("recordCount").toInt(), 1);
        QCOMPARE(summary.value("averageCharacterErrorRate").toDouble(), 0.25);
        QCOMPARE(summary.value("medianCompletionLatencySeconds").toDouble(), 0.7);

        murmelo::test::TestEnvironment environment;
        murmelo::test::writeFile(environment.root() + "/records.json", records);
        QCOMPARE(run({environment.root() + "/records.json"}).out, fromStdin.out);
    }

    void badInputGivesOneChineseLineAndStatusTwo_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("missing file") << QStringList{"/nonexistent/records.json"} << QByteArray();
        QTest::newRow("not json") << QStringList{} << QByteArray("{{");
        QTest::newRow("not an array") << QStringList{} << QByteArray("{}");
        QTest::newRow("wrong field type") << QStringList{} << QByteArray(R"([{"id":1}])");
        QTest::newRow("empty input") << QStringList{} << QByteArray();
    }
    void badInputGivesOneChineseLineAndStatusTwo() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        const auto outcome = run(arguments, input);
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.out.isEmpty());
        QCOMPARE(outcome.err.count('\n'), 1);
        QVERIFY(QString::fromUtf8(outcome.err).contains(QStringLiteral("评测记录")));
    }
};

QTEST_GUILESS_MAIN(EvalToolTest)
#include "tst_EvalTool.moc"

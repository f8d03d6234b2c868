#include "evaluation/EvaluationCalculator.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace murmelo::EvaluationCalculator {

QString normalize(const QString& text) {
    const QString composed = text.normalized(QString::NormalizationForm_C);
    QString result;
    result.reserve(composed.size());
    for (qsizetype i = 0; i < composed.size();) {
        char32_t codePoint = composed.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < composed.size() && composed.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(composed.at(i), composed.at(i + 1));
            width = 2;
        }
        if (!QChar::isSpace(codePoint)) result.append(QStringView(composed).mid(i, width));
        i += width;
    }
    return result;
}

QStringList graphemes(const QString& text) {
    QStringList clusters;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        clusters.append(text.mid(start, end - start));
        start = end;
    }
    return clusters;
}

qsizetype editDistance(const QStringList& a, const QStringList& b) {
    if (a.isEmpty()) return b.size();
    if (b.isEmpty()) return a.size();
    std::vector<qsizetype> previous(b.size() + 1);
    std::iota(previous.begin(), previous.end(), qsizetype(0));
    std::vector<qsizetype> current(b.size() + 1);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype substitution = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

double editRate(const QString& source, const QString& target) {
    const QStringList sourceCharacters = graphemes(normalize(source));
    const QStringList targetCharacters = graphemes(normalize(target));
    if (!targetCharacters.isEmpty())
        return double(editDistance(sourceCharacters, targetCharacters)) / double(targetCharacters.size());
    return sourceCharacters.isEmpty() ? 0.0 : 1.0;
}

double characterErrorRate(const QString& transcript, const QString& reference) { return editRate(transcript, reference); }

std::optional<double> percentile(const QList<double>& sortedValues, double p) {
    if (sortedValues.isEmpty()) return std::nullopt;
    const auto count = sortedValues.size();
    auto index = qsizetype(std::ceil(p * double(count))) - 1;
    index = std::clamp<qsizetype>(index, 0, count - 1);
    return sortedValues.at(index);
}

namespace {

std::optional<double> mean(const QList<double>& values) {
    if (values.isEmpty()) return std::nullopt;
    double sum = 0;
    for (double value : values) sum += value;
    return sum / double(values.size());
}

void addExactly(qint64& total, qint64 value, const char* field) {
    if (__builtin_add_overflow(total, value, &total)) throw EvaluationError(QString::fromLatin1(field));
}

std::optional<double> ratio(qint64 hits, qint64 total) {
    if (total < 1) return std::nullopt;
    return double(hits) / double(total);
}

} // namespace

EvaluationSummary summarize(const QList<EvaluationRecord>& records) {
    EvaluationSummary summary;
    summary.recordCount = records.size();

    QList<double> errorRates, modificationRates, latencies;
    qint64 terminologyHits = 0, terminologyTotal = 0, numberHits = 0, numberTotal = 0;
    qint64 failures = 0, judged = 0, preserved = 0;
    for (const EvaluationRecord& record : records) {
        if (record.referenceText && !normalize(*record.referenceText).isEmpty())
            errorRates.append(characterErrorRate(record.rawTranscript, *record.referenceText));
        if (record.userEditedText && !normalize(*record.userEditedText).isEmpty())
            modificationRates.append(editRate(record.finalText, *record.userEditedText));
        addExactly(terminologyHits, record.terminologyHits, "terminologyHits");
        addExactly(terminologyTotal, record.terminologyTotal, "terminologyTotal");
        addExactly(numberHits, record.numberHits, "numberHits");
        addExactly(numberTotal, record.numberTotal, "numberTotal");
        if (record.requestFailed)
            ++failures;
        else
            latencies.append(record.completionLatencySeconds);
        if (record.meaningPreserved) {
            ++judged;
            if (*record.meaningPreserved) ++preserved;
        }
    }

    summary.averageCharacterErrorRate = mean(errorRates);
    summary.averageUserModificationRate = mean(modificationRates);
    summary.terminologyAccuracy = ratio(terminologyHits, terminologyTotal);
    summary.numberAccuracy = ratio(numberHits, numberTotal);
    std::sort(latencies.begin(), latencies.end());
    summary.medianCompletionLatencySeconds = percentile(latencies, 0.5);
    summary.p95CompletionLatencySeconds = percentile(latencies, 0.95);
    summary.requestFailureRate = records.isEmpty() ? 0.0 : double(failures) / double(records.size());
    if (judged > 0) summary.meaningPreservationRate = double(preserved) / double(judged);
    return summary;
}

} // namespace murmelo::EvaluationCalculator

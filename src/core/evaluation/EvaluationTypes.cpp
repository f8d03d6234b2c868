#include "evaluation/EvaluationTypes.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <limits>

namespace murmelo {
namespace {

class Reader {
public:
    explicit Reader(const QJsonObject& object)
        : m_object(object) {}

    QJsonValue required(const char* key) const {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (value.isUndefined()) fail(key, "missing");
        return value;
    }
    QString string(const char* key) const {
        const QJsonValue value = required(key);
        if (!value.isString()) fail(key, "not a string");
        return value.toString();
    }
    double number(const char* key) const {
        const QJsonValue value = required(key);
        if (!value.isDouble()) fail(key, "not a number");
        return value.toDouble();
    }
    qint64 integer(const char* key) const {
        const QJsonValue value = required(key);
        constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
        const qint64 result = value.toInteger(sentinel);
        // toInteger gives the default for non-integral doubles; the minimum itself is rejected too,
        // which costs nothing real.
        if (!value.isDouble() || result == sentinel) fail(key, "not an integer");
        return result;
    }
    bool boolean(const char* key) const {
        const QJsonValue value = required(key);
        if (!value.isBool()) fail(key, "not a boolean");
        return value.toBool();
    }
    template <typename T, typename Read> std::optional<T> optional(const char* key, Read read) const {
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return std::nullopt;
        return (this->*read)(key);
    }

private:
    [[noreturn]] static void fail(const char* key, const char* problem) {
        throw JsonParseError(QStringLiteral("%1: %2").arg(QLatin1String(key), QLatin1String(problem)));
    }
    const QJsonObject& m_object;
};

template <typename T> void insertIfPresent(QJsonObject& object, const char* key, const std::optional<T>& value) {
    if (value) object.insert(QLatin1String(key), *value);
}

} // namespace

QJsonObject EvaluationRecord::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("mode"), mode);
    object.insert(QStringLiteral("audioDurationSeconds"), audioDurationSeconds);
    object.insert(QStringLiteral("completionLatencySeconds"), completionLatencySeconds);
    insertIfPresent(object, "referenceText", referenceText);
    object.insert(QStringLiteral("rawTranscript"), rawTranscript);
    object.insert(QStringLiteral("finalText"), finalText);
    insertIfPresent(object, "userEditedText", userEditedText);
    object.insert(QStringLiteral("terminologyHits"), terminologyHits);
    object.insert(QStringLiteral("terminologyTotal"), terminologyTotal);
    object.insert(QStringLiteral("numberHits"), numberHits);
    object.insert(QStringLiteral("numberTotal"), numberTotal);
    insertIfPresent(object, "meaningPreserved", meaningPreserved);
    object.insert(QStringLiteral("requestFailed"), requestFailed);
    insertIfPresent(object, "notes", notes);
    return object;
}

EvaluationRecord EvaluationRecord::fromJson(const QJsonObject& object) {
    const Reader read(object);
    EvaluationRecord record;
    record.id = read.string("id");
    record.mode = read.string("mode");
    record.audioDurationSeconds = read.number("audioDurationSeconds");
    record.completionLatencySeconds = read.number("completionLatencySeconds");
    record.referenceText = read.optional<QString>("referenceText", &Reader::string);
    record.rawTranscript = read.string("rawTranscript");
    record.finalText = read.string("finalText");
    record.userEditedText = read.optional<QString>("userEditedText", &Reader::string);
    record.terminologyHits = read.integer("terminologyHits");
    record.terminologyTotal = read.integer("terminologyTotal");
    record.numberHits = read.integer("numberHits");
    record.numberTotal = read.integer("numberTotal");
    record.meaningPreserved = read.optional<bool>("meaningPreserved", &Reader::boolean);
    record.requestFailed = read.boolean("requestFailed");
    record.notes = read.optional<QString>("notes", &Reader::string);
    return record;
}

QJsonObject EvaluationSummary::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("recordCount"), recordCount);
    insertIfPresent(object, "averageCharacterErrorRate", averageCharacterErrorRate);
    insertIfPresent(object, "averageUserModificationRate", averageUserModificationRate);
    insertIfPresent(object, "terminologyAccuracy", terminologyAccuracy);
    insertIfPresent(object, "numberAccuracy", numberAccuracy);
    insertIfPresent(object, "medianCompletionLatencySeconds", medianCompletionLatencySeconds);
    insertIfPresent(object, "p95CompletionLatencySeconds", p95CompletionLatencySeconds);
    object.insert(QStringLiteral("requestFailureRate"), requestFailureRate);
    insertIfPresent(object, "meaningPreservationRate", meaningPreservationRate);
    return object;
}

EvaluationSummary EvaluationSummary::fromJson(const QJsonObject& object) {
    const Reader read(object);
    EvaluationSummary summary;
    summary.recordCount = read.integer("recordCount");
    summary.averageCharacterErrorRate = read.optional<double>("averageCharacterErrorRate", &Reader::number);
    summary.averageUserModificationRate = read.optional<double>("averageUserModificationRate", &Reader::number);
    summary.terminologyAccuracy = read.optional<double>("terminologyAccuracy", &Reader::number);
    summary.numberAccuracy = read.optional<double>("numberAccuracy", &Reader::number);
    summary.medianCompletionLatencySeconds = read.optional<double>("medianCompletionLatencySeconds", &Reader::number);
    summary.p95CompletionLatencySeconds = read.optional<double>("p95CompletionLatencySeconds", &Reader::number);
    summary.requestFailureRate = read.number("requestFailureRate");
    summary.meaningPreservationRate = read.optional<double>("meaningPreservationRate", &Reader::number);
    return summary;
}

QString EvaluationError::description() const {
    return QStringLiteral("评测数据的整数合计超出范围（%1）。").arg(m_field);
}

QList<EvaluationRecord> decodeEvaluationRecords(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) throw JsonParseError(error.errorString());
    if (!document.isArray()) throw JsonParseError(QStringLiteral("not an array"));
    QList<EvaluationRecord> records;
    const QJsonArray array = document.array();
    records.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject()) throw JsonParseError(QStringLiteral("record %1: not an object").arg(i));
        try {
            records.append(EvaluationRecord::fromJson(array.at(i).toObject()));
        } catch (const JsonParseError& inner) {
            throw JsonParseError(QStringLiteral("record %1: %2").arg(i).arg(inner.detail()));
        }
    }
    return records;
}

} // namespace murmelo

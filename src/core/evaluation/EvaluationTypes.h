#pragma once

#include "common/Error.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace murmelo {

// One dictation sample. JSON keys are the field names; absent optionals are omitted.
struct EvaluationRecord {
    QString id;
    QString mode;
    double audioDurationSeconds = 0;
    double completionLatencySeconds = 0;
    std::optional<QString> referenceText;
    QString rawTranscript;
    QString finalText;
    std::optional<QString> userEditedText;
    qint64 terminologyHits = 0;
    qint64 terminologyTotal = 0;
    qint64 numberHits = 0;
    qint64 numberTotal = 0;
    std::optional<bool> meaningPreserved;
    bool requestFailed = false;
    std::optional<QString> notes;

    bool operator==(const EvaluationRecord&) const = default;

    QJsonObject toJson() const;
    // Throws JsonParseError naming the first missing or mistyped field.
    static EvaluationRecord fromJson(const QJsonObject& object);
};

struct EvaluationSummary {
    qint64 recordCount = 0;
    std::optional<double> averageCharacterErrorRate;
    std::optional<double> averageUserModificationRate;
    std::optional<double> terminologyAccuracy;
    std::optional<double> numberAccuracy;
    std::optional<double> medianCompletionLatencySeconds;
    std::optional<double> p95CompletionLatencySeconds;
    double requestFailureRate = 0;
    std::optional<double> meaningPreservationRate;

    bool operator==(const EvaluationSummary&) const = default;

    QJsonObject toJson() const;
    static EvaluationSummary fromJson(const QJsonObject& object);
};

// Records that cannot be summed exactly: a total beyond the range of a signed 64-bit integer.
class EvaluationError final : public Error {
public:
    enum class Case { countOverflow };
    explicit EvaluationError(QString field)
        : m_field(std::move(field)) {}
    Case kind() const { return Case::countOverflow; }
    QString field() const { return m_field; }
    QString description() const override;
    bool operator==(const EvaluationError&) const = default;

private:
    QString m_field;
};

// Reads a JSON array of records. Throws JsonParseError.
QList<EvaluationRecord> decodeEvaluationRecords(const QByteArray& json);

} // namespace murmelo

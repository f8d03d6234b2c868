#pragma once

#include "settings/Modes.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace murmelo {

// Dates in the files are seconds since 2001-01-01 00:00:00 UTC, with fraction.
double referenceSecondsNow();
double referenceSeconds(const QDateTime& date);
QDateTime dateFromReferenceSeconds(double seconds);

// One finished dictation kept in the history.
struct HistoryEntry {
    QUuid id = QUuid::createUuid();
    double createdAt =
        0; // seconds since 2001-01-01 00:00:00 UTC, kept as a double so it reads back unchanged
    InputMode mode = InputMode::smartDictation;
    QString text;
    double audioDuration = 0;     // seconds recorded
    double completionLatency = 0; // seconds from the stop request to the finished insertion

    bool operator==(const HistoryEntry&) const = default;

    QDateTime createdAtDate() const { return dateFromReferenceSeconds(createdAt); }

    QJsonObject toJson() const;
    // All six keys are required; nothing when one is missing, mistyped or out of range.
    static std::optional<HistoryEntry> fromJson(const QJsonObject& object);
};

} // namespace murmelo

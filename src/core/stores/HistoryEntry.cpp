#include "stores/HistoryEntry.h"

#include "stores/DictionaryEntry.h"

#include <chrono>
#include <cmath>

namespace murmelo {
namespace {

// 2001-01-01T00:00:00Z in seconds since the Unix epoch.
constexpr double referenceEpoch = 978307200.0;

} // namespace

double referenceSecondsNow() {
    // The system clock's own resolution, finer than QDateTime's milliseconds.
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceUnixEpoch).count() - referenceEpoch;
}

double referenceSeconds(const QDateTime& date) {
    return double(date.toMSecsSinceEpoch()) / 1000.0 - referenceEpoch;
}

QDateTime dateFromReferenceSeconds(double seconds) {
    const double milliseconds = (seconds + referenceEpoch) * 1000.0;
    // Far beyond any real date (and beyond what an integer holds): no date rather than undefined behaviour.
    if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > 9.0e15) return {};
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(milliseconds)), Qt::UTC);
}

QJsonObject HistoryEntry::toJson() const {
    return QJsonObject{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("createdAt"), createdAt},
        {QStringLiteral("mode"), rawValue(mode)},
        {QStringLiteral("text"), text},
        {QStringLiteral("audioDuration"), audioDuration},
        {QStringLiteral("completionLatency"), completionLatency},
    };
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue createdAt = object.value(QStringLiteral("createdAt"));
    const QJsonValue mode = object.value(QStringLiteral("mode"));
    const QJsonValue text = object.value(QStringLiteral("text"));
    const QJsonValue audioDuration = object.value(QStringLiteral("audioDuration"));
    const QJsonValue completionLatency = object.value(QStringLiteral("completionLatency"));
    if (!id.isString() || !createdAt.isDouble() || !mode.isString() || !text.isString() ||
        !audioDuration.isDouble() || !completionLatency.isDouble())
        return std::nullopt;
    const auto parsedId = uuidFromText(id.toString());
    const auto parsedMode = fromRawValue<InputMode>(mode.toString());
    if (!parsedId || !parsedMode) return std::nullopt;
    HistoryEntry entry;
    entry.id = *parsedId;
    entry.createdAt = createdAt.toDouble();
    entry.mode = *parsedMode;
    entry.text = text.toString();
    entry.audioDuration = audioDuration.toDouble();
    entry.completionLatency = completionLatency.toDouble();
    return entry;
}

} // namespace murmelo

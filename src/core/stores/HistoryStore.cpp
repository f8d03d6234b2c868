#include "stores/HistoryStore.h"

#include "common/Paths.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace murmelo {

QString HistoryStore::defaultFilePath() {
    return paths::murmeloDataDirectory() + QStringLiteral("/history.json");
}

HistoryStore::HistoryStore(QString filePath)
    : m_state(std::make_shared<State>(std::move(filePath))) {}

QCoro::Task<> HistoryStore::append(HistoryEntry entry) {
    return appendTo(m_state, std::move(entry));
}

QCoro::Task<QList<HistoryEntry>> HistoryStore::allEntries() {
    return entriesOf(m_state);
}

QCoro::Task<> HistoryStore::remove(QUuid id) {
    return removeFrom(m_state, id);
}

QCoro::Task<> HistoryStore::clear() {
    return clearAll(m_state);
}

void HistoryStore::State::loadIfNeeded() {
    if (!entries.isEmpty()) return;
    const auto array = file.readArray();
    if (!array) return;
    QList<HistoryEntry> decoded;
    decoded.reserve(array->size());
    for (const QJsonValue& value : *array) {
        const auto entry = value.isObject() ? HistoryEntry::fromJson(value.toObject()) : std::nullopt;
        if (!entry) {
            file.markUndecodable();
            return;
        }
        decoded.append(*entry);
    }
    entries = std::move(decoded);
    encoded = QList<QByteArray>(entries.size());
}

void HistoryStore::State::persist() {
    // The same bytes as a compact QJsonDocument of the whole array, built from cached pieces.
    QByteArray content("[");
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (encoded[i].isEmpty())
            encoded[i] = QJsonDocument(entries[i].toJson()).toJson(QJsonDocument::Compact);
        if (i > 0) content += ',';
        content += encoded[i];
    }
    content += ']';
    file.write(content); // a failed write leaves the list in memory; the next change writes it again
}

QCoro::Task<> HistoryStore::appendTo(std::shared_ptr<State> state, HistoryEntry entry) {
    const auto lock = co_await state->mutex.lock();
    // JSON has no NaN or infinity: one such number would make the whole file undecodable.
    for (double* number : {&entry.createdAt, &entry.audioDuration, &entry.completionLatency})
        if (!std::isfinite(*number)) *number = 0;
    state->loadIfNeeded();
    state->entries.prepend(std::move(entry));
    state->encoded.prepend(QByteArray());
    if (state->entries.size() > maximumEntries) {
        state->entries.resize(maximumEntries);
        state->encoded.resize(maximumEntries);
    }
    state->persist();
}

QCoro::Task<QList<HistoryEntry>> HistoryStore::entriesOf(std::shared_ptr<State> state) {
    const auto lock = co_await state->mutex.lock();
    state->loadIfNeeded();
    // A copy on purpose: QCoro 0.8 moves from a non-const lvalue given to co_return, which would
    // empty the list in memory.
    QList<HistoryEntry> snapshot = state->entries;
    co_return snapshot;
}

QCoro::Task<> HistoryStore::removeFrom(std::shared_ptr<State> state, QUuid id) {
    const auto lock = co_await state->mutex.lock();
    state->loadIfNeeded();
    for (qsizetype i = state->entries.size() - 1; i >= 0; --i) {
        if (state->entries[i].id != id) continue;
        state->entries.removeAt(i);
        state->encoded.removeAt(i);
    }
    state->persist();
}

QCoro::Task<> HistoryStore::clearAll(std::shared_ptr<State> state) {
    const auto lock = co_await state->mutex.lock();
    state->entries.clear();
    state->encoded.clear();
    state->file.remove();
}

} // namespace murmelo

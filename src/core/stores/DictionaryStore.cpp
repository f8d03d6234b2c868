#include "stores/DictionaryStore.h"

#include "common/Paths.h"

#include <QJsonArray>

#include <algorithm>

namespace murmelo {

QString DictionaryStore::defaultFilePath() {
    return paths::murmeloDataDirectory() + QStringLiteral("/dictionary.json");
}

DictionaryStore::DictionaryStore(QString filePath, QObject* parent)
    : QObject(parent)
    , m_file(std::move(filePath)) {
    load();
}

void DictionaryStore::load() {
    const auto array = m_file.readArray();
    if (!array) return;
    QList<DictionaryEntry> decoded;
    decoded.reserve(array->size());
    for (const QJsonValue& value : *array) {
        // One bad entry fails the whole file: a partial dictionary written back would lose the rest.
        const auto entry = value.isObject() ? DictionaryEntry::fromJson(value.toObject()) : std::nullopt;
        if (!entry) {
            m_file.markUndecodable();
            return;
        }
        decoded.append(*entry);
    }
    m_entries = std::move(decoded);
}

bool DictionaryStore::setEntries(QList<DictionaryEntry> entries) {
    m_entries = std::move(entries);
    emit entriesChanged();
    return persist();
}

bool DictionaryStore::add(DictionaryEntry entry) {
    m_entries.append(std::move(entry));
    emit entriesChanged();
    return persist();
}

bool DictionaryStore::removeAt(const QList<int>& positions) {
    QList<int> sorted = positions;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (int position : sorted)
        if (position >= 0 && position < m_entries.size()) m_entries.removeAt(position);
    emit entriesChanged();
    return persist();
}

bool DictionaryStore::persist() {
    QJsonArray array;
    for (const auto& entry : m_entries)
        array.append(entry.toJson());
    return m_file.write(array);
}

QStringList DictionaryStore::keywords() const {
    QStringList result;
    const auto keep = [&result](const QString& text) {
        if (!text.trimmed().isEmpty()) result.append(text);
    };
    for (const auto& entry : m_entries) {
        keep(entry.canonical);
        for (const auto& alias : entry.aliases)
            keep(alias);
    }
    return result;
}

QString DictionaryStore::glossaryText() const {
    if (m_entries.isEmpty()) return QStringLiteral("（无个人词典）");
    QStringList lines;
    lines.reserve(m_entries.size());
    for (const auto& entry : m_entries) {
        QString line = QStringLiteral("- ") + entry.canonical + QStringLiteral("（") + title(entry.kind) +
                       QStringLiteral("）");
        if (!entry.aliases.isEmpty())
            line += QStringLiteral("；可能误写：") + entry.aliases.join(QStringLiteral("、"));
        if (entry.english) line += QStringLiteral("；英文：") + *entry.english;
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace murmelo

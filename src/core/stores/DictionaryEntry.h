#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace murmelo {

// What a dictionary term is; the raw value is the case name, which is what the file stores.
enum class DictionaryEntryKind { person, brand, product, technicalTerm, other };

QString rawValue(DictionaryEntryKind kind);
// The Chinese title shown in the glossary and the editor's picker.
QString title(DictionaryEntryKind kind);
// Exact, case-sensitive match; anything else is nothing.
std::optional<DictionaryEntryKind> dictionaryEntryKindFromRawValue(const QString& raw);
// Every kind, in the order the editor lists them.
QList<DictionaryEntryKind> allDictionaryEntryKinds();

// One term of the personal dictionary: how it is written, how recognition tends to mis-write it,
// and optionally its English form.
struct DictionaryEntry {
    QUuid id = QUuid::createUuid();
    QString canonical;
    QStringList aliases;
    DictionaryEntryKind kind = DictionaryEntryKind::other;
    std::optional<QString> english; // absent is not the same as empty: empty still shows in the glossary

    bool operator==(const DictionaryEntry&) const = default;

    // "english" is left out when absent.
    QJsonObject toJson() const;
    // Nothing when a required key is missing or has the wrong type, the id is not a UUID or the
    // kind is unknown.
    static std::optional<DictionaryEntry> fromJson(const QJsonObject& object);
};

// The canonical upper-case text of a UUID, without braces, as the files store it.
QString uuidText(const QUuid& id);
// Parses the 36-character text form (either case); nothing for anything else.
std::optional<QUuid> uuidFromText(const QString& text);

} // namespace murmelo

#include "stores/DictionaryEntry.h"

#include <QJsonArray>

#include <array>

namespace murmelo {
namespace {

struct KindInfo {
    DictionaryEntryKind kind;
    const char* raw;
    const char* title;
};

constexpr std::array kinds{
    KindInfo{DictionaryEntryKind::person, "person", "人名"},
    KindInfo{DictionaryEntryKind::brand, "brand", "品牌"},
    KindInfo{DictionaryEntryKind::product, "product", "产品"},
    KindInfo{DictionaryEntryKind::technicalTerm, "technicalTerm", "专业术语"},
    KindInfo{DictionaryEntryKind::other, "other", "其他"},
};

const KindInfo& info(DictionaryEntryKind kind) {
    for (const auto& entry : kinds)
        if (entry.kind == kind) return entry;
    return kinds.back();
}

} // namespace

QString rawValue(DictionaryEntryKind kind) {
    return QString::fromLatin1(info(kind).raw);
}

QString title(DictionaryEntryKind kind) {
    return QString::fromUtf8(info(kind).title);
}

std::optional<DictionaryEntryKind> dictionaryEntryKindFromRawValue(const QString& raw) {
    for (const auto& entry : kinds)
        if (raw == QLatin1String(entry.raw)) return entry.kind;
    return std::nullopt;
}

QList<DictionaryEntryKind> allDictionaryEntryKinds() {
    QList<DictionaryEntryKind> result;
    for (const auto& entry : kinds)
        result.append(entry.kind);
    return result;
}

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> uuidFromText(const QString& text) {
    // QUuid also accepts braces and shorter forms; the files only ever hold the plain 8-4-4-4-12 text.
    if (text.size() != 36) return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QStringLiteral("00000000-0000-0000-0000-000000000000")) return std::nullopt;
    return id;
}

QJsonObject DictionaryEntry::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("canonical"), canonical},
        {QStringLiteral("aliases"), QJsonArray::fromStringList(aliases)},
        {QStringLiteral("kind"), rawValue(kind)},
    };
    if (english) object.insert(QStringLiteral("english"), *english);
    return object;
}

std::optional<DictionaryEntry> DictionaryEntry::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue canonical = object.value(QStringLiteral("canonical"));
    const QJsonValue aliases = object.value(QStringLiteral("aliases"));
    const QJsonValue kind = object.value(QStringLiteral("kind"));
    const QJsonValue english = object.value(QStringLiteral("english"));
    if (!id.isString() || !canonical.isString() || !aliases.isArray() || !kind.isString())
        return std::nullopt;

    DictionaryEntry entry;
    const auto parsedId = uuidFromText(id.toString());
    const auto parsedKind = dictionaryEntryKindFromRawValue(kind.toString());
    if (!parsedId || !parsedKind) return std::nullopt;
    entry.id = *parsedId;
    entry.canonical = canonical.toString();
    entry.kind = *parsedKind;
    entry.aliases.clear();
    for (const QJsonValue& alias : aliases.toArray()) {
        if (!alias.isString()) return std::nullopt;
        entry.aliases.append(alias.toString());
    }
    // An explicit null reads as absent, like a missing key; any other non-string fails the entry.
    if (english.isString())
        entry.english = english.toString();
    else if (!english.isUndefined() && !english.isNull())
        return std::nullopt;
    return entry;
}

} // namespace murmelo

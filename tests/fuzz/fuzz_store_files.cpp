// The bytes of dictionary.json or history.json, decoded element by element as the stores decode
// them; whatever decodes must encode to an object that decodes to the same entry.
#include "stores/DictionaryEntry.h"
#include "stores/HistoryEntry.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QJsonValue& value : document.array()) { // nothing when it is no array
        const QJsonObject object = value.toObject();
        if (const auto entry = murmelo::DictionaryEntry::fromJson(object))
            if (murmelo::DictionaryEntry::fromJson(entry->toJson()) != entry) std::abort();
        if (const auto entry = murmelo::HistoryEntry::fromJson(object))
            if (murmelo::HistoryEntry::fromJson(entry->toJson()) != entry) std::abort();
    }
    return 0;
}

// The bytes of dictionary.json or history.json, decoded element by element as the stores decode
// them; whatever decodes must encode to an object that decodes to the same entry.
#include "stores/DictionaryEntry.h"
#include "stores/HistoryEntry.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

namespace {

template <typename Entry> void roundTrip(const QJsonObject& object) {
    const auto entry = Entry::fromJson(object);
    if (!entry) return;
    const QJsonObject encoded = entry->toJson();
    const auto again = Entry::fromJson(encoded);
    if (!again || !(*again == *entry)) std::abort();
    (void)QJsonDocument(encoded).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!document.isArray()) return 0;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject()) continue;
        roundTrip<murmelo::DictionaryEntry>(value.toObject());
        roundTrip<murmelo::HistoryEntry>(value.toObject());
    }
    return 0;
}

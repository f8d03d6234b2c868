#include "stores/APIKey.h"

namespace murmelo {

bool isUsableAPIKey(const QString& key) {
    if (key.isEmpty()) return false;
    for (const QChar character : key) {
        const char16_t unit = character.unicode();
        if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) return false;
    }
    return true;
}

} // namespace murmelo

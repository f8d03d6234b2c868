// A settings file as another program (or a disk error) may leave it, read as AppSettings reads it.
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto values = murmelo::UserDefaults::decode(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!values) return 0;
    for (auto it = values->begin(); it != values->end(); ++it) {
        (void)it.value().toString();
        (void)it.value().isBool();
    }
    return 0;
}

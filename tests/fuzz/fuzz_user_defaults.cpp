// A settings file as another program (or a disk error) may leave it, decoded as UserDefaults reads it.
#include "settings/UserDefaults.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)murmelo::UserDefaults::decode(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}

#pragma once

#include <QString>

namespace murmelo {

// Whether a key may be put into a request header: not empty, and no control character (CR, LF,
// NUL, tab, DEL, C1 controls) that could end or split the header. Keys that fail are treated as
// absent, never sent.
bool isUsableAPIKey(const QString& key);

} // namespace murmelo

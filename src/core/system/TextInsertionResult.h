#pragma once

#include <QString>

namespace murmelo {

enum class TextInsertionResult {
    inserted,   // on the clipboard, and the paste shortcut was posted
    copiedOnly, // on the clipboard only; nothing was posted
    notCopied,  // the session refused the clipboard write; nothing was posted
};

QString rawValue(TextInsertionResult result);

} // namespace murmelo

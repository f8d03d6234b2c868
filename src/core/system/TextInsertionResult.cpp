#include "system/TextInsertionResult.h"

namespace murmelo {

QString rawValue(TextInsertionResult result) {
    switch (result) {
    case TextInsertionResult::inserted:
        return QStringLiteral("inserted");
    case TextInsertionResult::copiedOnly:
        return QStringLiteral("copiedOnly");
    case TextInsertionResult::notCopied:
        return QStringLiteral("notCopied");
    }
    return {};
}

} // namespace murmelo

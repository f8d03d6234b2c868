#include "network/HeaderValue.h"

namespace murmelo::network {

bool isHeaderSafe(QStringView value) {
    for (const QChar c : value) {
        // C0 controls, DEL and the C1 controls: none of them belongs in a header value.
        if (c.category() == QChar::Other_Control) return false;
    }
    return true;
}

QByteArray bearerAuthorization(const QString& apiKey) {
    return QByteArrayLiteral("Bearer ") + apiKey.toUtf8();
}

} // namespace murmelo::network

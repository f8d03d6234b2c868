#include "network/HeaderValue.h"

namespace murmelo::network {

QByteArray bearerAuthorization(const QString& apiKey) {
    return QByteArrayLiteral("Bearer ") + apiKey.toUtf8();
}

} // namespace murmelo::network

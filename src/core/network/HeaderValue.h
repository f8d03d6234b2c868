#pragma once

#include <QByteArray>
#include <QString>

namespace murmelo::network {

// "Bearer " and the key, for the "Authorization" header. The caller has checked the key with
// isUsableAPIKey: Qt copies header values byte for byte, CR and LF included.
QByteArray bearerAuthorization(const QString& apiKey);

} // namespace murmelo::network

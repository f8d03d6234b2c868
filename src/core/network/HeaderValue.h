#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace murmelo::network {

// Qt copies header values byte for byte, CR and LF included, so a value holding a control
// character could smuggle extra header lines into a request. Such values are never sent.
bool isHeaderSafe(QStringView value);

// "Bearer " and the key, for the "Authorization" header. The caller has checked the key.
QByteArray bearerAuthorization(const QString& apiKey);

} // namespace murmelo::network

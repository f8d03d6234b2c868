#pragma once

#include "common/Error.h"

#include <QAbstractSocket>
#include <QNetworkReply>

namespace murmelo::network {

// The server answered, but not with something a client can use (a refused WebSocket upgrade).
inline constexpr int badServerResponse = -1011;

// True for failures of the transport itself: no connection, lost connection, TLS, proxy. HTTP
// statuses and malformed responses are not transport failures.
bool isTransportFailure(QNetworkReply::NetworkError error);

// The URL-loading code of a transport failure.
NetworkError networkErrorFor(QNetworkReply::NetworkError error, const QString& detail = {});
// The same for sockets; `detail` is the socket's error string (a refused WebSocket upgrade is
// reported by Qt as a refused connection whose text names the HTTP status).
NetworkError networkErrorFor(QAbstractSocket::SocketError error, const QString& detail = {});

} // namespace murmelo::network

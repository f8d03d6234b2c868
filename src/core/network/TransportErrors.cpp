#include "network/TransportErrors.h"

namespace murmelo::network {

bool isTransportFailure(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return (code >= 1 && code <= 199);
}

NetworkError networkErrorFor(QNetworkReply::NetworkError error, const QString& detail) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
        return NetworkError(NetworkError::cannotConnectToHost, detail);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return NetworkError(NetworkError::networkConnectionLost, detail);
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        return NetworkError(NetworkError::cannotFindHost, detail);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return NetworkError(NetworkError::timedOut, detail);
    case QNetworkReply::SslHandshakeFailedError:
        return NetworkError(NetworkError::secureConnectionFailed, detail);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return NetworkError(NetworkError::notConnectedToInternet, detail);
    default:
        return NetworkError(NetworkError::unknown, detail);
    }
}

NetworkError networkErrorFor(QAbstractSocket::SocketError error, const QString& detail) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        if (detail.contains(QLatin1String("http status code"), Qt::CaseInsensitive))
            return NetworkError(badServerResponse, detail);
        return NetworkError(NetworkError::cannotConnectToHost, detail);
    case QAbstractSocket::ProxyConnectionRefusedError:
        return NetworkError(NetworkError::cannotConnectToHost, detail);
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::NetworkError:
        return NetworkError(NetworkError::networkConnectionLost, detail);
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ProxyNotFoundError:
        return NetworkError(NetworkError::cannotFindHost, detail);
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return NetworkError(NetworkError::timedOut, detail);
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return NetworkError(NetworkError::secureConnectionFailed, detail);
    default:
        return NetworkError(NetworkError::unknown, detail);
    }
}

} // namespace murmelo::network

#pragma once

#include "network/HttpExchange.h"

#include <QJsonObject>

namespace murmelo::refinementhttp {

// What both HTTP providers share: the key check, the POST with its time limit, and the reading of
// the status. Returns the body of a 2xx answer; throws RefinementProviderError otherwise.
void requireUsableKey(const QString& apiKey);
QCoro::Task<QByteArray> post(QNetworkAccessManager* session, QUrl endpoint, QString apiKey, QJsonObject body,
                             std::chrono::milliseconds timeout,
                             std::shared_ptr<network::RequestCanceller> canceller);
// Parses a body holding one JSON value of any kind; anything else becomes JsonParseError.
QJsonValue parseJson(const QByteArray& body);

} // namespace murmelo::refinementhttp

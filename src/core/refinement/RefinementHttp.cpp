#include "refinement/RefinementHttp.h"

#include "refinement/RefinementProviderError.h"
#include "stores/APIKey.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace murmelo::refinementhttp {

void requireUsableKey(const QString& apiKey) {
    if (!isUsableAPIKey(apiKey)) throw RefinementProviderError(RefinementProviderError::Case::missingAPIKey);
}

QCoro::Task<QByteArray> post(QNetworkAccessManager* session, QUrl endpoint, QString apiKey, QJsonObject body,
                             std::chrono::milliseconds timeout,
                             std::shared_ptr<network::RequestCanceller> canceller) {
    const QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const QNetworkRequest request = network::serviceRequest(endpoint, apiKey, true);
    const network::HttpResponse response =
        co_await network::exchange(session, request, QByteArrayLiteral("POST"), bytes, timeout, canceller);
    if (response.status == 0) throw RefinementProviderError(RefinementProviderError::Case::invalidResponse);
    if (response.status < 200 || response.status > 299)
        throw RefinementProviderError::httpStatus(response.status);
    co_return response.body;
}

QJsonValue parseJson(const QByteArray& body) {
    // QJsonDocument only takes objects and arrays at the top; wrapping the body in an array lets a
    // bare number or string parse too, so that it is reported as the wrong shape, not as bad JSON.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + body + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1)
        throw JsonParseError(error.errorString());
    return document.array().first();
}

} // namespace murmelo::refinementhttp

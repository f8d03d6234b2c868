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

namespace murmelo {

HttpRefinementProvider::HttpRefinementProvider(QString apiKey, QString model, QUrl endpoint,
                                               QNetworkAccessManager* session,
                                               std::chrono::milliseconds requestTimeout,
                                               QString bundleDirectory)
    : m_apiKey(std::move(apiKey))
    , m_model(std::move(model))
    , m_endpoint(std::move(endpoint))
    , m_session(session)
    , m_requestTimeout(requestTimeout)
    , m_bundleDirectory(std::move(bundleDirectory)) {}

HttpRefinementProvider::~HttpRefinementProvider() {
    m_canceller->cancelAll();
}

void HttpRefinementProvider::cancel() {
    m_canceller->cancelAll();
}

QCoro::Task<QString> HttpRefinementProvider::refine(RefinementRequest request) {
    auto serial = co_await m_serial.lock();
    refinementhttp::requireUsableKey(m_apiKey);
    // Built first: a missing prompt fails before anything is sent.
    const QJsonObject body = requestBody(request, m_model, m_bundleDirectory);
    const QByteArray answer =
        co_await refinementhttp::post(m_session, m_endpoint, m_apiKey, body, m_requestTimeout, m_canceller);
    co_return refinedText(answer);
}

} // namespace murmelo

#pragma once

#include "common/AsyncMutex.h"
#include "network/HttpExchange.h"
#include "refinement/TextRefinementProvider.h"

#include <QJsonObject>
#include <QUrl>

#include <chrono>
#include <memory>

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

namespace murmelo {

// A refinement provider that makes one POST per refine(): the key check, the prompt bundle, the
// time limit, cancellation and one call at a time live here; a service adds its body and parsing.
class HttpRefinementProvider : public TextRefinementProvider {
public:
    HttpRefinementProvider(QString apiKey, QString model, QUrl endpoint, QNetworkAccessManager* session,
                           std::chrono::milliseconds requestTimeout, QString bundleDirectory);
    // A request still in flight is aborted so that its waiter ends instead of outliving us.
    ~HttpRefinementProvider() override;

    QCoro::Task<QString> refine(RefinementRequest request) override;
    void cancel() override;

protected:
    // Throws what the prompt library throws; an empty bundle directory means the process's own.
    virtual QJsonObject requestBody(const RefinementRequest& request, const QString& model,
                                    const QString& bundleDirectory) const = 0;
    virtual QString refinedText(const QByteArray& body) const = 0;

private:
    QString m_apiKey;
    QString m_model;
    QUrl m_endpoint;
    QNetworkAccessManager* m_session;
    std::chrono::milliseconds m_requestTimeout;
    QString m_bundleDirectory;
    std::shared_ptr<network::RequestCanceller> m_canceller = std::make_shared<network::RequestCanceller>();
    AsyncMutex m_serial;
};

} // namespace murmelo

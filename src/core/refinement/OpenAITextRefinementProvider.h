#pragma once

#include "common/AsyncMutex.h"
#include "network/HttpExchange.h"
#include "refinement/TextRefinementProvider.h"

#include <QJsonObject>
#include <QUrl>

#include <chrono>
#include <memory>

class QNetworkAccessManager;

namespace murmelo {

// Refines a transcript with one request to the Responses endpoint.
class OpenAITextRefinementProvider final : public TextRefinementProvider {
public:
    OpenAITextRefinementProvider(QString apiKey, QString model, QUrl endpoint, QNetworkAccessManager* session,
                                 std::chrono::milliseconds requestTimeout = std::chrono::seconds(20),
                                 QString bundleDirectory = {});
    ~OpenAITextRefinementProvider() override;

    QCoro::Task<QString> refine(RefinementRequest request) override;
    void cancel() override;

    // The request body; throws what the prompt library throws. An empty bundle directory means
    // the process's own bundle.
    static QJsonObject makePayload(const RefinementRequest& request, const QString& model,
                                   const QString& bundleDirectory = {});
    // The refined text of a response body: the "output_text" parts of every item that is not
    // commentary, joined and trimmed.
    static QString parseResponse(const QByteArray& body);

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

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

// Refines a transcript with one non-streaming chat-completions request, thinking switched off.
class DeepSeekRefinementProvider final : public TextRefinementProvider {
public:
    DeepSeekRefinementProvider(QString apiKey, QString model, QUrl endpoint, QNetworkAccessManager* session,
                               std::chrono::milliseconds requestTimeout = std::chrono::seconds(20),
                               QString bundleDirectory = {});
    ~DeepSeekRefinementProvider() override;

    QCoro::Task<QString> refine(RefinementRequest request) override;
    void cancel() override;

    // Kept apart from refine() so the body and the parsing can be checked without a server.
    static QJsonObject makeBody(const QString& model, const QString& systemPrompt,
                                const QString& userMessage);
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

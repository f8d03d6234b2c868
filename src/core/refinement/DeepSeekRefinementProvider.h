#pragma once

#include "refinement/RefinementHttp.h"

#include <QJsonObject>
#include <QUrl>

#include <chrono>

namespace murmelo {

// Refines a transcript with one non-streaming chat-completions request, thinking switched off.
class DeepSeekRefinementProvider final : public HttpRefinementProvider {
public:
    DeepSeekRefinementProvider(QString apiKey, QString model, QUrl endpoint, QNetworkAccessManager* session,
                               std::chrono::milliseconds requestTimeout = std::chrono::seconds(20),
                               QString bundleDirectory = {});

    // Kept apart from refine() so the body and the parsing can be checked without a server.
    static QJsonObject makeBody(const QString& model, const QString& systemPrompt,
                                const QString& userMessage);
    static QString parseResponse(const QByteArray& body);

protected:
    QJsonObject requestBody(const RefinementRequest& request, const QString& model,
                            const QString& bundleDirectory) const override;
    QString refinedText(const QByteArray& body) const override { return parseResponse(body); }
};

} // namespace murmelo

#pragma once

#include "refinement/RefinementHttp.h"

#include <QJsonObject>
#include <QUrl>

#include <chrono>

namespace murmelo {

// Refines a transcript with one request to the Responses endpoint.
class OpenAITextRefinementProvider final : public HttpRefinementProvider {
public:
    OpenAITextRefinementProvider(QString apiKey, QString model, QUrl endpoint, QNetworkAccessManager* session,
                                 std::chrono::milliseconds requestTimeout = std::chrono::seconds(20),
                                 QString bundleDirectory = {});

    // The request body; throws what the prompt library throws. An empty bundle directory means
    // the process's own bundle.
    static QJsonObject makePayload(const RefinementRequest& request, const QString& model,
                                   const QString& bundleDirectory = {});
    // The refined text of a response body: the "output_text" parts of every item that is not
    // commentary, joined and trimmed.
    static QString parseResponse(const QByteArray& body);

protected:
    QJsonObject requestBody(const RefinementRequest& request, const QString& model,
                            const QString& bundleDirectory) const override;
    QString refinedText(const QByteArray& body) const override { return parseResponse(body); }
};

} // namespace murmelo

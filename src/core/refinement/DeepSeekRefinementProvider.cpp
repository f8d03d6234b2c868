#include "refinement/DeepSeekRefinementProvider.h"

#include "refinement/PromptLibrary.h"
#include "refinement/RefinementHttp.h"
#include "refinement/RefinementProviderError.h"

#include <QJsonArray>

namespace murmelo {

DeepSeekRefinementProvider::DeepSeekRefinementProvider(QString apiKey, QString model, QUrl endpoint,
                                                       QNetworkAccessManager* session,
                                                       std::chrono::milliseconds requestTimeout,
                                                       QString bundleDirectory)
    : HttpRefinementProvider(std::move(apiKey), std::move(model), std::move(endpoint), session,
                             requestTimeout, std::move(bundleDirectory)) {}

QJsonObject DeepSeekRefinementProvider::makeBody(const QString& model, const QString& systemPrompt,
                                                 const QString& userMessage) {
    QJsonArray messages;
    messages.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                {QStringLiteral("content"), systemPrompt}});
    messages.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                                {QStringLiteral("content"), userMessage}});
    QJsonObject body;
    body.insert(QStringLiteral("model"), model);
    body.insert(QStringLiteral("messages"), messages);
    body.insert(QStringLiteral("thinking"),
                QJsonObject{{QStringLiteral("type"), QStringLiteral("disabled")}});
    body.insert(QStringLiteral("temperature"), 0.2);
    body.insert(QStringLiteral("max_tokens"), 4096);
    body.insert(QStringLiteral("stream"), false);
    return body;
}

QString DeepSeekRefinementProvider::parseResponse(const QByteArray& body) {
    const QJsonValue root = refinementhttp::parseJson(body);
    const auto invalid = [] {
        return RefinementProviderError(RefinementProviderError::Case::invalidResponse);
    };
    if (!root.isObject()) throw invalid();
    const QJsonValue choices = root.toObject().value(QLatin1String("choices"));
    if (!choices.isArray() || choices.toArray().isEmpty()) throw invalid();
    for (const QJsonValue& choice : choices.toArray())
        if (!choice.isObject()) throw invalid(); // "an array of objects"
    const QJsonValue message = choices.toArray().first().toObject().value(QLatin1String("message"));
    if (!message.isObject()) throw invalid();
    const QJsonValue content = message.toObject().value(QLatin1String("content"));
    if (!content.isString()) throw invalid();
    const QString text = content.toString().trimmed();
    if (text.isEmpty()) throw RefinementProviderError(RefinementProviderError::Case::emptyResult);
    return text;
}

} // namespace murmelo

namespace murmelo {

QJsonObject DeepSeekRefinementProvider::requestBody(const RefinementRequest& request, const QString& model,
                                                    const QString& bundleDirectory) const {
    const QString systemPrompt = bundleDirectory.isEmpty()
                                     ? PromptLibrary::systemPrompt(request.mode)
                                     : PromptLibrary::systemPrompt(request.mode, bundleDirectory);
    return makeBody(model, systemPrompt, refinementUserMessage(request));
}

} // namespace murmelo

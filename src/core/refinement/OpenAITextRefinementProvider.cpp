#include "refinement/OpenAITextRefinementProvider.h"

#include "refinement/PromptLibrary.h"
#include "refinement/RefinementHttp.h"
#include "refinement/RefinementProviderError.h"

#include <QJsonArray>

namespace murmelo {

namespace {

// The value as a list of objects; anything else, including a list with one stray element in it,
// counts as an empty list.
QJsonArray arrayOfObjects(const QJsonValue& value) {
    const QJsonArray array = value.toArray();
    for (const QJsonValue& element : array)
        if (!element.isObject()) return {};
    return array;
}

} // namespace

OpenAITextRefinementProvider::OpenAITextRefinementProvider(QString apiKey, QString model, QUrl endpoint,
                                                           QNetworkAccessManager* session,
                                                           std::chrono::milliseconds requestTimeout,
                                                           QString bundleDirectory)
    : HttpRefinementProvider(std::move(apiKey), std::move(model), std::move(endpoint), session,
                             requestTimeout, std::move(bundleDirectory)) {}

QJsonObject OpenAITextRefinementProvider::makePayload(const RefinementRequest& request, const QString& model,
                                                      const QString& bundleDirectory) {
    const QString instructions = bundleDirectory.isEmpty()
                                     ? PromptLibrary::systemPrompt(request.mode)
                                     : PromptLibrary::systemPrompt(request.mode, bundleDirectory);
    QJsonObject payload;
    payload.insert(QStringLiteral("model"), model);
    payload.insert(QStringLiteral("instructions"), instructions);
    payload.insert(QStringLiteral("input"), refinementUserMessage(request));
    payload.insert(QStringLiteral("max_output_tokens"), 4096);
    payload.insert(QStringLiteral("store"), false);
    if (model.startsWith(QLatin1String("gpt-5"), Qt::CaseSensitive))
        payload.insert(QStringLiteral("reasoning"),
                       QJsonObject{{QStringLiteral("effort"), QStringLiteral("none")}});
    return payload;
}

QString OpenAITextRefinementProvider::parseResponse(const QByteArray& body) {
    const QJsonValue root = refinementhttp::parseJson(body);
    if (!root.isObject()) throw RefinementProviderError(RefinementProviderError::Case::invalidResponse);
    const QJsonObject object = root.toObject();
    const QJsonValue error = object.value(QLatin1String("error"));
    if (error.isObject() && error.toObject().value(QLatin1String("message")).isString())
        throw RefinementProviderError::server(error.toObject().value(QLatin1String("message")).toString());

    QString joined;
    for (const QJsonValue& item : arrayOfObjects(object.value(QLatin1String("output")))) {
        const QJsonObject itemObject = item.toObject();
        if (itemObject.value(QLatin1String("phase")) == QJsonValue(QStringLiteral("commentary"))) continue;
        for (const QJsonValue& part : arrayOfObjects(itemObject.value(QLatin1String("content")))) {
            const QJsonObject partObject = part.toObject();
            if (partObject.value(QLatin1String("type")) != QJsonValue(QStringLiteral("output_text")))
                continue;
            const QJsonValue text = partObject.value(QLatin1String("text"));
            if (text.isString()) joined += text.toString();
        }
    }
    joined = joined.trimmed();
    if (joined.isEmpty()) throw RefinementProviderError(RefinementProviderError::Case::emptyResult);
    return joined;
}

} // namespace murmelo

namespace murmelo {

QJsonObject OpenAITextRefinementProvider::requestBody(const RefinementRequest& request, const QString& model,
                                                      const QString& bundleDirectory) const {
    return makePayload(request, model, bundleDirectory);
}

} // namespace murmelo

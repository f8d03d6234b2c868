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
    : m_apiKey(std::move(apiKey))
    , m_model(std::move(model))
    , m_endpoint(std::move(endpoint))
    , m_session(session)
    , m_requestTimeout(requestTimeout)
    , m_bundleDirectory(std::move(bundleDirectory)) {}

// A request still in flight is aborted so that its waiter ends instead of outliving us.
OpenAITextRefinementProvider::~OpenAITextRefinementProvider() {
    m_canceller->cancelAll();
}

void OpenAITextRefinementProvider::cancel() {
    m_canceller->cancelAll();
}

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

QCoro::Task<QString> OpenAITextRefinementProvider::refine(RefinementRequest request) {
    auto serial = co_await m_serial.lock();
    refinementhttp::requireUsableKey(m_apiKey);
    const QJsonObject payload = makePayload(request, m_model, m_bundleDirectory);
    const QByteArray body = co_await refinementhttp::post(m_session, m_endpoint, m_apiKey, payload,
                                                          m_requestTimeout, m_canceller);
    co_return parseResponse(body);
}

} // namespace murmelo

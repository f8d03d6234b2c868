#include "network/HttpExchange.h"

#include "common/Completion.h"
#include "common/Error.h"
#include "network/HeaderValue.h"
#include "network/TransportErrors.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>

namespace murmelo::network {

void RequestCanceller::track(QNetworkReply* reply, std::shared_ptr<Flags> flags) {
    m_active.removeIf([](const auto& entry) { return entry.first.isNull() || entry.second.expired(); });
    m_active.append({QPointer<QNetworkReply>(reply), flags});
}

void RequestCanceller::cancelAll() {
    const auto active = std::exchange(m_active, {});
    for (const auto& [reply, weakFlags] : active) {
        auto flags = weakFlags.lock();
        if (!reply || !flags || reply->isFinished()) continue;
        flags->cancelled = true;
        reply->abort();
    }
}

QNetworkRequest serviceRequest(const QUrl& url, const QString& apiKey, bool json) {
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", bearerAuthorization(apiKey));
    if (json) request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

QCoro::Task<HttpResponse> exchange(QNetworkAccessManager* session, QNetworkRequest request, QByteArray verb,
                                   QByteArray body, std::chrono::milliseconds timeout,
                                   std::shared_ptr<RequestCanceller> canceller) {
    auto flags = std::make_shared<RequestCanceller::Flags>();
    auto finished = std::make_shared<Completion>();
    QPointer<QNetworkReply> reply = verb == "GET" && body.isEmpty()
                                        ? session->get(request)
                                        : session->sendCustomRequest(request, verb, body);
    Completion* const raw = finished.get();
    QObject::connect(reply, &QNetworkReply::finished, raw, [raw] { raw->complete(); });
    // The session may be torn down under us; its replies go with it.
    QObject::connect(reply, &QObject::destroyed, raw, [raw] { raw->complete(); });
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, flags] {
        if (!reply || reply->isFinished()) return;
        flags->timedOut = true;
        reply->abort();
    });
    timer->start(timeout);
    if (canceller) canceller->track(reply, flags);

    co_await Completion::wait(finished);

    if (!reply) throw CancellationError();
    reply->deleteLater();
    // Our own aborts come first: Qt reports both as OperationCanceledError.
    if (flags->cancelled) throw CancellationError();
    if (flags->timedOut) throw NetworkError(NetworkError::timedOut);
    const QNetworkReply::NetworkError error = reply->error();
    if (isTransportFailure(error)) throw networkErrorFor(error, reply->errorString());
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) co_return HttpResponse{0, {}};
    co_return HttpResponse{status.toInt(), reply->readAll()};
}

} // namespace murmelo::network

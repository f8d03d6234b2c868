#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QNetworkRequest>
#include <QPointer>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace murmelo::network {

struct HttpResponse {
    int status = 0; // 0: the answer was not an HTTP response
    QByteArray body;
};

// Aborts the requests it tracks, so that each pending exchange fails with CancellationError.
// Providers own one; time limits outside the provider reach the request through it.
class RequestCanceller {
public:
    struct Flags {
        bool cancelled = false;
        bool timedOut = false;
    };
    void track(QNetworkReply* reply, std::shared_ptr<Flags> flags);
    void cancelAll();

private:
    QList<std::pair<QPointer<QNetworkReply>, std::weak_ptr<Flags>>> m_active;
};

// A request with the bearer key, JSON content type if `json`, and no redirects followed: a 3xx is
// reported as a status, and the key never travels to a host it was not meant for.
QNetworkRequest serviceRequest(const QUrl& url, const QString& apiKey, bool json);

// Sends one request and waits for the whole answer, at most `timeout` (then NetworkError -1001).
// Transport failures throw NetworkError; an abort through `canceller` throws CancellationError.
// A status outside 2xx is returned, not thrown: what it means is the caller's business.
QCoro::Task<HttpResponse> exchange(QNetworkAccessManager* session, QNetworkRequest request, QByteArray verb,
                                   QByteArray body, std::chrono::milliseconds timeout,
                                   std::shared_ptr<RequestCanceller> canceller);

} // namespace murmelo::network

#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

namespace murmelo {

// Whether the desktop's secret storage can serve us right now.
enum class SecretServiceStatus {
    reachable,    // the service answers and its default collection is unlocked (or not made yet)
    locked,       // the service answers, but the default collection is locked
    absent,       // no secret service on the session bus, or no session bus at all
    unresponsive, // the service did not answer in time
};

// The desktop's secret storage as the keychain store needs it: one secret per (service, account).
// Implementations bound every call in time, so that none hangs on a prompt or a silent service.
class SecretBackend {
public:
    virtual ~SecretBackend() = default;

    // The stored bytes, or nothing. A missing item, a locked collection, no secret service, a
    // refused or timed-out call all read as nothing.
    virtual std::optional<QByteArray> lookup(const QString& service, const QString& account) = 0;
    // Stores the secret, replacing an existing item in the same call, so a failure leaves the old
    // secret in place. 0 on success, otherwise a non-zero status naming the failure.
    virtual qint32 store(const QString& service, const QString& account, const QByteArray& secret) = 0;
    // Removes the item. 0 on success, also when there was no item; otherwise a non-zero status.
    virtual qint32 clear(const QString& service, const QString& account) = 0;
    // Asks the service how it stands, without prompting. Awaited: the answer comes over the bus,
    // and the UI thread must not wait for it. Bounded in time like every other call.
    virtual QCoro::Task<SecretServiceStatus> serviceStatus() = 0;
};

} // namespace murmelo

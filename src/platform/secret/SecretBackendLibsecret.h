#pragma once

#include "stores/SecretBackend.h"

#include <chrono>

namespace murmelo {

// How long one call of the Secret Service back end may take before it is cancelled.
struct SecretCallTimeouts {
    std::chrono::milliseconds lookup{5000};
    // Long enough to type a password into an unlock prompt.
    std::chrono::milliseconds change{25000};
    // After a lookup ran out of time, lookups answer "nothing" at once for this long instead of
    // each waiting again: start-up reads two keys, and every dictation start reads one.
    std::chrono::milliseconds unresponsiveFor{60000};
};

// Secret Service items through libsecret's synchronous calls (the status query is asynchronous), schema "com.murmelo.credentials" with
// the attributes "service" and "account", stored in the default collection.
//
// Every call runs under a deadline that cancels it, so none hangs on an unanswered prompt or a
// silent bus. Reading never asks to unlock: a locked collection reads as nothing. Saving into a
// locked collection may show the desktop's unlock prompt, which the save deadline bounds.
//
// The status of a failed store or clear (KeychainStoreError::unexpectedStatus) is the code of the
// GError that ended the call, in that error's own domain. Seen in practice: 2 when the bus has no
// Secret Service (G_DBUS_ERROR_SERVICE_UNKNOWN) and 2 when the collection is locked
// (SECRET_ERROR_IS_LOCKED; a clear that skipped a locked item reports it too). Two values are
// ours: 24 (G_IO_ERROR_TIMED_OUT) when the deadline passed, and -1 when the call failed without
// a code of its own (no GError, or a domain's generic code 0, as with no session bus at all), so
// that a failure is never reported as 0.
class SecretBackendLibsecret final : public SecretBackend {
public:
    using Timeouts = SecretCallTimeouts;

    static constexpr qint32 timedOutStatus = 24;
    static constexpr qint32 unnumberedFailureStatus = -1;

    explicit SecretBackendLibsecret(Timeouts timeouts = Timeouts());

    std::optional<QByteArray> lookup(const QString& service, const QString& account) override;
    qint32 store(const QString& service, const QString& account, const QByteArray& secret) override;
    qint32 clear(const QString& service, const QString& account) override;
    // Through libsecret's asynchronous calls under the lookup limit; never prompts.
    QCoro::Task<SecretServiceStatus> serviceStatus() override;

private:
    Timeouts m_timeouts;
    // Main thread only, like every call of this back end.
    std::chrono::steady_clock::time_point m_unresponsiveUntil{};
};

} // namespace murmelo

#include "secret/SecretBackendLibsecret.h"

#include "common/Completion.h"

// GLib names a struct field "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>

#include <QFileInfo>
#include <QTimer>
#pragma pop_macro("signals")

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace murmelo {
namespace {

const SecretSchema* credentialSchema() {
    static const SecretSchema schema = {
        "com.murmelo.credentials",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &schema;
}

// Cancels the call it guards when the limit passes. The synchronous calls spin a private main
// context, so a timer of ours could never fire inside them; a watchdog thread can.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_cancellable(g_cancellable_new())
        , m_watchdog([this, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_finished.wait_for(lock, limit, [this] { return m_done; })) {
                m_expired = true;
                g_cancellable_cancel(m_cancellable);
            }
        }) {}

    ~Deadline() {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_finished.notify_all();
        m_watchdog.join();
        g_object_unref(m_cancellable);
    }

    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    GCancellable* cancellable() const { return m_cancellable; }
    bool expired() {
        std::lock_guard lock(m_mutex);
        return m_expired;
    }

private:
    GCancellable* m_cancellable;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    bool m_expired = false;
    std::thread m_watchdog; // last: starts once everything it uses exists
};

class Attributes {
public:
    Attributes(const QString& service, const QString& account)
        : m_service(service.toUtf8())
        , m_account(account.toUtf8())
        , m_table(secret_attributes_build(credentialSchema(), "service", m_service.constData(), "account",
                                          m_account.constData(), nullptr)) {}
    ~Attributes() { g_hash_table_unref(m_table); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* table() const { return m_table; }

private:
    QByteArray m_service;
    QByteArray m_account;
    GHashTable* m_table;
};

qint32 failureStatus(const GError* error, Deadline& deadline) {
    // We cancel only when a deadline passes. Under load the cancellation of an earlier call on the
    // shared connection can surface in this one before its own deadline: a time-out all the same.
    if (deadline.expired() || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return SecretBackendLibsecret::timedOutStatus;
    if (!error || error->code == 0) return SecretBackendLibsecret::unnumberedFailureStatus;
    return error->code;
}

// Without a session bus GLib would try to autolaunch one through the X display: a stray bus, and a
// wait on every call. A session without a bus has no keyring to ask.
bool sessionBusReachable() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus"));
}

// One call of libsecret's asynchronous API, awaited by a coroutine. Its callback runs on the GLib
// main context, which Qt's event dispatcher runs on this thread. GLib always calls back, also after
// a cancellation, and the call holds the step until then, so a waiter that gave up leaves nothing
// dangling.
struct AsyncStep {
    std::shared_ptr<Completion> finished = std::make_shared<Completion>();
    GAsyncResult* result = nullptr;

    AsyncStep() = default;
    AsyncStep(const AsyncStep&) = delete;
    AsyncStep& operator=(const AsyncStep&) = delete;
    ~AsyncStep() {
        if (result) g_object_unref(result);
    }

    static gpointer hold(const std::shared_ptr<AsyncStep>& step) { return new std::shared_ptr<AsyncStep>(step); }
    static void ready(GObject*, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::shared_ptr<AsyncStep>> step(static_cast<std::shared_ptr<AsyncStep>*>(data));
        (*step)->result = G_ASYNC_RESULT(g_object_ref(result));
        (*step)->finished->complete();
    }
};

SecretServiceStatus statusOfFailure(const GError* error, bool deadlinePassed) {
    if (deadlinePassed || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT))
        return SecretServiceStatus::unresponsive;
    // Service unknown, no owner, no bus: there is nobody to keep the keys.
    return SecretServiceStatus::absent;
}

} // namespace

SecretBackendLibsecret::SecretBackendLibsecret(Timeouts timeouts)
    : m_timeouts(timeouts) {}

std::optional<QByteArray> SecretBackendLibsecret::lookup(const QString& service, const QString& account) {
    if (!sessionBusReachable()) return std::nullopt;
    if (std::chrono::steady_clock::now() < m_unresponsiveUntil) return std::nullopt;
    const Attributes attributes(service, account);
    Deadline deadline(m_timeouts.lookup);
    GError* error = nullptr;
    // A search without SECRET_SEARCH_UNLOCK never prompts; locked items come back without a secret.
    GList* items = secret_service_search_sync(nullptr, credentialSchema(), attributes.table(),
                                              SECRET_SEARCH_LOAD_SECRETS, deadline.cancellable(), &error);
    std::optional<QByteArray> result;
    for (GList* node = items; node && !result; node = node->next) {
        SecretValue* value = secret_item_get_secret(SECRET_ITEM(node->data));
        if (!value) continue;
        gsize length = 0;
        const gchar* data = secret_value_get(value, &length);
        result = QByteArray(data, qsizetype(length));
        secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    if (error && failureStatus(error, deadline) == timedOutStatus)
        m_unresponsiveUntil = std::chrono::steady_clock::now() + m_timeouts.unresponsiveFor;
    g_clear_error(&error); // every failure reads as "no key"
    return result;
}

qint32 SecretBackendLibsecret::store(const QString& service, const QString& account,
                                     const QByteArray& secret) {
    if (!sessionBusReachable()) return unnumberedFailureStatus;
    const Attributes attributes(service, account);
    const QByteArray label = QStringLiteral("Murmelo: %1").arg(account).toUtf8();
    SecretValue* value = secret_value_new(secret.constData(), secret.size(), "text/plain");
    Deadline deadline(m_timeouts.change);
    GError* error = nullptr;
    // The service replaces an item with the same attributes within this one call.
    const gboolean stored =
        secret_password_storev_binary_sync(credentialSchema(), attributes.table(), SECRET_COLLECTION_DEFAULT,
                                           label.constData(), value, deadline.cancellable(), &error);
    secret_value_unref(value);
    const qint32 status = stored ? 0 : failureStatus(error, deadline);
    if (stored) m_unresponsiveUntil = {}; // it answers again
    g_clear_error(&error);
    return status;
}

qint32 SecretBackendLibsecret::clear(const QString& service, const QString& account) {
    if (!sessionBusReachable()) return unnumberedFailureStatus;
    const Attributes attributes(service, account);
    Deadline deadline(m_timeouts.change);
    GError* error = nullptr;
    const gboolean removed =
        secret_password_clearv_sync(credentialSchema(), attributes.table(), deadline.cancellable(), &error);
    qint32 status = error ? failureStatus(error, deadline) : 0;
    if (!removed && !error) {
        // Nothing removed: either there was nothing, which is success, or the item sits in a locked
        // collection, which the call skips without a word. The user must not hear "deleted" then.
        GList* left = secret_service_search_sync(nullptr, credentialSchema(), attributes.table(),
                                                 SECRET_SEARCH_ALL, deadline.cancellable(), &error);
        if (error)
            status = failureStatus(error, deadline);
        else if (left)
            status = SECRET_ERROR_IS_LOCKED;
        g_list_free_full(left, g_object_unref);
    }
    g_clear_error(&error);
    return status;
}

} // namespace murmelo

namespace murmelo {

QCoro::Task<SecretServiceStatus> SecretBackendLibsecret::serviceStatus() {
    if (!sessionBusReachable()) co_return SecretServiceStatus::absent;
    // Takes what it needs of `this` before the first wait and never touches it after one.
    const std::chrono::milliseconds limit = m_timeouts.lookup;
    const std::unique_ptr<GCancellable, decltype(&g_object_unref)> cancellable(g_cancellable_new(), &g_object_unref);
    // Cancelling makes GLib call back at once; the extra second only bounds a callback that never comes.
    const std::chrono::milliseconds bound = limit + std::chrono::seconds(1);
    auto deadlinePassed = std::make_shared<bool>(false);
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [gcancellable = cancellable.get(), deadlinePassed] {
        *deadlinePassed = true;
        g_cancellable_cancel(gcancellable);
    });
    deadline.start(limit);

    auto serviceStep = std::make_shared<AsyncStep>();
    secret_service_get(SECRET_SERVICE_NONE, cancellable.get(), &AsyncStep::ready, AsyncStep::hold(serviceStep));
    if (!co_await Completion::wait(serviceStep->finished, bound)) co_return SecretServiceStatus::unresponsive;
    GError* error = nullptr;
    SecretService* service = secret_service_get_finish(serviceStep->result, &error);
    if (!service) {
        const SecretServiceStatus status = statusOfFailure(error, *deadlinePassed);
        g_clear_error(&error);
        co_return status;
    }
    const std::unique_ptr<SecretService, decltype(&g_object_unref)> serviceHeld(service, &g_object_unref);

    // The proxy exists whether or not anyone owns the name; asking for the default collection is
    // the first real call, and it also tells whether that collection is locked.
    auto aliasStep = std::make_shared<AsyncStep>();
    secret_collection_for_alias(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable.get(),
                                &AsyncStep::ready, AsyncStep::hold(aliasStep));
    if (!co_await Completion::wait(aliasStep->finished, bound)) co_return SecretServiceStatus::unresponsive;
    SecretCollection* collection = secret_collection_for_alias_finish(aliasStep->result, &error);
    if (error) {
        const SecretServiceStatus status = statusOfFailure(error, *deadlinePassed);
        g_clear_error(&error);
        if (collection) g_object_unref(collection);
        co_return status;
    }
    // No default collection yet: the first save creates one.
    if (!collection) co_return SecretServiceStatus::reachable;
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    co_return locked ? SecretServiceStatus::locked : SecretServiceStatus::reachable;
}

} // namespace murmelo

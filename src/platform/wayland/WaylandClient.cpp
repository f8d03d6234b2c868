#include "wayland/WaylandClient.h"

#include "common/Completion.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <poll.h>
#include <utility>
#include <vector>

namespace murmelo {

namespace {

class Connection {
public:
    explicit Connection(const QString& name)
        : m_display(wl_display_connect(name.isEmpty() ? nullptr : name.toLocal8Bit().constData())) {}
    ~Connection() {
        if (m_display) wl_display_disconnect(m_display);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    wl_display* get() const { return m_display; }

private:
    wl_display* m_display;
};

int remainingMs(const QDeadlineTimer& deadline) {
    return int(std::max<qint64>(deadline.remainingTime(), 0));
}

// Waits for `fd` to become ready for `events` until the deadline; false on time-out or error.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    for (;;) {
        pollfd ready{fd, events, 0};
        const int count = ::poll(&ready, 1, remainingMs(deadline));
        if (count > 0) return true;
        if (count == 0 || errno != EINTR || deadline.hasExpired()) return false;
    }
}

// Sends what is queued and dispatches events until `done` turns true. The blocking calls of
// libwayland (wl_display_roundtrip, wl_display_dispatch) would wait forever for a compositor that
// accepted the connection but stopped answering; this reads only what poll() says is there.
bool dispatchUntil(wl_display* display, const bool& done, const QDeadlineTimer& deadline) {
    const int fd = wl_display_get_fd(display);
    while (!done) {
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0) return false;
            continue;
        }
        while (wl_display_flush(display) < 0) {
            if (errno != EAGAIN || !waitFor(fd, POLLOUT, deadline)) {
                wl_display_cancel_read(display);
                return false;
            }
        }
        if (!waitFor(fd, POLLIN, deadline)) {
            wl_display_cancel_read(display);
            return false;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) return false;
    }
    return true;
}

// Waits until the compositor has handled every request sent so far (and we its answers).
bool roundtrip(wl_display* display, const QDeadlineTimer& deadline) {
    static const wl_callback_listener listener{
        [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (!callback) return false;
    wl_callback_add_listener(callback, &listener, &done);
    const bool answered = dispatchUntil(display, done, deadline);
    wl_callback_destroy(callback);
    return answered;
}

// The waits above hold the calling thread; only the start-up question (globals) uses them. These
// are the same with the event loop turning, for questions asked while Murmelo runs: the fd is
// watched by a socket notifier and the deadline by the completion's timer.
QCoro::Task<bool> readyFor(int fd, QSocketNotifier::Type type, QDeadlineTimer deadline) {
    auto ready = std::make_shared<Completion>();
    QSocketNotifier notifier(fd, type);
    QObject::connect(&notifier, &QSocketNotifier::activated, ready.get(), [&notifier, raw = ready.get()] {
        notifier.setEnabled(false); // it fires for as long as the fd stays ready
        raw->complete();
    });
    co_return co_await Completion::wait(ready, std::chrono::milliseconds(remainingMs(deadline)));
}

QCoro::Task<bool> dispatchUntilAwaited(wl_display* display, const bool& done, QDeadlineTimer deadline) {
    const int fd = wl_display_get_fd(display);
    while (!done) {
        if (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0) co_return false;
            continue;
        }
        // The connection is this task's own: no other reader waits for the read prepared here.
        while (wl_display_flush(display) < 0) {
            const bool writable =
                errno == EAGAIN ? co_await readyFor(fd, QSocketNotifier::Write, deadline) : false;
            if (!writable) {
                wl_display_cancel_read(display);
                co_return false;
            }
        }
        const bool readable = co_await readyFor(fd, QSocketNotifier::Read, deadline);
        if (!readable) {
            wl_display_cancel_read(display);
            co_return false;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) co_return false;
    }
    co_return true;
}

QCoro::Task<bool> roundtripAwaited(wl_display* display, QDeadlineTimer deadline) {
    static const wl_callback_listener listener{
        [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (!callback) co_return false;
    wl_callback_add_listener(callback, &listener, &done);
    const bool answered = co_await dispatchUntilAwaited(display, done, deadline);
    wl_callback_destroy(callback);
    co_return answered;
}

struct Registry {
    WaylandClient::Globals globals;
    uint32_t foreignToplevelName = 0;
    uint32_t foreignToplevelVersion = 0;
};

const wl_registry_listener registryListener{
    [](void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
        auto* registry = static_cast<Registry*>(data);
        if (std::strcmp(interface, "zwlr_data_control_manager_v1") == 0) {
            registry->globals.dataControl = true;
        } else if (std::strcmp(interface, "zwp_virtual_keyboard_manager_v1") == 0) {
            registry->globals.virtualKeyboard = true;
        } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
            registry->globals.foreignToplevel = true;
            registry->foreignToplevelName = name;
            registry->foreignToplevelVersion = version;
        }
    },
    [](void*, wl_registry*, uint32_t) {},
};

// One window as foreign-toplevel describes it. Title, app id and state arrive as pending values
// that hold from the next `done` on.
struct Toplevel {
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    QByteArray pendingAppId;
    bool pendingActivated = false;
    QByteArray appId;
    bool activated = false;
    bool closed = false;
};

const zwlr_foreign_toplevel_handle_v1_listener toplevelListener{
    [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}, // title
    [](void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Toplevel*>(data)->pendingAppId = QByteArray(appId);
    },
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}, // output_enter
    [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}, // output_leave
    [](void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->pendingActivated = false;
        const auto* state = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
            if (state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
                toplevel->pendingActivated = true;
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->appId = toplevel->pendingAppId;
        toplevel->activated = toplevel->pendingActivated;
    },
    [](void* data, zwlr_foreign_toplevel_handle_v1*) { static_cast<Toplevel*>(data)->closed = true; },
    [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}, // parent
};

const zwlr_foreign_toplevel_manager_v1_listener managerListener{
    [](void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        auto& toplevels = *static_cast<std::vector<std::unique_ptr<Toplevel>>*>(data);
        toplevels.push_back(std::make_unique<Toplevel>());
        toplevels.back()->handle = handle;
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, toplevels.back().get());
    },
    [](void*, zwlr_foreign_toplevel_manager_v1*) {}, // finished
};

} // namespace

WaylandClient::WaylandClient(QString display, std::chrono::milliseconds limit)
    : m_display(std::move(display))
    , m_limit(limit) {}

std::optional<WaylandClient::Globals> WaylandClient::globals() const {
    if (m_globals->asked) return m_globals->globals;
    m_globals->asked = true;
    const QDeadlineTimer deadline(m_limit);
    Connection connection(m_display);
    if (!connection.get()) return std::nullopt;
    Registry registry;
    wl_registry* proxy = wl_display_get_registry(connection.get());
    wl_registry_add_listener(proxy, &registryListener, &registry);
    const bool answered = roundtrip(connection.get(), deadline);
    wl_registry_destroy(proxy);
    if (answered) m_globals->globals = registry.globals;
    return m_globals->globals;
}

namespace {

// Takes what it needs by value: the client may be gone before the compositor answers.
QCoro::Task<QString> askActivatedAppId(QString display, std::chrono::milliseconds limit) {
    const QDeadlineTimer deadline(limit);
    Connection connection(display);
    if (!connection.get()) co_return QString();
    Registry registry;
    wl_registry* registryProxy = wl_display_get_registry(connection.get());
    wl_registry_add_listener(registryProxy, &registryListener, &registry);
    const bool listed = co_await roundtripAwaited(connection.get(), deadline);
    if (!listed || !registry.globals.foreignToplevel) {
        wl_registry_destroy(registryProxy);
        co_return QString();
    }

    std::vector<std::unique_ptr<Toplevel>> toplevels;
    auto* manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        registryProxy, registry.foreignToplevelName, &zwlr_foreign_toplevel_manager_v1_interface,
        std::min<uint32_t>(registry.foreignToplevelVersion, 3)));
    zwlr_foreign_toplevel_manager_v1_add_listener(manager, &managerListener, &toplevels);
    // The compositor describes every existing toplevel in answer to the bind, before it answers
    // the round trip that follows.
    const bool answered = co_await roundtripAwaited(connection.get(), deadline);

    QString appId;
    if (answered) {
        for (const auto& toplevel : toplevels) {
            if (toplevel->activated && !toplevel->closed) {
                appId = QString::fromUtf8(toplevel->appId);
                break;
            }
        }
    }
    // The proxies go before the connection; the compositor drops its side on disconnect.
    for (const auto& toplevel : toplevels)
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    wl_registry_destroy(registryProxy);
    co_return appId;
}

} // namespace

QCoro::Task<QString> WaylandClient::activatedAppId() const {
    return askActivatedAppId(m_display, m_limit);
}

} // namespace murmelo

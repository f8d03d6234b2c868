#pragma once

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace murmelo {

// Questions to the Wayland compositor over a connection of our own, separate from Qt's: each one
// connects, asks, reads the answer and disconnects. Every wait is bounded by `limit`, so a
// compositor that stops answering costs that long at most and never hangs the caller. The
// globals are asked once per client and its copies: the back ends chosen at start-up share one.
class WaylandClient {
public:
    // The protocols the wlroots back ends rely on.
    struct Globals {
        bool dataControl = false;     // zwlr_data_control_manager_v1: clipboard writes without focus
        bool virtualKeyboard = false; // zwp_virtual_keyboard_manager_v1: synthetic keys
        bool foreignToplevel = false; // zwlr_foreign_toplevel_manager_v1: which application is active
        bool operator==(const Globals&) const = default;
    };

    // `display` as WAYLAND_DISPLAY takes it: a socket name in XDG_RUNTIME_DIR or an absolute
    // path. Empty means the session's own (WAYLAND_DISPLAY).
    explicit WaylandClient(QString display = {},
                           std::chrono::milliseconds limit = std::chrono::milliseconds(500));

    // What the compositor advertises; nullopt when no compositor answered in time (also remembered).
    // Waits on the calling thread: it is asked once, at start-up, to choose the back ends.
    std::optional<Globals> globals() const;
    // The app id of the toplevel window the compositor reports as activated; empty when none
    // is, when the compositor lacks foreign-toplevel, or when it did not answer in time. Asked at
    // every paste, so the event loop turns while the compositor answers; the task needs nothing
    // of the client once started.
    QCoro::Task<QString> activatedAppId() const;

private:
    struct GlobalsAnswer {
        bool asked = false;
        std::optional<Globals> globals;
    };

    QString m_display;
    std::chrono::milliseconds m_limit;
    std::shared_ptr<GlobalsAnswer> m_globals = std::make_shared<GlobalsAnswer>();
};

} // namespace murmelo

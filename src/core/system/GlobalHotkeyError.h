#pragma once

#include "common/Error.h"

namespace murmelo {

// A failure of the global shortcut; `status` is the platform's own code (for X11 the X error
// code, 10 being BadAccess, or HotkeyBackend::statusNoDisplay when no X server is reachable).
class GlobalHotkeyError final : public Error {
public:
    // `register` is a reserved word in C++, hence registerHotKey.
    enum class Case { installHandler, registerHotKey };
    GlobalHotkeyError(Case kind, qint32 status)
        : m_case(kind)
        , m_status(status) {}
    Case kind() const { return m_case; }
    qint32 status() const { return m_status; }
    QString description() const override;
    bool operator==(const GlobalHotkeyError&) const = default;

private:
    Case m_case;
    qint32 m_status;
};

} // namespace murmelo

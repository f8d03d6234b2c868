#pragma once

#include "system/CancelKey.h"

#include <QAbstractNativeEventFilter>

#include <vector>

struct xcb_connection_t;

namespace murmelo {

// Escape as a passive grab on the root window, over Qt's X connection, with every Num Lock and
// Caps Lock variant; released on disarm(), so that while idle Escape reaches the applications.
class CancelKeyX11 final : public CancelKeyBackend, public QAbstractNativeEventFilter {
public:
    CancelKeyX11() = default;
    ~CancelKeyX11() override;
    CancelKeyX11(const CancelKeyX11&) = delete;
    CancelKeyX11& operator=(const CancelKeyX11&) = delete;

    bool arm(PressHandler pressed) override;
    void disarm() override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        quint8 keycode;
        quint16 modifiers;
    };

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    std::vector<Grab> m_grabs;
    PressHandler m_pressed;
};

} // namespace murmelo

#pragma once

#include "dictation/DictationPhase.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <chrono>

#include <functional>
#include <memory>
#include <optional>

class QScreen;

namespace murmelo {

class AppState;
class RecordingOverlayView;

// The frame of the window that has the focus, in native pixels of the virtual desktop; nothing
// when the session cannot tell (Wayland) or no window is active.
using FocusedWindowFrame = std::function<std::optional<QRect>()>;

// Shows the overlay for every distinct non-idle phase, positioned 54 px above the bottom of the
// available area of the screen the user works on (the focused window's, else the pointer's) and
// centred on its real width; hides it at idle.
class OverlayWindowController final : public QObject {
    Q_OBJECT
public:
    static constexpr int bottomOffset = 54;

    // `compositorRunning` tells whether translucency works; without one a shape mask is used.
    // `takesFocus`: the session maps the overlay as an ordinary window that gets the keyboard focus
    // (Wayland has no window that refuses it). Then it shows only while recording and for errors,
    // so that the user's window has the focus back before the paste arrives, and an error leaves
    // after `errorHold` so that typing goes back to the user's window.
    explicit OverlayWindowController(AppState& state, std::function<bool()> compositorRunning = {},
                                     bool takesFocus = false,
                                     std::chrono::milliseconds errorHold = std::chrono::seconds(5),
                                     FocusedWindowFrame focusedWindow = {}, QObject* parent = nullptr);
    ~OverlayWindowController() override;

    RecordingOverlayView& view() { return *m_view; }

signals:
    // Each time the overlay is positioned and shown.
    void presented();

private:
    void handle(const DictationPhase& phase);
    void position();
    QScreen* workingScreen() const;

    std::function<bool()> m_compositorRunning;
    FocusedWindowFrame m_focusedWindow;
    QPointer<QScreen> m_screen; // chosen when the overlay appears
    bool m_takesFocus = false;
    QTimer m_errorHold;
    std::unique_ptr<RecordingOverlayView> m_view;
    DictationPhase m_lastPhase; // idle: hidden at start
};

} // namespace murmelo

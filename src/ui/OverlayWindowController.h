#pragma once

#include "dictation/DictationPhase.h"

#include <QObject>
#include <QTimer>

#include <chrono>

#include <functional>
#include <memory>

namespace murmelo {

class AppState;
class RecordingOverlayView;

// Shows the overlay for every distinct non-idle phase, positioned 54 px above the bottom of the
// primary screen's available area and centred on its real width; hides it at idle.
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
                                     QObject* parent = nullptr);
    ~OverlayWindowController() override;

    RecordingOverlayView& view() { return *m_view; }

signals:
    // Each time the overlay is positioned and shown.
    void presented();

private:
    void handle(const DictationPhase& phase);
    void position();

    std::function<bool()> m_compositorRunning;
    bool m_takesFocus = false;
    QTimer m_errorHold;
    std::unique_ptr<RecordingOverlayView> m_view;
    DictationPhase m_lastPhase; // idle: hidden at start
};

} // namespace murmelo

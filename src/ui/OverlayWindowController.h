#pragma once

#include "dictation/DictationPhase.h"

#include <QObject>

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
    explicit OverlayWindowController(AppState& state, std::function<bool()> compositorRunning = {},
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
    std::unique_ptr<RecordingOverlayView> m_view;
    DictationPhase m_lastPhase; // idle: hidden at start
};

} // namespace murmelo

#include "OverlayWindowController.h"

#include "RecordingOverlayView.h"
#include "dictation/AppState.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace murmelo {

OverlayWindowController::OverlayWindowController(AppState& state, std::function<bool()> compositorRunning,
                                                 bool takesFocus, std::chrono::milliseconds errorHold,
                                                 FocusedWindowFrame focusedWindow, QObject* parent)
    : QObject(parent)
    , m_compositorRunning(std::move(compositorRunning))
    , m_focusedWindow(std::move(focusedWindow))
    , m_takesFocus(takesFocus)
    , m_view(std::make_unique<RecordingOverlayView>(state)) {
    connect(&state, &AppState::phaseChanged, this, &OverlayWindowController::handle);
    m_errorHold.setSingleShot(true);
    m_errorHold.setInterval(errorHold);
    connect(&m_errorHold, &QTimer::timeout, this, [this] { m_view->hide(); });
    // A longer detail line widens the capsule: keep it centred while it shows.
    connect(m_view.get(), &RecordingOverlayView::contentResized, this, [this] {
        if (m_view->isVisible()) position();
    });
    handle(state.phase());
}

OverlayWindowController::~OverlayWindowController() = default;

void OverlayWindowController::handle(const DictationPhase& phase) {
    if (phase == m_lastPhase) return; // an equal phase shows nothing new
    m_lastPhase = phase;
    m_errorHold.stop();
    const bool quietPhase =
        !phase.is(DictationPhase::Kind::recording) && !phase.is(DictationPhase::Kind::error);
    if (phase.is(DictationPhase::Kind::idle) || (m_takesFocus && quietPhase)) {
        m_view->hide();
        return;
    }
    if (m_compositorRunning) m_view->setShapeMaskEnabled(!m_compositorRunning());
    m_view->refresh(); // the size for this phase, before centring on it
    // Chosen as the overlay appears and kept while it stays: a dictation's phases do not move it
    // to another screen, nor ask the display server again each time.
    if (!m_view->isVisible() || !m_screen) m_screen = workingScreen();
    position();
    m_view->show();
    m_view->raise();
    if (m_takesFocus && phase.is(DictationPhase::Kind::error)) m_errorHold.start();
    emit presented();
}

QScreen* OverlayWindowController::workingScreen() const {
    if (const std::optional<QRect> frame = m_focusedWindow ? m_focusedWindow() : std::nullopt) {
        // Qt keeps a screen's origin in native pixels and scales only its size.
        QScreen* best = nullptr;
        qint64 bestArea = 0;
        for (QScreen* screen : QGuiApplication::screens()) {
            const QRect native(screen->geometry().topLeft(), screen->geometry().size() * screen->devicePixelRatio());
            const QRect shared = native.intersected(*frame);
            const qint64 area = qint64(shared.width()) * shared.height();
            if (area > bestArea) {
                best = screen;
                bestArea = area;
            }
        }
        if (best) return best;
    }
    if (QScreen* underPointer = QGuiApplication::screenAt(QCursor::pos())) return underPointer;
    return QGuiApplication::primaryScreen();
}

void OverlayWindowController::position() {
    // No screen: the overlay shows where it was.
    const QScreen* screen = m_screen;
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    m_view->move(available.x() + (available.width() - m_view->width()) / 2,
                 available.y() + available.height() - bottomOffset - m_view->height());
}

} // namespace murmelo

#pragma once

#include <QLabel>
#include <QVariantAnimation>
#include <QWidget>

namespace murmelo {

class AppState;
class DictationPhase;
class FadingIcon;

// The capsule that floats near the bottom of the screen during a dictation: the phase's icon,
// a title and one line of detail. A top-level window that never takes focus.
class RecordingOverlayView final : public QWidget {
    Q_OBJECT
public:
    explicit RecordingOverlayView(AppState& state, QWidget* parent = nullptr);

    // "%02d:%02d" of whole seconds, truncated; minutes are not capped. Anything that is not a
    // finite, non-negative number shows 00:00.
    static QString formatDuration(double seconds);

    QString titleText() const;
    // Empty when no detail line is shown.
    QString detailText() const;
    bool isPulsing() const { return m_pulse.state() == QAbstractAnimation::Running; }

    // Re-reads the state; the view also does this on every change of it.
    void refresh();

    // Where no compositor runs, translucency renders black: clip the window to the capsule.
    void setShapeMaskEnabled(bool enabled);

signals:
    void contentResized();

private:
    void resizeToContent();
    void updateMask();
    static QColor iconColour(const DictationPhase& phase);

    AppState& m_state;
    QWidget* m_capsule;
    FadingIcon* m_icon;
    QLabel* m_title;
    QLabel* m_detail;
    QString m_detailFull;
    QVariantAnimation m_pulse;
    int m_capsuleHeight = 0;
    bool m_maskEnabled = false;
};

} // namespace murmelo

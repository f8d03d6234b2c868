#pragma once

#include "dictation/DictationPhase.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace murmelo {

// The single observable record of the current dictation. Main thread only.
class AppState final : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    static constexpr std::chrono::milliseconds tickInterval{100};

    // `now` is the wall clock the recording time is measured on.
    explicit AppState(QObject* parent = nullptr, Clock now = &QDateTime::currentDateTimeUtc);

    DictationPhase phase() const { return m_phase; }
    double recordingDuration() const { return m_recordingDuration; }
    QString partialTranscript() const { return m_partialTranscript; }
    QString rawTranscript() const { return m_rawTranscript; }
    QString finalText() const { return m_finalText; }
    QString statusDetail() const { return m_statusDetail; }
    std::optional<QDateTime> recordingStartedAt() const { return m_recordingStartedAt; }
    bool isTimerRunning() const { return m_timer.isActive(); }

    void setPhase(const DictationPhase& phase);
    void setRecordingDuration(double seconds);
    void setPartialTranscript(const QString& text);
    void appendPartialTranscript(const QString& delta);
    void setRawTranscript(const QString& text);
    void setFinalText(const QString& text);
    void setStatusDetail(const QString& text);

    // Clears the texts, starts the clock and enters `recording`; exactly one timer runs afterwards.
    void beginRecording();
    // Sets the phase; any phase but `recording` stops the timer and freezes the duration.
    void transition(const DictationPhase& phase);
    // Back to idle; the raw transcript and final text stay available for copying.
    void reset();
    // A message from outside the dictation (the hotkey, the desktop's portal): the error phase
    // while nothing runs; during a dictation only the status line, so the recording, its timer
    // and the overlay carry on.
    void notify(const QString& message);
    // True while the phase changes for notify(): observers tell the desktop's messages from failures.
    bool isNotifying() const { return m_notifying; }

signals:
    void phaseChanged(const murmelo::DictationPhase& phase);
    void recordingDurationChanged(double seconds);
    void partialTranscriptChanged(const QString& text);
    void rawTranscriptChanged(const QString& text);
    void finalTextChanged(const QString& text);
    void statusDetailChanged(const QString& text);
    // After any of the above.
    void changed();

private:
    void tick();
    void stopTimer();

    Clock m_now;
    DictationPhase m_phase;
    double m_recordingDuration = 0;
    QString m_partialTranscript;
    QString m_rawTranscript;
    QString m_finalText;
    QString m_statusDetail;
    std::optional<QDateTime> m_recordingStartedAt;
    QTimer m_timer;
    bool m_notifying = false;
};

} // namespace murmelo

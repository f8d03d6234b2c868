#include "dictation/AppState.h"

namespace murmelo {

AppState::AppState(QObject* parent, Clock now)
    : QObject(parent)
    , m_now(std::move(now)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(tickInterval);
    connect(&m_timer, &QTimer::timeout, this, &AppState::tick);
}

void AppState::setPhase(const DictationPhase& phase) {
    m_phase = phase;
    emit phaseChanged(m_phase);
    emit changed();
}

void AppState::setRecordingDuration(double seconds) {
    m_recordingDuration = seconds;
    emit recordingDurationChanged(seconds);
    emit changed();
}

void AppState::setPartialTranscript(const QString& text) {
    m_partialTranscript = text;
    emit partialTranscriptChanged(text);
    emit changed();
}

void AppState::appendPartialTranscript(const QString& delta) { setPartialTranscript(m_partialTranscript + delta); }

void AppState::setRawTranscript(const QString& text) {
    m_rawTranscript = text;
    emit rawTranscriptChanged(text);
    emit changed();
}

void AppState::setFinalText(const QString& text) {
    m_finalText = text;
    emit finalTextChanged(text);
    emit changed();
}

void AppState::setStatusDetail(const QString& text) {
    m_statusDetail = text;
    emit statusDetailChanged(text);
    emit changed();
}

void AppState::beginRecording() {
    setPartialTranscript({});
    setRawTranscript({});
    setFinalText({});
    setStatusDetail({});
    setRecordingDuration(0);
    m_recordingStartedAt = m_now();
    setPhase(DictationPhase::recording());
    // Restarting the one timer object replaces any running timer, so exactly one ticks.
    m_timer.start();
}

void AppState::transition(const DictationPhase& phase) {
    setPhase(phase);
    if (phase.is(DictationPhase::Kind::recording)) return;
    stopTimer();
}

void AppState::notify(const QString& message) {
    using Kind = DictationPhase::Kind;
    for (Kind running : {Kind::recording, Kind::transcribing, Kind::refining, Kind::inserting})
        if (m_phase.is(running)) return setStatusDetail(message);
    m_notifying = true;
    transition(DictationPhase::error(message));
    m_notifying = false;
}

void AppState::reset() {
    transition(DictationPhase::idle());
    setPartialTranscript({});
    setRecordingDuration(0);
    setStatusDetail({});
}

void AppState::tick() {
    if (!m_recordingStartedAt) {
        m_timer.stop();
        return;
    }
    // Measured from the start date on the wall clock, not accumulated from ticks.
    setRecordingDuration(double(m_recordingStartedAt->msecsTo(m_now())) / 1000.0);
}

void AppState::stopTimer() {
    m_timer.stop();
    m_recordingStartedAt.reset();
}

} // namespace murmelo

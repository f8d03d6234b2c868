#include "system/SoundCues.h"

#include "dictation/AppState.h"
#include "settings/AppSettings.h"

namespace murmelo {

SoundCueService::SoundCueService(AppState& state, AppSettings& settings, SoundPlayer& player, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_player(player)
    , m_previous(state.phase()) {
    connect(&m_state, &AppState::phaseChanged, this, &SoundCueService::follow);
}

void SoundCueService::follow(const DictationPhase& phase) {
    using Kind = DictationPhase::Kind;
    const DictationPhase previous = std::exchange(m_previous, phase);
    if (!m_settings.soundCues()) return;
    const bool wasRecording = previous.is(Kind::recording), recording = phase.is(Kind::recording);
    if (recording && !wasRecording)
        m_player.play(SoundCue::recordingStarted);
    else if (wasRecording && phase.is(Kind::transcribing))
        m_player.play(SoundCue::recordingStopped);
    else if (phase.is(Kind::error) && !previous.is(Kind::error) && !m_state.isNotifying())
        m_player.play(SoundCue::failed);
}

} // namespace murmelo

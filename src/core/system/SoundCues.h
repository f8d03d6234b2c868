#pragma once

#include <QObject>

#include "dictation/DictationPhase.h"

namespace murmelo {

class AppSettings;
class AppState;

enum class SoundCue {
    recordingStarted, // once the microphone records, so the cue cannot delay the capture
    recordingStopped,
    failed,
};

// Plays the desktop's event sounds. play() returns at once, whatever the sound server does.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(SoundCue cue) = 0;
};

// Follows the dictation's phases: a cue when recording starts, when it stops, and when a dictation
// fails; silent while the setting is off. A message the desktop sends outside a dictation (a hotkey
// fallback at start-up) is no failure of the user's and plays nothing. Main thread only; everything
// given must outlive it.
class SoundCueService final : public QObject {
    Q_OBJECT
public:
    SoundCueService(AppState& state, AppSettings& settings, SoundPlayer& player, QObject* parent = nullptr);

private:
    void follow(const DictationPhase& phase);

    AppState& m_state;
    AppSettings& m_settings;
    SoundPlayer& m_player;
    DictationPhase m_previous;
};

} // namespace murmelo

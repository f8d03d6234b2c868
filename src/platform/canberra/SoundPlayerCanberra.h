#pragma once

#include "system/SoundCues.h"

#include <QThreadPool>

#include <memory>

namespace murmelo {

// The desktop's event sounds through libcanberra, by sound-theme names, so the desktop's theme and
// its event-sound switch apply. libcanberra may wait for the sound server (connecting, uploading
// a sample), so every call runs on a thread of its own, one at a time, never on the caller's.
class SoundPlayerCanberra final : public SoundPlayer {
public:
    SoundPlayerCanberra();
    // Waits for a cue still being handed to the server; bounded by libcanberra's own time-outs.
    ~SoundPlayerCanberra() override;

    void play(SoundCue cue) override;

    // The sound-theme name of each cue.
    static const char* eventId(SoundCue cue);

private:
    struct Context;
    std::shared_ptr<Context> m_context;
    QThreadPool m_thread;
};

} // namespace murmelo

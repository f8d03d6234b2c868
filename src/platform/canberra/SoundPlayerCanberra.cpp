#include "canberra/SoundPlayerCanberra.h"

#include <canberra.h>

#include <QByteArray>

namespace murmelo {

// Created on the worker thread at the first cue: connecting may wait for the server.
struct SoundPlayerCanberra::Context {
    ca_context* handle = nullptr;
    bool failed = false;
    ~Context() {
        if (handle) ca_context_destroy(handle);
    }
    ca_context* get() {
        if (handle || failed) return handle;
        if (ca_context_create(&handle) != CA_SUCCESS) {
            failed = true;
            return handle = nullptr;
        }
        ca_context_change_props(handle, CA_PROP_APPLICATION_NAME, "Murmelo", CA_PROP_APPLICATION_ID,
                                "com.murmelo.Murmelo", CA_PROP_APPLICATION_ICON_NAME, "com.murmelo.Murmelo",
                                nullptr);
        return handle;
    }
};

SoundPlayerCanberra::SoundPlayerCanberra()
    : m_context(std::make_shared<Context>()) {
    m_thread.setMaxThreadCount(1); // one context, used by one thread at a time
    m_thread.setExpiryTimeout(-1);
}

SoundPlayerCanberra::~SoundPlayerCanberra() {
    m_thread.waitForDone();
}

const char* SoundPlayerCanberra::eventId(SoundCue cue) {
    switch (cue) {
    case SoundCue::recordingStarted:
        return "message-new-instant";
    case SoundCue::recordingStopped:
        return "complete";
    case SoundCue::failed:
        return "dialog-error";
    }
    return "bell";
}

void SoundPlayerCanberra::play(SoundCue cue) {
    const char* id = eventId(cue);
    m_thread.start([context = m_context, id] {
        if (ca_context* handle = context->get())
            // Returns once the server has the sound, which plays on by itself. A theme without it or
            // no server is silence, never a message to the user. "event" is the role desktops mute.
            ca_context_play(handle, 0, CA_PROP_EVENT_ID, id, CA_PROP_MEDIA_ROLE, "event", nullptr);
    });
}

} // namespace murmelo

#pragma once

#include "audio/AudioCapturing.h"

#include <QString>

#include <functional>
#include <memory>

namespace murmelo {

class AudioInputBackend;

// The one AudioCapturing: records the chosen microphone through the audio engine, encoding each
// 1024-frame buffer on the capture thread. Main thread only. A start while another is under way
// returns at once, as one while recording does; stop() during a start ends that start.
class AudioCaptureService final : public AudioCapturing {
public:
    static constexpr int tapBufferFrames = 1024;

    // Called at every start, on the main thread: the uid of the chosen microphone, empty for the
    // system default input.
    using MicrophoneUID = std::function<QString()>;
    using AccessRequest = std::function<QCoro::Task<bool>()>;

    // The engine lives as long as the service and is reused for every recording.
    AudioCaptureService(std::unique_ptr<AudioInputBackend> engine, MicrophoneUID selectedMicrophoneUID,
                        AccessRequest requestAccess = &AudioCaptureService::requestMicrophoneAccess);
    ~AudioCaptureService() override;
    AudioCaptureService(const AudioCaptureService&) = delete;
    AudioCaptureService& operator=(const AudioCaptureService&) = delete;

    bool isRecording() const override { return m_isRecording; }
    QCoro::Task<> start(ChunkHandler onChunk, LossHandler onLost) override;
    void stop() override;

    // The engine, for the device catalog.
    AudioInputBackend& engine() { return *m_engine; }

    // Native Linux applications need no permission to record: always true. Recording failures
    // surface as capture errors instead.
    static QCoro::Task<bool> requestMicrophoneAccess();
    // Starts the desktop's sound settings (GNOME, KDE, or pavucontrol, whichever is installed, the
    // running desktop's own first); false when none is installed.
    static bool openMicrophonePrivacySettings();

private:
    void microphoneLost(quint64 recording);

    std::unique_ptr<AudioInputBackend> m_engine;
    MicrophoneUID m_selectedMicrophoneUID;
    AccessRequest m_requestAccess;
    bool m_isRecording = false;
    bool m_starting = false;
    // Counts starts and stops, so that a start overtaken by stop(), or a loss reported for an
    // earlier recording, changes nothing.
    quint64 m_recording = 0;
    LossHandler m_onLost;
    // Its weak copies tell a coroutine resumed after the service went away not to touch it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace murmelo

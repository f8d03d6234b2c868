#include "audio/AudioCaptureService.h"

#include "audio/AudioCaptureError.h"
#include "audio/AudioInputBackend.h"
#include "audio/AudioInputDeviceSelector.h"
#include "audio/PCM24kEncoder.h"
#include "common/Error.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace murmelo {

AudioCaptureService::AudioCaptureService(std::unique_ptr<AudioInputBackend> engine,
                                         MicrophoneUID selectedMicrophoneUID, AccessRequest requestAccess)
    : m_engine(std::move(engine))
    , m_selectedMicrophoneUID(std::move(selectedMicrophoneUID))
    , m_requestAccess(std::move(requestAccess)) {}

AudioCaptureService::~AudioCaptureService() {
    stop();
}

QCoro::Task<> AudioCaptureService::start(ChunkHandler onChunk, LossHandler onLost) {
    if (m_isRecording || m_starting) co_return;
    const std::weak_ptr<int> alive = m_alive;
    const quint64 recording = ++m_recording;
    m_starting = true;
    // After every wait: a stop() meanwhile has already put the engine back; this start just ends.
    const auto checkNotStopped = [&] {
        if (alive.expired() || m_recording != recording) throw CancellationError();
    };
    const auto fail = [&](auto error) {
        m_starting = false;
        throw error;
    };

    const bool allowed = co_await m_requestAccess();
    checkNotStopped();
    if (!allowed) fail(AudioCaptureError(AudioCaptureError::Case::microphoneDenied));

    // From here on a failure also forgets the device choice, so that a later start with the
    // system default does not keep recording from this device.
    const QString uid = m_selectedMicrophoneUID ? m_selectedMicrophoneUID() : QString();
    std::exception_ptr choiceFailed;
    try {
        co_await AudioInputDeviceSelector::apply(uid, *m_engine);
    } catch (...) {
        choiceFailed = std::current_exception();
    }
    checkNotStopped();
    if (choiceFailed) {
        m_starting = false;
        m_engine->reset();
        std::rethrow_exception(choiceFailed);
    }

    const AudioInputFormat format = co_await m_engine->inputFormat();
    checkNotStopped();
    if (!format.failure.isEmpty()) {
        m_engine->reset();
        fail(AudioCaptureError(AudioCaptureError::Case::engineStartFailed, format.failure));
    }
    if (!(format.sampleRate > 0) || format.channelCount <= 0) {
        m_engine->reset();
        fail(AudioCaptureError(AudioCaptureError::Case::invalidInputFormat));
    }

    m_engine->removeTap();
    m_engine->installTap(tapBufferFrames, format,
                         [onChunk = std::move(onChunk)](const AudioPCMBuffer& buffer) {
                             QByteArray chunk = PCM24kEncoder::encode(buffer);
                             if (chunk.isEmpty() || !onChunk) return;
                             // The capture thread belongs to the engine: nothing may unwind into it.
                             try {
                                 onChunk(std::move(chunk));
                             } catch (...) {
                             }
                         });

    // Named before the co_await: g++ 12 destroys a lambda temporary twice when the task does not
    // suspend.
    AudioInputBackend::LossHandler lost = [this, alive, recording] {
        if (!alive.expired()) microphoneLost(recording);
    };
    const std::optional<QString> refused = co_await m_engine->start(std::move(lost));
    checkNotStopped();
    if (refused) {
        m_engine->removeTap();
        m_engine->reset();
        fail(AudioCaptureError(AudioCaptureError::Case::engineStartFailed, *refused));
    }
    m_starting = false;
    m_onLost = std::move(onLost);
    m_isRecording = true;
}

void AudioCaptureService::stop() {
    const bool engaged = m_isRecording || m_starting;
    ++m_recording; // a start under way ends, a late loss report is ignored
    m_isRecording = m_starting = false;
    m_onLost = nullptr;
    if (!engaged) return;
    m_engine->removeTap();
    m_engine->stop();
    m_engine->reset();
}

void AudioCaptureService::microphoneLost(quint64 recording) {
    if (!m_isRecording || recording != m_recording) return;
    LossHandler onLost = std::move(m_onLost);
    stop();
    if (onLost) onLost();
}

QCoro::Task<bool> AudioCaptureService::requestMicrophoneAccess() {
    co_return true;
}

bool AudioCaptureService::openMicrophonePrivacySettings() {
    struct Candidate {
        QString desktop; // a word of XDG_CURRENT_DESKTOP that prefers this one
        QString program;
        QStringList arguments;
    };
    // pavucontrol fits every desktop; a desktop's own settings come first on that desktop.
    const QList<Candidate> candidates = {
        {QString(), QStringLiteral("pavucontrol"), {QStringLiteral("--tab=4")}},
        {QStringLiteral("GNOME"), QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("KDE"), QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}},
    };
    const QStringList desktops = QProcessEnvironment::systemEnvironment()
                                     .value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                     .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QList<Candidate> ordered;
    for (const Candidate& candidate : candidates)
        if (!candidate.desktop.isEmpty() && desktops.contains(candidate.desktop, Qt::CaseInsensitive))
            ordered << candidate;
    for (const Candidate& candidate : candidates)
        if (candidate.desktop.isEmpty() || !desktops.contains(candidate.desktop, Qt::CaseInsensitive))
            ordered << candidate;

    for (const Candidate& candidate : ordered) {
        const QString path = QStandardPaths::findExecutable(candidate.program);
        if (path.isEmpty()) continue;
        if (QProcess::startDetached(path, candidate.arguments)) return true;
    }
    return false;
}

} // namespace murmelo

#include "audio/AudioCaptureService.h"

#include "audio/AudioCaptureError.h"
#include "audio/AudioInputBackend.h"
#include "audio/AudioInputDeviceSelector.h"
#include "audio/PCM24kEncoder.h"

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

QCoro::Task<> AudioCaptureService::start(ChunkHandler onChunk) {
    if (m_isRecording) co_return;

    const bool allowed = co_await m_requestAccess();
    if (!allowed) throw AudioCaptureError(AudioCaptureError::Case::microphoneDenied);
    // Another start may have finished while we waited; its handler stays in force.
    if (m_isRecording) co_return;

    AudioInputDeviceSelector::apply(m_selectedMicrophoneUID ? m_selectedMicrophoneUID() : QString(),
                                    *m_engine);

    // From here on a failure also forgets the device choice, so that a later start with the
    // system default does not keep recording from this device.
    const AudioInputFormat format = m_engine->inputFormat();
    if (!format.failure.isEmpty()) {
        m_engine->reset();
        throw AudioCaptureError(AudioCaptureError::Case::engineStartFailed, format.failure);
    }
    if (!(format.sampleRate > 0) || format.channelCount <= 0) {
        m_engine->reset();
        throw AudioCaptureError(AudioCaptureError::Case::invalidInputFormat);
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

    QString message;
    if (!m_engine->start(&message)) {
        m_engine->removeTap();
        m_engine->reset();
        throw AudioCaptureError(AudioCaptureError::Case::engineStartFailed, message);
    }
    m_isRecording = true;
}

void AudioCaptureService::stop() {
    if (!m_isRecording) return;
    m_engine->removeTap();
    m_engine->stop();
    m_engine->reset();
    m_isRecording = false;
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

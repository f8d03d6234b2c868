#pragma once

#include "transcription/TranscriptionTypes.h"

#include <QByteArray>
#include <QCoroTask>

#include <functional>

namespace murmelo {

// A speech-to-text back end for one dictation: start once, send audio in capture order, then
// finish or cancel. Errors are TranscriptionProviderError, NetworkError or CancellationError.
class SpeechTranscriptionProvider {
public:
    using PartialHandler = std::function<void(const QString& delta)>;

    virtual ~SpeechTranscriptionProvider() = default;

    // Opens the session. `onPartial` receives each new fragment of recognised text.
    virtual QCoro::Task<> start(TranscriptionContext context, PartialHandler onPartial) = 0;
    // One chunk of 24 kHz 16-bit little-endian mono PCM; an empty chunk is ignored.
    virtual QCoro::Task<> sendAudio(QByteArray chunk) = 0;
    // Declares the end of the audio and waits for the final transcript; sets no limit of its own.
    virtual QCoro::Task<TranscriptionResult> finish() = 0;
    // Abandons the session: a pending finish() fails with CancellationError. Never fails.
    virtual QCoro::Task<> cancel() = 0;
};

} // namespace murmelo

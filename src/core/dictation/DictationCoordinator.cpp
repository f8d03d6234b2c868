#include "dictation/DictationCoordinator.h"

#include "audio/AudioCaptureError.h"
#include "audio/AudioCapturing.h"
#include "dictation/AppState.h"
#include "dictation/AudioChunkQueue.h"
#include "dictation/WithTimeout.h"
#include "settings/AppSettings.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/Pasteboard.h"
#include "system/TextInsertionService.h"
#include "transcription/TranscriptionProviderError.h"

#include <QMetaObject>
#include <QTimer>

#include <atomic>

namespace murmelo {

// The objects of one dictation. Coroutines that use them hold the session, so nothing is freed
// under a pending co_await even when the coordinator has moved on.
struct DictationCoordinator::Session {
    quint64 dictation = 0;
    std::unique_ptr<SpeechTranscriptionProvider> transcription;
    std::unique_ptr<TextRefinementProvider> refinement;
    std::shared_ptr<AudioChunkQueue> chunks;
    std::shared_ptr<Completion> sendDone;
    std::exception_ptr sendError;
    bool sendStopped = false;
    bool recording = false; // from the microphone's start until stop is asked
    // Set by the capture thread once a chunk came: a microphone lost after that still has audio to
    // process.
    std::shared_ptr<std::atomic<bool>> heard = std::make_shared<std::atomic<bool>>(false);
    bool microphoneLost = false;
    bool cancelled = false;
    // Hold to talk: since when the hotkey is held, and for how long once it was let go.
    std::optional<std::chrono::steady_clock::time_point> heldSince;
    std::optional<std::chrono::steady_clock::duration> heldFor;
    bool inserting = false; // too late to cancel: the text is on its way to the application
};

DictationCoordinator::DictationCoordinator(AppState& state, AppSettings& settings,
                                           DictionaryStore& dictionary, HistoryStore& history,
                                           DictationProviderFactory& providers, AudioCapturing& audioCapture,
                                           TextInsertionService& textInsertion, Pasteboard& pasteboard,
                                           Timing timing, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_dictionary(dictionary)
    , m_history(history)
    , m_providers(providers)
    , m_audioCapture(audioCapture)
    , m_textInsertion(textInsertion)
    , m_pasteboard(pasteboard)
    , m_timing(timing) {}

DictationCoordinator::~DictationCoordinator() {
    m_holds.cancelAll();
    m_audioCapture.stop();
    if (m_session && m_session->chunks) m_session->chunks->finish();
}

void DictationCoordinator::toggleDictation() {
    // Decided by this coordinator's own session, not by the phase: others (a hotkey or portal
    // failure) may show an error over a running dictation, which must neither end nor fork it.
    QTimer::singleShot(0, this, [this] {
        if (m_starting) return; // still opening its session: no second set of objects
        if (!m_session) {
            startDictation();
        } else if (m_session->recording) {
            stopDictation();
        } // else it is being processed; the toggle has nothing to do
    });
}

void DictationCoordinator::beginHold() {
    const TimePoint pressedAt = std::chrono::steady_clock::now();
    QTimer::singleShot(0, this, [this, pressedAt] {
        if (m_starting) return;
        if (!m_session)
            startDictation(pressedAt);
        else if (m_session->recording)
            stopDictation();
    });
}

void DictationCoordinator::endHold() {
    const TimePoint releasedAt = std::chrono::steady_clock::now();
    QTimer::singleShot(0, this, [this, releasedAt] {
        if (!m_session || !m_session->heldSince || m_session->heldFor || m_session->cancelled) return;
        m_session->heldFor = releasedAt - *m_session->heldSince;
        // A release while the start still runs is acted on once the microphone records.
        if (m_session->recording) endHeldRecording(m_session);
    });
}

void DictationCoordinator::endHeldRecording(const std::shared_ptr<Session>& session) {
    if (*session->heldFor < m_timing.slip)
        cancelSession(session);
    else
        stopDictation();
}

void DictationCoordinator::cancelDictation() {
    QTimer::singleShot(0, this, [this] {
        if (m_starting || !m_session || m_session->cancelled || m_session->inserting) return;
        cancelSession(m_session);
    });
}

void DictationCoordinator::copyBestAvailableText() {
    const QString text = !m_state.finalText().isEmpty() ? m_state.finalText() : m_state.rawTranscript();
    // Not awaited: nothing here depends on when the clipboard has it.
    if (!text.isEmpty()) (void)m_pasteboard.replaceContents(text);
}

qsizetype DictationCoordinator::unsentAudioBytes() const {
    return m_session && m_session->chunks ? m_session->chunks->pendingBytes() : 0;
}

QString DictationCoordinator::statusFor(TextInsertionResult outcome) {
    switch (outcome) {
    case TextInsertionResult::inserted:
        return statusInserted;
    case TextInsertionResult::copiedOnly:
        return statusCopiedOnly;
    case TextInsertionResult::notCopied:
        return statusNotCopied;
    }
    return {};
}

QString DictationCoordinator::messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Error& known) {
        return known.description();
    } catch (const std::exception& other) {
        return QString::fromLocal8Bit(other.what());
    } catch (...) {
        return QStringLiteral("未知错误。");
    }
}

QCoro::Task<> DictationCoordinator::sendChunks(std::shared_ptr<Session> session) {
    try {
        // One chunk at a time, in capture order; the first failure ends the loop.
        while (auto chunk = co_await session->chunks->next()) {
            if (session->sendStopped) break;
            co_await session->transcription->sendAudio(std::move(*chunk));
        }
    } catch (...) {
        session->sendError = std::current_exception();
    }
    session->sendDone->complete();
}

QCoro::Task<> DictationCoordinator::startDictation(std::optional<TimePoint> heldSince) {
    QPointer self(this);
    m_starting = true;
    m_holds.cancelAll(); // a success still on show gives way to the new dictation

    auto session = std::make_shared<Session>();
    session->dictation = ++m_dictation;
    session->heldSince = heldSince;
    std::exception_ptr failure;
    try {
        auto providers = m_providers.makeProviders();
        session->transcription = std::move(providers.transcription);
        session->refinement = std::move(providers.refinement);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        co_await finishFailedStart(messageOf(failure));
        co_return;
    }
    m_session = session;

    const TranscriptionContext context{
        contextPrompt, m_dictionary.keywords(), {QStringLiteral("zh-cn"), QStringLiteral("en")}};
    const quint64 dictation = session->dictation;
    auto onPartial = [self, dictation](const QString& delta) {
        // Any thread: only hop to the main thread, where the state lives.
        QMetaObject::invokeMethod(
            self.data(),
            [self, dictation, delta] {
                if (self && self->m_session && self->m_session->dictation == dictation)
                    self->m_state.appendPartialTranscript(delta);
            },
            Qt::QueuedConnection);
    };
    try {
        co_await session->transcription->start(context, onPartial);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) co_return;
    if (failure) {
        co_await finishFailedStart(messageOf(failure));
        co_return;
    }

    session->chunks = std::make_shared<AudioChunkQueue>();
    session->sendDone = std::make_shared<Completion>();
    sendChunks(session);

    // The capture thread only pushes; it never waits for the network. (Lambdas are named before a
    // co_await: g++ 12 destroys a lambda temporary twice when the awaited task does not suspend.)
    AudioCapturing::ChunkHandler pushChunk = [chunks = session->chunks, heard = session->heard](QByteArray chunk) {
        chunks->push(std::move(chunk));
        heard->store(true, std::memory_order_relaxed);
    };
    AudioCapturing::LossHandler lost = [self, dictation] {
        if (self) self->microphoneLost(dictation);
    };
    try {
        co_await m_audioCapture.start(std::move(pushChunk), std::move(lost));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) co_return;
    if (failure) {
        co_await finishFailedStart(messageOf(failure));
        co_return;
    }
    m_starting = false;
    session->recording = true;
    m_state.beginRecording();
    if (session->heldFor) endHeldRecording(session);
}

// The start stays in progress until its clean-up is over: a toggle meanwhile would otherwise open a
// second dictation whose microphone runs on under the error this clean-up then shows.
QCoro::Task<> DictationCoordinator::finishFailedStart(QString message) {
    QPointer self(this);
    co_await cleanupAfterFailure(std::move(message));
    if (self) m_starting = false;
}

// The microphone went away while recording: the dictation ends there as if stopped, so what was
// said before the loss is transcribed and inserted; with nothing heard it ends in an error.
void DictationCoordinator::microphoneLost(quint64 dictation) {
    if (!m_session || m_session->dictation != dictation || !m_session->recording) return;
    if (!m_session->heard->load()) {
        cleanupAfterFailure(AudioCaptureError(AudioCaptureError::Case::microphoneLost).description());
        return;
    }
    m_session->microphoneLost = true;
    stopDictation();
}

QCoro::Task<> DictationCoordinator::stopDictation() {
    QPointer self(this);
    const double audioDuration = m_state.recordingDuration();
    const auto stopRequested = std::chrono::steady_clock::now();

    m_audioCapture.stop();
    auto session = m_session;
    if (session) session->recording = false;
    if (session && session->chunks) session->chunks->finish();
    m_state.transition(DictationPhase::transcribing());

    if (session && session->sendDone) {
        // The remaining chunks go out first; a provider that stops taking them must not hang us.
        const bool drained = co_await Completion::wait(session->sendDone, m_timing.finish);
        if (!self || session->cancelled) co_return;
        if (!drained) {
            co_await cleanupAfterFailure(
                DictationCoordinatorError(DictationCoordinatorError::Case::timedOut).description());
            co_return;
        }
        if (session->sendError) {
            co_await cleanupAfterFailure(messageOf(session->sendError));
            co_return;
        }
    }
    if (!session || !session->transcription || !session->refinement) {
        co_await cleanupAfterFailure(
            TranscriptionProviderError(TranscriptionProviderError::Case::notStarted).description());
        co_return;
    }

    std::exception_ptr failure;
    TranscriptionResult transcript;
    // Raw pointers: these outlive the wait they serve, and must not keep the providers alive.
    const std::function<void()> cancelTranscription = [provider = session->transcription.get()] {
        provider->cancel();
    };
    try {
        transcript = co_await withTimeout<TranscriptionResult>(
            m_timing.finish, session->transcription->finish(), cancelTranscription, m_timing.cancelGrace);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || session->cancelled) co_return;
    if (failure) {
        co_await cleanupAfterFailure(messageOf(failure));
        co_return;
    }

    m_state.setRawTranscript(transcript.text);
    m_state.transition(DictationPhase::refining());

    const RefinementRequest request{transcript.text, m_settings.inputMode(), m_dictionary.glossaryText()};
    QString refined;
    const std::function<void()> cancelRefinement = [provider = session->refinement.get()] {
        provider->cancel();
    };
    try {
        refined = co_await withTimeout<QString>(m_timing.refinement, session->refinement->refine(request),
                                                cancelRefinement, m_timing.cancelGrace);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || session->cancelled) co_return;
    if (failure) {
        co_await cleanupAfterFailure(messageOf(failure));
        co_return;
    }

    session->inserting = true;
    m_state.setFinalText(refined);
    m_state.transition(DictationPhase::inserting());
    const TextInsertionResult outcome = co_await m_textInsertion.insert(refined);
    if (!self) co_return;
    if (session->microphoneLost)
        m_state.setStatusDetail(statusMicrophoneLost +
                                (outcome == TextInsertionResult::inserted ? QString() : statusFor(outcome)));
    else
        m_state.setStatusDetail(statusFor(outcome));
    m_state.transition(DictationPhase::success());
    const double latency =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stopRequested).count();

    if (m_settings.saveHistory()) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.createdAt = referenceSecondsNow();
        entry.mode = m_settings.inputMode();
        entry.text = refined;
        entry.audioDuration = audioDuration;
        entry.completionLatency = latency;
        co_await m_history.append(entry);
        if (!self) co_return;
    }
    const quint64 dictation = session->dictation;
    if (m_session == session) m_session.reset();
    session.reset(); // this dictation's providers go now, not after the hold
    emit dictationEnded();
    co_await holdThenIdle(m_timing.successHold, dictation, DictationPhase::Kind::success);
}

QCoro::Task<> DictationCoordinator::holdThenIdle(std::chrono::milliseconds hold, quint64 dictation,
                                                 DictationPhase::Kind shown) {
    QPointer self(this);
    try {
        co_await sleepFor(hold, &m_holds);
    } catch (const CancellationError&) {
        co_return; // a new dictation began during the hold: it owns the state now
    }
    if (!self) co_return;
    // Only the dictation that ended is sent back to idle, and only while it still shows its end.
    if (m_dictation == dictation && m_state.phase().is(shown)) m_state.reset();
}

// The microphone closes and the session goes without a commit; a refinement in flight is
// cancelled; the stop, where one runs, sees the flag after its wait and leaves the rest undone.
QCoro::Task<> DictationCoordinator::cancelSession(std::shared_ptr<Session> session) {
    QPointer self(this);
    session->cancelled = true;
    // Nothing of this dictation may be offered for copying afterwards.
    m_state.setPartialTranscript({});
    m_state.setRawTranscript({});
    m_state.setFinalText({});
    m_state.transition(DictationPhase::cancelled());
    if (session->refinement) session->refinement->cancel();
    co_await closeSession(session);
    if (!self) co_return;
    const quint64 dictation = session->dictation;
    if (m_session == session) m_session.reset();
    session.reset();
    emit dictationEnded();
    co_await holdThenIdle(m_timing.cancelledHold, dictation, DictationPhase::Kind::cancelled);
}

// Microphone off, no more chunks, the realtime session cancelled (no commit). The sender may still be
// inside sendAudio; cancelling the session ends that, and we wait (bounded) so that no send outlives
// this dictation. The caller checks that the coordinator still exists afterwards.
QCoro::Task<> DictationCoordinator::closeSession(std::shared_ptr<Session> session) {
    QPointer self(this);
    m_audioCapture.stop();
    session->recording = false;
    session->sendStopped = true;
    if (session->chunks) session->chunks->finish();
    if (session->transcription) {
        co_await session->transcription->cancel();
        if (!self) co_return;
    }
    if (session->sendDone) co_await Completion::wait(session->sendDone, m_timing.cancelGrace);
}

QCoro::Task<> DictationCoordinator::cleanupAfterFailure(QString message) {
    QPointer self(this);
    m_audioCapture.stop();
    // The session stays this coordinator's until the clean-up is over, so that a toggle meanwhile
    // does not start a dictation under the error about to be shown.
    auto session = m_session;
    if (session) {
        co_await closeSession(session);
        if (!self) co_return;
    }
    if (m_session == session) m_session.reset();
    // Not awaited: the error must be shown now, before a new dictation can start.
    if (!m_state.rawTranscript().isEmpty()) (void)m_pasteboard.replaceContents(m_state.rawTranscript());
    m_state.transition(DictationPhase::error(message));
    emit dictationEnded();
}

} // namespace murmelo

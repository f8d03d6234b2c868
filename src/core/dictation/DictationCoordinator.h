#pragma once

#include "common/Completion.h"
#include "dictation/DictationPhase.h"
#include "dictation/DictationProviderFactory.h"
#include "system/TextInsertionResult.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <exception>
#include <optional>
#include <memory>

namespace murmelo {

class AppSettings;
class AppState;
class AudioCapturing;
class AudioChunkQueue;
class DictionaryStore;
class HistoryStore;
class Pasteboard;
class TextInsertionService;

// The coordinator's time limits; tests pass milliseconds.
struct DictationTiming {
    std::chrono::milliseconds finish{35000};     // waiting for the final transcript
    std::chrono::milliseconds refinement{20000}; // waiting for the refined text
    std::chrono::milliseconds successHold{1500}; // success shows this long before idle
    std::chrono::milliseconds cancelGrace{5000}; // how long a cancelled provider may take to react
    std::chrono::milliseconds cancelledHold{800}; // "已取消" shows this long before idle
    std::chrono::milliseconds slip{300};          // a hold of the hotkey shorter than this is a slip
};

// Runs one dictation from the first hotkey press to the text pasted into the focused application:
// providers, session, microphone, the chunk hand-over, stop with its time limits, insertion,
// history, and the clean-up after any failure. Main thread only.
class DictationCoordinator final : public QObject {
    Q_OBJECT
public:
    using Timing = DictationTiming;

    static inline const QString contextPrompt = QStringLiteral(
        "Personal Mandarin dictation with occasional English product names and technical terms.");
    static inline const QString statusInserted = QStringLiteral("已写入当前应用");
    static inline const QString statusCopiedOnly = QStringLiteral("无法自动粘贴，结果已保留在剪贴板");
    static inline const QString statusNotCopied =
        QStringLiteral("无法写入剪贴板，请在托盘面板中点击“复制最近结果”");
    // Leads the status when the microphone went away while recording and what it heard was used.
    static inline const QString statusMicrophoneLost = QStringLiteral("麦克风已断开，已处理断开前的录音。");

    DictationCoordinator(AppState& state, AppSettings& settings, DictionaryStore& dictionary,
                         HistoryStore& history, DictationProviderFactory& providers,
                         AudioCapturing& audioCapture, TextInsertionService& textInsertion,
                         Pasteboard& pasteboard, Timing timing = {}, QObject* parent = nullptr);
    ~DictationCoordinator() override;

    // Returns at once; when its turn on the event loop comes it starts a dictation, stops the one
    // recording, or does nothing while one is starting or being processed.
    void toggleDictation();
    // Hold to talk: the press starts a dictation (or stops one a toggle started), the release of
    // the press that started it stops it, and a release within the slip time cancels it instead.
    // Both return at once and act in their turn on the event loop.
    void beginHold();
    void endHold();
    // Returns at once; then cancels the dictation that records, transcribes or refines: nothing of
    // it is committed, pasted, copied or saved. Does nothing while one starts or is being inserted.
    void cancelDictation();
    // Puts the final text, else the raw transcript, on the clipboard; nothing when both are empty.
    void copyBestAvailableText();

    // For tests and diagnostics: whether a start is still opening its session, and whether the
    // objects of a dictation exist.
    bool isStarting() const { return m_starting; }
    bool hasSession() const { return m_session != nullptr; }
    // Captured audio the transcription provider has not taken yet (0 without a dictation).
    qsizetype unsentAudioBytes() const;

signals:
    // A dictation ended: in success (before the hold) or in error, after its clean-up.
    void dictationEnded();

private:
    struct Session;

    using TimePoint = std::chrono::steady_clock::time_point;
    QCoro::Task<> startDictation(std::optional<TimePoint> heldSince = std::nullopt);
    void endHeldRecording(const std::shared_ptr<Session>& session);
    QCoro::Task<> stopDictation();
    QCoro::Task<> cleanupAfterFailure(QString message);
    QCoro::Task<> cancelSession(std::shared_ptr<Session> session);
    QCoro::Task<> closeSession(std::shared_ptr<Session> session);
    QCoro::Task<> holdThenIdle(std::chrono::milliseconds hold, quint64 dictation, DictationPhase::Kind shown);
    QCoro::Task<> finishFailedStart(QString message);
    void microphoneLost(quint64 dictation);
    static QCoro::Task<> sendChunks(std::shared_ptr<Session> session);
    static QString messageOf(std::exception_ptr error);
    static QString statusFor(TextInsertionResult outcome);

    AppState& m_state;
    AppSettings& m_settings;
    DictionaryStore& m_dictionary;
    HistoryStore& m_history;
    DictationProviderFactory& m_providers;
    AudioCapturing& m_audioCapture;
    TextInsertionService& m_textInsertion;
    Pasteboard& m_pasteboard;
    Timing m_timing;

    std::shared_ptr<Session> m_session;
    quint64 m_dictation = 0; // counts dictations, so a late reset never hits a newer one
    bool m_starting = false;
    CancelScope m_holds;
};

} // namespace murmelo

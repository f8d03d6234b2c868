#pragma once

#include "common/Completion.h"
#include "dictation/DictationProviderFactory.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace murmelo {

// Counts live provider objects across a test, to prove at most one dictation's set exists.
struct ProviderCensus {
    int alive = 0;
    int maximumAlive = 0;
    int created = 0;
    void born() {
        ++created;
        maximumAlive = std::max(maximumAlive, ++alive);
    }
};

// A transcription provider whose every step the test scripts.
class ScriptedTranscriptionProvider final : public SpeechTranscriptionProvider {
public:
    struct Script {
        std::function<void()> failStart;        // throws
        std::optional<int> failSendAfterChunks; // sendAudio throws from this chunk on
        std::chrono::milliseconds sendDelay{0};
        std::optional<TranscriptionResult> result = TranscriptionResult{QStringLiteral("原始转写"), {}};
        std::function<void()> failFinish; // throws instead of answering
        bool finishNeverAnswers = false;  // waits until cancelled
        std::chrono::milliseconds finishDelay{0};
        QStringList partialsOnFirstChunk;
        std::chrono::milliseconds cancelDelay{0}; // cancel() returns after this long
    };

    ScriptedTranscriptionProvider(Script script, ProviderCensus* census);
    ~ScriptedTranscriptionProvider() override;

    QCoro::Task<> start(TranscriptionContext context, PartialHandler onPartial) override;
    QCoro::Task<> sendAudio(QByteArray chunk) override;
    QCoro::Task<TranscriptionResult> finish() override;
    QCoro::Task<> cancel() override;

    // What happened, for the test to read after the provider is gone.
    struct Record {
        std::optional<TranscriptionContext> context;
        QList<QByteArray> chunks;
        int cancels = 0;
        bool finishCalled = false;
        bool sessionOpen = false;
    };
    std::shared_ptr<Record> record = std::make_shared<Record>();

private:
    Script m_script;
    ProviderCensus* m_census;
    PartialHandler m_onPartial;
    CancelScope m_waits;
};

class ScriptedRefinementProvider final : public TextRefinementProvider {
public:
    struct Script {
        std::optional<QString> result = QStringLiteral("整理后的文字");
        std::function<void()> fail; // throws
        bool neverAnswers = false;
        std::chrono::milliseconds delay{0};
    };
    ScriptedRefinementProvider(Script script, ProviderCensus* census,
                               std::shared_ptr<QList<RefinementRequest>> requests);
    ~ScriptedRefinementProvider() override;

    QCoro::Task<QString> refine(RefinementRequest request) override;
    void cancel() override;
    int cancels = 0;

private:
    Script m_script;
    ProviderCensus* m_census;
    std::shared_ptr<QList<RefinementRequest>> m_requests;
    CancelScope m_waits;
};

// Hands out scripted providers; each dictation takes the scripts as they are at its start.
class ScriptedProviderFactory final : public DictationProviderFactory {
public:
    ScriptedTranscriptionProvider::Script transcription;
    ScriptedRefinementProvider::Script refinement;
    std::function<void()> failMake; // throws, as a missing key does
    ProviderCensus census;
    QList<std::shared_ptr<ScriptedTranscriptionProvider::Record>> sessions;
    std::shared_ptr<QList<RefinementRequest>> refinementRequests =
        std::make_shared<QList<RefinementRequest>>();

    DictationProviders makeProviders() override;
};

} // namespace murmelo

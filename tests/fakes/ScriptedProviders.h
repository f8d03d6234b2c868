#pragma once

#include "common/Completion.h"
#include "dictation/DictationProviderFactory.h"
#include "transcription/TranscriptionProviderError.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace murmelo {

// Counts live provider objects across a test, to prove at most one dictation's set exists.
struct ProviderCensus {
    int alive = 0, maximumAlive = 0, created = 0;
    void born() {
        ++created;
        maximumAlive = std::max(maximumAlive, ++alive);
    }
};

// How the providers of a dictation behave; each dictation takes the script as it is at its start.
struct ProviderScript {
    std::function<void()> failMake, failStart, failFinish, failRefine; // each throws its error
    std::optional<int> failSendAfterChunks;                            // sendAudio throws from this chunk on
    std::chrono::milliseconds sendDelay{0}, finishDelay{0}, refineDelay{0};
    std::chrono::milliseconds cancelDelay{0}; // cancel() returns after this long, as a socket's does
};

// What a transcription session was given and how it ended, readable after the provider is gone.
struct SessionRecord {
    std::optional<TranscriptionContext> context;
    QList<QByteArray> chunks;
    bool open = false;
};

class ScriptedTranscriptionProvider final : public SpeechTranscriptionProvider {
public:
    ScriptedTranscriptionProvider(ProviderScript script, ProviderCensus& census,
                                  std::shared_ptr<SessionRecord> record)
        : m_script(std::move(script))
        , m_census(census)
        , m_record(std::move(record)) {
        m_census.born();
    }
    ~ScriptedTranscriptionProvider() override {
        m_waits.cancelAll();
        --m_census.alive;
    }

    QCoro::Task<> start(TranscriptionContext context, PartialHandler) override {
        m_record->context = context;
        if (m_script.failStart) m_script.failStart();
        m_record->open = true;
        co_return;
    }
    QCoro::Task<> sendAudio(QByteArray chunk) override {
        using Case = TranscriptionProviderError::Case;
        if (!m_record->open) throw TranscriptionProviderError(Case::notStarted);
        if (m_script.failSendAfterChunks && m_record->chunks.size() >= *m_script.failSendAfterChunks)
            throw TranscriptionProviderError(Case::connectionClosed);
        if (m_script.sendDelay.count() > 0) co_await sleepFor(m_script.sendDelay, &m_waits);
        m_record->chunks.append(chunk);
    }
    QCoro::Task<TranscriptionResult> finish() override {
        if (m_script.finishDelay.count() > 0) co_await sleepFor(m_script.finishDelay, &m_waits);
        if (m_script.failFinish) m_script.failFinish();
        m_record->open = false;
        co_return TranscriptionResult{QStringLiteral("原始转写"), {}};
    }
    QCoro::Task<> cancel() override {
        m_record->open = false;
        m_waits.cancelAll();
        // A separate wait, so the cancellation above does not cut it short.
        if (m_script.cancelDelay.count() > 0) co_await sleepFor(m_script.cancelDelay);
    }

private:
    ProviderScript m_script;
    ProviderCensus& m_census;
    std::shared_ptr<SessionRecord> m_record;
    CancelScope m_waits;
};

class ScriptedRefinementProvider final : public TextRefinementProvider {
public:
    ScriptedRefinementProvider(ProviderScript script, ProviderCensus& census,
                               QList<RefinementRequest>& requests)
        : m_script(std::move(script))
        , m_census(census)
        , m_requests(requests) {
        m_census.born();
    }
    ~ScriptedRefinementProvider() override {
        m_waits.cancelAll();
        --m_census.alive;
    }

    QCoro::Task<QString> refine(RefinementRequest request) override {
        m_requests.append(request);
        if (m_script.refineDelay.count() > 0) co_await sleepFor(m_script.refineDelay, &m_waits);
        if (m_script.failRefine) m_script.failRefine();
        co_return QStringLiteral("整理后的文字");
    }
    void cancel() override { m_waits.cancelAll(); }

private:
    ProviderScript m_script;
    ProviderCensus& m_census;
    QList<RefinementRequest>& m_requests;
    CancelScope m_waits;
};

// Hands out scripted providers and keeps what each dictation's providers were given.
class ScriptedProviderFactory final : public DictationProviderFactory {
public:
    ProviderScript script;
    ProviderCensus census;
    QList<std::shared_ptr<SessionRecord>> sessions;
    QList<RefinementRequest> refinementRequests;

    DictationProviders makeProviders() override {
        if (script.failMake) script.failMake();
        sessions.append(std::make_shared<SessionRecord>());
        DictationProviders providers;
        providers.transcription =
            std::make_unique<ScriptedTranscriptionProvider>(script, census, sessions.last());
        providers.refinement =
            std::make_unique<ScriptedRefinementProvider>(script, census, refinementRequests);
        return providers;
    }
};

} // namespace murmelo

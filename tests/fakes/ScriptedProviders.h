#pragma once

#include "common/Completion.h"
#include "dictation/DictationProviderFactory.h"
#include "transcription/TranscriptionProviderError.h"

#include <QHash>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace murmelo {

// How a dictation's providers behave; each dictation takes the script as it is at its start.
struct ProviderScript {
    std::function<void(const QByteArray& step)> fail; // throws to fail "make", "start", "finish" or "refine"
    std::optional<int> failSendAfterChunks;            // sendAudio fails from this chunk on
    QHash<QByteArray, std::chrono::milliseconds> delays; // of "send", "finish", "refine" and "cancel"
};

// What a transcription session was given and how it ended, readable after the provider is gone.
struct SessionRecord {
    std::optional<TranscriptionContext> context;
    QList<QByteArray> chunks;
    bool open = false;
};

// Counts live providers, to prove that at most one dictation's set exists at a time.
struct ProviderCensus {
    int alive = 0, maximumAlive = 0, created = 0;
};

// The base of both fakes: the census, the script, and waits that end with the provider.
struct ScriptedStep {
    ProviderScript script;
    ProviderCensus& census;
    CancelScope waits;
    ScriptedStep(ProviderScript s, ProviderCensus& c) : script(std::move(s)), census(c) {
        ++census.created;
        census.maximumAlive = std::max(census.maximumAlive, ++census.alive);
    }
    ~ScriptedStep() {
        waits.cancelAll();
        --census.alive;
    }
    QCoro::Task<> step(QByteArray name) {
        if (script.delays.value(name).count() > 0) co_await sleepFor(script.delays.value(name), &waits);
        if (script.fail) script.fail(name);
    }
};

class ScriptedTranscriptionProvider final : public SpeechTranscriptionProvider, ScriptedStep {
public:
    ScriptedTranscriptionProvider(ProviderScript script, ProviderCensus& census, std::shared_ptr<SessionRecord> record)
        : ScriptedStep(std::move(script), census), m_record(std::move(record)) {}

    QCoro::Task<> start(TranscriptionContext context, PartialHandler) override {
        m_record->context = context;
        co_await step("start");
        m_record->open = true;
    }
    QCoro::Task<> sendAudio(QByteArray chunk) override {
        if (!m_record->open || (script.failSendAfterChunks && m_record->chunks.size() >= *script.failSendAfterChunks))
            throw TranscriptionProviderError(TranscriptionProviderError::Case::connectionClosed);
        co_await step("send");
        m_record->chunks.append(chunk);
    }
    QCoro::Task<TranscriptionResult> finish() override {
        co_await step("finish");
        m_record->open = false;
        co_return TranscriptionResult{QStringLiteral("原始转写"), {}};
    }
    QCoro::Task<> cancel() override {
        m_record->open = false;
        waits.cancelAll();
        // Its own wait, which the cancellation above does not cut short, as a socket's close.
        if (script.delays.value("cancel").count() > 0) co_await sleepFor(script.delays.value("cancel"));
    }

private:
    std::shared_ptr<SessionRecord> m_record;
};

class ScriptedRefinementProvider final : public TextRefinementProvider, ScriptedStep {
public:
    ScriptedRefinementProvider(ProviderScript script, ProviderCensus& census, QList<RefinementRequest>& requests)
        : ScriptedStep(std::move(script), census), m_requests(requests) {}
    QCoro::Task<QString> refine(RefinementRequest request) override {
        m_requests.append(request);
        co_await step("refine");
        co_return QStringLiteral("整理后的文字");
    }
    void cancel() override { waits.cancelAll(); }

private:
    QList<RefinementRequest>& m_requests;
};

// Hands out scripted providers and keeps what each dictation's providers were given.
class ScriptedProviderFactory final : public DictationProviderFactory {
public:
    ProviderScript script;
    ProviderCensus census;
    QList<std::shared_ptr<SessionRecord>> sessions;
    QList<RefinementRequest> refinementRequests;

    DictationProviders makeProviders() override {
        if (script.fail) script.fail("make");
        sessions.append(std::make_shared<SessionRecord>());
        DictationProviders providers;
        providers.transcription = std::make_unique<ScriptedTranscriptionProvider>(script, census, sessions.last());
        providers.refinement = std::make_unique<ScriptedRefinementProvider>(script, census, refinementRequests);
        return providers;
    }
};

} // namespace murmelo

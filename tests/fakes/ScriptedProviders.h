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
    std::function<void(const QByteArray& step)> fail;    // throws to fail "make", "start", "finish", "refine"
    std::optional<int> failSendAfterChunks;               // sendAudio fails from this chunk on
    QHash<QByteArray, std::chrono::milliseconds> delays; // of "send", "finish", "refine" and "cancel"
};

// What a dictation's providers were given and how its session ended, readable after they are gone.
struct SessionRecord {
    std::optional<TranscriptionContext> context;
    QList<QByteArray> chunks;
    bool open = false;
    std::optional<RefinementRequest> refinement;
};

// Counts live providers, to prove that at most one dictation's set exists at a time.
struct ProviderCensus {
    int alive = 0, maximumAlive = 0;
};

// What both fakes share: the census, the script, and waits that end with the provider.
class ScriptedProvider {
public:
    ScriptedProvider(ProviderScript script, ProviderCensus& census, std::shared_ptr<SessionRecord> record)
        : m_script(std::move(script)), m_census(census), m_record(std::move(record)) {
        m_census.maximumAlive = std::max(m_census.maximumAlive, ++m_census.alive);
    }
    ~ScriptedProvider() {
        m_waits.cancelAll();
        --m_census.alive;
    }

protected:
    QCoro::Task<> step(QByteArray name, CancelScope* scope) {
        if (m_script.delays.value(name).count() > 0) co_await sleepFor(m_script.delays.value(name), scope);
        if (m_script.fail) m_script.fail(name);
    }
    ProviderScript m_script;
    ProviderCensus& m_census;
    std::shared_ptr<SessionRecord> m_record;
    CancelScope m_waits;
};

class ScriptedTranscriptionProvider final : public SpeechTranscriptionProvider, ScriptedProvider {
public:
    using ScriptedProvider::ScriptedProvider;
    QCoro::Task<> start(TranscriptionContext context, PartialHandler) override {
        m_record->context = context;
        co_await step("start", &m_waits);
        m_record->open = true;
    }
    QCoro::Task<> sendAudio(QByteArray chunk) override {
        if (!m_record->open || (m_script.failSendAfterChunks && m_record->chunks.size() >= *m_script.failSendAfterChunks))
            throw TranscriptionProviderError(TranscriptionProviderError::Case::connectionClosed);
        co_await step("send", &m_waits);
        m_record->chunks.append(chunk);
    }
    QCoro::Task<TranscriptionResult> finish() override {
        co_await step("finish", &m_waits);
        m_record->open = false;
        co_return TranscriptionResult{QStringLiteral("原始转写"), {}};
    }
    QCoro::Task<> cancel() override {
        m_record->open = false;
        m_waits.cancelAll();
        co_await step("cancel", nullptr); // its own wait, as a socket's close, which nothing cuts short
    }
};

class ScriptedRefinementProvider final : public TextRefinementProvider, ScriptedProvider {
public:
    using ScriptedProvider::ScriptedProvider;
    QCoro::Task<QString> refine(RefinementRequest request) override {
        m_record->refinement = request;
        co_await step("refine", &m_waits);
        co_return QStringLiteral("整理后的文字");
    }
    void cancel() override { m_waits.cancelAll(); }
};

// Hands out scripted providers and keeps what each dictation's providers were given.
class ScriptedProviderFactory final : public DictationProviderFactory {
public:
    ProviderScript script;
    ProviderCensus census;
    QList<std::shared_ptr<SessionRecord>> sessions;

    DictationProviders makeProviders() override {
        if (script.fail) script.fail("make");
        sessions.append(std::make_shared<SessionRecord>());
        DictationProviders providers;
        providers.transcription = std::make_unique<ScriptedTranscriptionProvider>(script, census, sessions.last());
        providers.refinement = std::make_unique<ScriptedRefinementProvider>(script, census, sessions.last());
        return providers;
    }
};

} // namespace murmelo

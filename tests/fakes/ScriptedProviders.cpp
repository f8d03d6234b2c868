#include "ScriptedProviders.h"

#include "common/Error.h"
#include "transcription/TranscriptionProviderError.h"

namespace murmelo {

ScriptedTranscriptionProvider::ScriptedTranscriptionProvider(Script script, ProviderCensus* census)
    : m_script(std::move(script))
    , m_census(census) {
    m_census->born();
}

ScriptedTranscriptionProvider::~ScriptedTranscriptionProvider() {
    m_waits.cancelAll();
    --m_census->alive;
}

QCoro::Task<> ScriptedTranscriptionProvider::start(TranscriptionContext context, PartialHandler onPartial) {
    record->context = context;
    if (m_script.failStart) m_script.failStart();
    m_onPartial = std::move(onPartial);
    record->sessionOpen = true;
    co_return;
}

QCoro::Task<> ScriptedTranscriptionProvider::sendAudio(QByteArray chunk) {
    if (!record->sessionOpen) throw TranscriptionProviderError(TranscriptionProviderError::Case::notStarted);
    if (m_script.failSendAfterChunks && record->chunks.size() >= *m_script.failSendAfterChunks)
        throw TranscriptionProviderError(TranscriptionProviderError::Case::connectionClosed);
    if (m_script.sendDelay.count() > 0) co_await sleepFor(m_script.sendDelay, &m_waits);
    if (record->chunks.isEmpty() && m_onPartial)
        for (const QString& partial : m_script.partialsOnFirstChunk)
            m_onPartial(partial);
    record->chunks.append(chunk);
}

QCoro::Task<TranscriptionResult> ScriptedTranscriptionProvider::finish() {
    record->finishCalled = true;
    if (!record->sessionOpen) throw TranscriptionProviderError(TranscriptionProviderError::Case::notStarted);
    if (m_script.finishNeverAnswers) co_await sleepFor(std::chrono::hours(1), &m_waits);
    if (m_script.finishDelay.count() > 0) co_await sleepFor(m_script.finishDelay, &m_waits);
    if (m_script.failFinish) m_script.failFinish();
    record->sessionOpen = false;
    co_return *m_script.result;
}

QCoro::Task<> ScriptedTranscriptionProvider::cancel() {
    ++record->cancels;
    record->sessionOpen = false;
    m_onPartial = nullptr;
    m_waits.cancelAll();
    // A separate wait, so the cancellation above does not cut it short.
    if (m_script.cancelDelay.count() > 0) co_await sleepFor(m_script.cancelDelay);
}

ScriptedRefinementProvider::ScriptedRefinementProvider(Script script, ProviderCensus* census,
                                                       std::shared_ptr<QList<RefinementRequest>> requests)
    : m_script(std::move(script))
    , m_census(census)
    , m_requests(std::move(requests)) {
    m_census->born();
}

ScriptedRefinementProvider::~ScriptedRefinementProvider() {
    m_waits.cancelAll();
    --m_census->alive;
}

QCoro::Task<QString> ScriptedRefinementProvider::refine(RefinementRequest request) {
    m_requests->append(request);
    if (m_script.neverAnswers) co_await sleepFor(std::chrono::hours(1), &m_waits);
    if (m_script.delay.count() > 0) co_await sleepFor(m_script.delay, &m_waits);
    if (m_script.fail) m_script.fail();
    co_return *m_script.result;
}

void ScriptedRefinementProvider::cancel() {
    ++cancels;
    m_waits.cancelAll();
}

DictationProviders ScriptedProviderFactory::makeProviders() {
    if (failMake) failMake();
    DictationProviders providers;
    auto transcriptionProvider = std::make_unique<ScriptedTranscriptionProvider>(transcription, &census);
    sessions.append(transcriptionProvider->record);
    providers.transcription = std::move(transcriptionProvider);
    providers.refinement =
        std::make_unique<ScriptedRefinementProvider>(refinement, &census, refinementRequests);
    return providers;
}

} // namespace murmelo

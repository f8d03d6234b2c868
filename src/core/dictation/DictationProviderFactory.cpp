#include "dictation/DictationProviderFactory.h"

#include "dictation/DictationCoordinatorError.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/MockTextRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "settings/AppSettings.h"
#include "transcription/MockSpeechTranscriptionProvider.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

namespace murmelo {

SettingsProviderFactory::SettingsProviderFactory(AppSettings& settings, KeychainStore keychain,
                                                 QNetworkAccessManager* session,
                                                 const ProviderConfiguration& endpoints, MockDelays mockDelays)
    : m_settings(settings)
    , m_keychain(std::move(keychain))
    , m_session(session)
    , m_endpoints(endpoints)
    , m_mockDelays(mockDelays) {}

DictationProviders SettingsProviderFactory::makeProviders() {
    DictationProviders providers;
    if (m_settings.useMockProviders()) {
        providers.transcription = std::make_unique<MockSpeechTranscriptionProvider>(m_mockDelays.transcription);
        providers.refinement = std::make_unique<MockTextRefinementProvider>(m_mockDelays.refinement);
        return providers;
    }
    const auto openAIKey = m_keychain.resolved(CredentialKind::openAI);
    if (!openAIKey) throw DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey);
    if (m_settings.refinementProvider() == RefinementProviderKind::openAI) {
        providers.refinement = std::make_unique<OpenAITextRefinementProvider>(
            *openAIKey, m_settings.openAIRefinementModel(), m_endpoints.openAIResponsesURL(), m_session);
    } else {
        const auto deepSeekKey = m_keychain.resolved(CredentialKind::deepSeek);
        if (!deepSeekKey) throw DictationCoordinatorError(DictationCoordinatorError::Case::missingDeepSeekKey);
        providers.refinement = std::make_unique<DeepSeekRefinementProvider>(
            *deepSeekKey, m_settings.deepSeekModel(), m_endpoints.deepSeekChatURL(), m_session);
    }
    // Built last, once both keys are known to exist.
    providers.transcription = std::make_unique<OpenAIRealtimeTranscriptionProvider>(
        *openAIKey, m_settings.openAIModel(), m_endpoints.openAIRealtimeURL());
    return providers;
}

} // namespace murmelo

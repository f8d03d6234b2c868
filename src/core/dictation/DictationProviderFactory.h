#pragma once

#include "refinement/ProviderConfiguration.h"
#include "refinement/TextRefinementProvider.h"
#include "stores/KeychainStore.h"
#include "transcription/SpeechTranscriptionProvider.h"

#include <chrono>
#include <memory>

class QNetworkAccessManager;

namespace murmelo {

class AppSettings;

// The two providers of one dictation.
struct DictationProviders {
    std::unique_ptr<SpeechTranscriptionProvider> transcription;
    std::unique_ptr<TextRefinementProvider> refinement;
};

// Builds fresh providers for each dictation, so settings and key changes apply to the next one.
class DictationProviderFactory {
public:
    virtual ~DictationProviderFactory() = default;
    // Throws DictationCoordinatorError when a needed key is missing.
    virtual DictationProviders makeProviders() = 0;
};

// How long the offline providers pretend to work.
struct MockProviderDelays {
    std::chrono::milliseconds transcription{250};
    std::chrono::milliseconds refinement{300};
};

// The product's choice: the mocks in mock mode, otherwise realtime transcription (which always needs
// the OpenAI key, checked first) and the refinement service chosen in the settings.
class SettingsProviderFactory final : public DictationProviderFactory {
public:
    using MockDelays = MockProviderDelays;

    SettingsProviderFactory(AppSettings& settings, KeychainStore keychain, QNetworkAccessManager* session,
                            const ProviderConfiguration& endpoints = ProviderConfiguration::current(),
                            MockDelays mockDelays = {});

    DictationProviders makeProviders() override;

private:
    AppSettings& m_settings;
    KeychainStore m_keychain;
    QNetworkAccessManager* m_session;
    const ProviderConfiguration& m_endpoints;
    MockDelays m_mockDelays;
};

} // namespace murmelo

#pragma once

// The product's dictation objects on the real providers, pointed at loopback services: settings and
// stores under `root`, keys from a fake keyring, the clipboard and keyboard fakes, and whichever
// microphone the caller brings (the capture fake, or the real capture on a private audio server).
// Needs tests/fakes on the include path.
#include "PasteboardFake.h"
#include "SecretBackendFake.h"
#include "SyntheticKeyboardFake.h"
#include "audio/AudioCapturing.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "dictation/DictationProviderFactory.h"
#include "refinement/ProviderConfiguration.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "stores/KeychainStore.h"
#include "system/TextInsertionService.h"

#include <QNetworkAccessManager>

#include <chrono>
#include <memory>

namespace murmelo::test {

struct PipelineRig {
    // `secrets` holds the keys already; saving through `keychain` later works too. The default
    // timing gives loopback services ample time; tests of time-outs pass shorter limits.
    PipelineRig(const QString& root, const QString& baseUrl, AudioCapturing& microphone,
                std::shared_ptr<SecretBackendFake> secrets,
                DictationTiming timing = {std::chrono::seconds(10), std::chrono::seconds(10),
                                          std::chrono::milliseconds(50), std::chrono::seconds(5)})
        // Both services' base URLs (the only variables read) point at the loopback services.
        : endpoints([baseUrl](const char*) { return baseUrl; },
                    [](const QString& line) { qWarning("%s", qPrintable(line)); })
        , defaults(root + QStringLiteral("/settings.json"))
        , settings(defaults)
        , secrets(std::move(secrets))
        , keychain(this->secrets)
        , providers(settings, keychain, &network, endpoints)
        , dictionary(root + QStringLiteral("/dictionary.json"))
        // In a folder of its own, so a test can put a file in its way.
        , history(root + QStringLiteral("/history/history.json"))
        , coordinator(state, settings, dictionary, history, providers, microphone, insertion, pasteboard,
                      timing) {
        settings.setUseMockProviders(false);
        settings.setSaveHistory(true);
        settings.setRefinementProvider(RefinementProviderKind::openAI);
    }

    ProviderConfiguration endpoints;
    UserDefaults defaults;
    AppSettings settings;
    std::shared_ptr<SecretBackendFake> secrets;
    KeychainStore keychain;
    QNetworkAccessManager network;
    SettingsProviderFactory providers;
    DictionaryStore dictionary;
    HistoryStore history;
    AppState state;
    PasteboardFake pasteboard;
    SyntheticKeyboardFake keyboard;
    // No waiting for the hotkey's modifiers or for the target to fetch the clipboard.
    TextInsertionService insertion{pasteboard, keyboard, {.modifierRelease = {}, .settle = {}}};
    DictationCoordinator coordinator;
};

} // namespace murmelo::test

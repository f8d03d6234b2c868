#pragma once

#include "HistoryView.h"
#include "LoginItemBackendFake.h"
#include "PasteboardFake.h"
#include "SecretBackendFake.h"
#include "SettingsView.h"
#include "TestEnvironment.h"
#include "common/Completion.h"
#include "credentials/CredentialSettingsModel.h"
#include "refinement/ProviderConfiguration.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "stores/HistoryViewModel.h"
#include "system/LaunchAtLoginService.h"
#include "system/SystemReadiness.h"

#include <QNetworkAccessManager>
#include <QTabWidget>
#include <QTest>

namespace murmelo::test {

// A settings window over real models and stores in a private folder, with fakes for the keyring,
// the login item and the clipboard, and environment checks that answer what the fields say. No API key
// is in the environment, and the services' address is a closed port: nothing leaves the machine.
struct SettingsFixture {
    TestEnvironment environment;
    const QString settingsPath = environment.root() + QStringLiteral("/settings.json");
    UserDefaults defaults{settingsPath};
    AppSettings settings{defaults};
    std::shared_ptr<SecretBackendFake> keyring = std::make_shared<SecretBackendFake>();
    QNetworkAccessManager network;
    std::unique_ptr<CredentialSettingsModel> credentials;
    DictionaryStore dictionary{environment.dataHome() + QStringLiteral("/Murmelo/dictionary.json")};
    HistoryStore historyStore{environment.dataHome() + QStringLiteral("/Murmelo/history.json")};
    HistoryViewModel history{historyStore};
    PasteboardFake pasteboard;
    LoginItemBackendFake loginItem;
    LaunchAtLoginService launchAtLogin{loginItem};
    QList<AudioInputDevice> devices;
    PasteAvailability paste = PasteAvailability::xtest;
    HotkeyFacts hotkey = [] {
        HotkeyFacts registered;
        registered.registered = true;
        return registered;
    }();
    SystemReadiness readiness{ReadinessProbes{
        .inputDevices = [this]() { return answer(devices); },
        .selectedMicrophoneUid = [this] { return settings.selectedMicrophoneUID(); },
        .paste = [this] { return paste; },
        .hotkey = [this] { return hotkey; },
        .keyring = [this] { return keyring->serviceStatus(); },
    }};
    std::unique_ptr<SettingsView> view;

    SettingsFixture() {
        environment.unset("OPENAI_API_KEY");
        environment.unset("DEEPSEEK_API_KEY");
        const ProviderConfiguration configuration(
            [](const char*) { return QStringLiteral("http://127.0.0.1:1"); }, [](const QString&) {});
        credentials =
            std::make_unique<CredentialSettingsModel>(KeychainStore(keyring), &network, configuration);
        view = std::make_unique<SettingsView>(settings, *credentials, dictionary, history, pasteboard,
                                              launchAtLogin, readiness);
    }
    // Answers on the next turn of the event loop, as a real audio server would.
    static QCoro::Task<QList<AudioInputDevice>> answer(QList<AudioInputDevice> devices) {
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return devices;
    }
    template <typename T> T* find(const char* name) const {
        T* widget = view->findChild<T*>(QLatin1String(name));
        if (!widget) qFatal("no widget named %s", name);
        return widget;
    }
    // Visible as far as the window is concerned (the window itself need not be shown).
    bool shown(const char* name) const { return find<QWidget>(name)->isVisibleTo(view.get()); }
    void openTab(int index) { view->tabs()->setCurrentIndex(index); }
};

} // namespace murmelo::test

#pragma once

#include "audio/AudioInputDevice.h"
#include "settings/UserDefaults.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace murmelo {

class AudioInputBackend;

// What the self-check runs against. The defaults are the product's; tests replace them.
struct SmokeTestOptions {
    // The device catalog of check 7.
    std::function<QCoro::Task<QList<AudioInputDevice>>()> inputDevices;
    // Opens a named defaults domain; nothing when it cannot be opened.
    std::function<std::unique_ptr<UserDefaults>(const QString& name)> openDefaultsDomain =
        &UserDefaults::named;
    // Where the scratch folder goes; empty: the system's temporary folder.
    QString temporaryDirectory;
    // The resource bundle with the prompts; empty: the process's own bundle.
    QString bundleDirectory;
    std::chrono::milliseconds mockTranscriptionDelay{250};
    std::chrono::milliseconds mockRefinementDelay{300};
    // Told the name of each check as it passes (a tool shows progress with it).
    std::function<void(const QString& name)> onCheckPassed;
};

// A self-check of the core that needs no network, no microphone and no user data: ten checks in a
// fixed order, each on throw-away storage (a scratch folder and a defaults domain named by fresh
// UUIDs, both removed at the end, also after a failure).
namespace MurmeloSmokeTestSuite {

// The names of the ten checks, in the order they run.
QStringList checkNames();
inline constexpr const char* defaultsDomainPrefix = "MurmeloSmokeTests.";

// The names of the checks that passed, all ten in order; or the first failure: SmokeTestError with
// the check's message, or the error of the component under test, unchanged. Main thread.
QCoro::Task<QStringList> run(SmokeTestOptions options);
// The same, reading the device catalog of `audio`, which must outlive the run.
QCoro::Task<QStringList> run(AudioInputBackend& audio, SmokeTestOptions options = {});

} // namespace MurmeloSmokeTestSuite

} // namespace murmelo

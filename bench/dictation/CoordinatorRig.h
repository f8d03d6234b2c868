#pragma once

// A coordinator on stand-ins for the benchmark programs: temporary stores, the capture, clipboard
// and keyboard fakes, an insertion that does not wait, no success hold; the providers are the
// program's own.
#include "AudioCapturingFake.h"
#include "PasteboardFake.h"
#include "SyntheticKeyboardFake.h"
#include "dictation/AppState.h"
#include "dictation/DictationCoordinator.h"
#include "settings/AppSettings.h"
#include "settings/UserDefaults.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "system/TextInsertionService.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <optional>

namespace murmelo::bench {

// Providers that answer at once; the refinement appends a full stop.
class InstantRefinement final : public TextRefinementProvider {
public:
    QCoro::Task<QString> refine(RefinementRequest request) override {
        co_return request.text + QStringLiteral("。");
    }
    void cancel() override {}
};

template <typename Providers> struct CoordinatorRig {
    QTemporaryDir folder;
    UserDefaults defaults{folder.path() + "/settings.json"};
    AppSettings settings{defaults};
    AppState state;
    DictionaryStore dictionary{folder.path() + "/dictionary.json"};
    HistoryStore history{folder.path() + "/history.json"};
    Providers providers;
    AudioCapturingFake microphone;
    PasteboardFake pasteboard;
    SyntheticKeyboardFake keyboard;
    TextInsertionService insertion{pasteboard, keyboard,
                                   TextInsertionService::Timing{std::chrono::milliseconds(0),
                                                                std::chrono::milliseconds(1),
                                                                std::chrono::milliseconds(0)}};
    DictationCoordinator coordinator{state,
                                     settings,
                                     dictionary,
                                     history,
                                     providers,
                                     microphone,
                                     insertion,
                                     pasteboard,
                                     DictationTiming{std::chrono::seconds(35), std::chrono::seconds(20),
                                                     std::chrono::milliseconds(0), std::chrono::seconds(5)}};

    // Runs the event loop until the phase is `kind`, at most 5 s; the instant it got there.
    std::optional<std::chrono::steady_clock::time_point> waitForPhase(DictationPhase::Kind kind) {
        if (state.phase().is(kind)) return std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> reached;
        QEventLoop loop;
        const auto connection =
            QObject::connect(&state, &AppState::phaseChanged, &loop, [&](const DictationPhase& phase) {
                if (!phase.is(kind)) return;
                reached = std::chrono::steady_clock::now();
                loop.quit();
            });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(connection);
        return reached;
    }
    // Lets queued work (the sender taking chunks, the reset after success) run.
    void settle() {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

} // namespace murmelo::bench

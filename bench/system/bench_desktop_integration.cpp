// Desktop integration timings under a private Xvfb + openbox display:
//   key press -> hotkey action running, through xdotool and posted directly with XTest, each
//   against the baseline of the same kind of key press reaching a focused window of ours;
//   paste posted -> the target window's text changing, against the baseline of a plain key
//   press posted to the same target.
// Each benchmark reports the median (ms) as a counter; ratios compare with the baselines.
// The paste's median is from posting Ctrl+V to the change; median_call_to_change_ms starts at
// the insert() call (the 120 ms settle wait follows the change, so it is not part of either).
// The same runs measure the longest stall of the UI event loop during each insert() (max and
// median over the runs) beside the whole call's median, the settle wait included.
#include "StallMeter.h"
#include "TestDisplay.h"
#include "qt/PasteboardQt.h"
#include "system/GlobalHotkeyService.h"
#include "system/TextInsertionService.h"
#include "x11/HotkeyBackendX11.h"
#include "x11/SyntheticKeyboardX11.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QRasterWindow>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

test::TestDisplay* display = nullptr;
std::map<std::string, double> medians; // ms, by name, for the ratios

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void report(benchmark::State& state, const std::string& name, const std::vector<double>& samples,
            const std::string& baseline = {}) {
    const double value = median(samples);
    medians[name] = value;
    state.counters["median_ms"] = value;
    if (!baseline.empty() && medians.count(baseline) && medians[baseline] > 0)
        state.counters["ratio_to_baseline"] = value / medians[baseline];
}

// A second X client posting key events with XTest, as xdotool does, without the process start.
class KeyPoster {
public:
    KeyPoster()
        : m_connection(xcb_connect(display->name().toLocal8Bit().constData(), nullptr))
        , m_symbols(xcb_key_symbols_alloc(m_connection)) {}
    ~KeyPoster() {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }
    // Presses the keys in order, then releases them in reverse.
    void chord(std::initializer_list<xcb_keysym_t> keysyms) {
        std::vector<xcb_keycode_t> codes;
        for (const auto keysym : keysyms) {
            xcb_keycode_t* found = xcb_key_symbols_get_keycode(m_symbols, keysym);
            codes.push_back(found ? found[0] : 0);
            std::free(found);
        }
        for (const auto code : codes)
            xcb_test_fake_input(m_connection, XCB_KEY_PRESS, code, 0, XCB_NONE, 0, 0, 0);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it)
            xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, *it, 0, XCB_NONE, 0, 0, 0);
        xcb_flush(m_connection);
    }

private:
    xcb_connection_t* m_connection;
    xcb_key_symbols_t* m_symbols;
};

class KeyWindow final : public QRasterWindow {
public:
    qint64 lastPressNs = -1;

protected:
    void keyPressEvent(QKeyEvent*) override { lastPressNs = test::monotonicNs(); }
};

// Records when the paste was posted.
class TimedKeyboard final : public SyntheticKeyboard {
public:
    SyntheticKeyboardX11 real;
    qint64 postedNs = -1;
    bool isAvailable() const override { return real.isAvailable(); }
    bool isModifierHeld() const override { return real.isModifierHeld(); }
    QCoro::Task<QStringList> focusedWindowClasses() override { co_return real.focusedWindowClassesNow(); }
    QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) override {
        postedNs = test::monotonicNs();
        co_return real.postPasteShortcutNow(shortcut);
    }
};

void keyToWindow(benchmark::State& state, bool throughXdotool) {
    KeyWindow window;
    window.resize(200, 100);
    window.show();
    display->run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                             QString::number(window.winId())});
    if (!spinUntil([&] { return window.isActive(); }))
        return state.SkipWithError("window never became active");
    KeyPoster poster;
    std::vector<double> samples;
    for (auto _ : state) {
        window.lastPressNs = -1;
        const qint64 start = test::monotonicNs();
        QProcess xdotool;
        if (throughXdotool) {
            xdotool.setProcessEnvironment(display->environment());
            xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("a")});
        } else {
            poster.chord({XK_a});
        }
        if (!spinUntil([&] { return window.lastPressNs > 0; })) return state.SkipWithError("key press lost");
        const double ms = double(window.lastPressNs - start) / 1e6;
        samples.push_back(ms);
        state.SetIterationTime(ms / 1000);
        if (throughXdotool) xdotool.waitForFinished(5000);
    }
    report(state, throughXdotool ? "key-xdotool" : "key-xtest", samples);
}

void BM_Baseline_KeyPressToFocusedWindow_XTest(benchmark::State& state) {
    keyToWindow(state, false);
}
void BM_Baseline_KeyPressToFocusedWindow_Xdotool(benchmark::State& state) {
    keyToWindow(state, true);
}

void hotkeyLatency(benchmark::State& state, bool throughXdotool, bool xdotoolDelay = true) {
    HotkeyBackendX11 backend;
    GlobalHotkeyService service(backend);
    qint64 ranNs = -1;
    service.registerHotkey(HotkeyPreset::controlOptionSpace, [&] { ranNs = test::monotonicNs(); });
    KeyPoster poster;
    std::vector<double> samples;
    for (auto _ : state) {
        // Presses a person makes are milliseconds apart; a press in the same millisecond as the
        // previous release would be taken for key auto-repeat.
        state.PauseTiming();
        QThread::msleep(20);
        state.ResumeTiming();
        ranNs = -1;
        const qint64 start = test::monotonicNs();
        QProcess xdotool;
        if (throughXdotool) {
            xdotool.setProcessEnvironment(display->environment());
            // xdotool waits 12 ms between the keys of a chord unless told otherwise.
            QStringList arguments{QStringLiteral("key")};
            if (!xdotoolDelay) arguments << QStringLiteral("--delay") << QStringLiteral("0");
            xdotool.start(QStringLiteral("xdotool"), arguments << QStringLiteral("ctrl+alt+space"));
        } else {
            poster.chord({XK_Control_L, XK_Alt_L, XK_space});
        }
        if (!spinUntil([&] { return ranNs > 0; })) return state.SkipWithError("hotkey action did not run");
        const double ms = double(ranNs - start) / 1e6;
        samples.push_back(ms);
        state.SetIterationTime(ms / 1000);
        if (throughXdotool) xdotool.waitForFinished(5000);
    }
    report(state, throughXdotool ? "hotkey-xdotool" : "hotkey-xtest", samples,
           throughXdotool ? "key-xdotool" : "key-xtest");
}

void BM_HotkeyPressToAction_XTest(benchmark::State& state) {
    hotkeyLatency(state, false);
}
void BM_HotkeyPressToAction_Xdotool(benchmark::State& state) {
    hotkeyLatency(state, true);
}
void BM_HotkeyPressToAction_XdotoolNoDelay(benchmark::State& state) {
    hotkeyLatency(state, true, false);
}

void BM_Baseline_KeyPressToTargetChange(benchmark::State& state) {
    test::PasteTarget target(*display);
    if (!target.start()) return state.SkipWithError("paste target did not start");
    KeyPoster poster;
    std::vector<double> samples;
    for (auto _ : state) {
        const int before = target.changes();
        const qint64 start = test::monotonicNs();
        poster.chord({XK_a});
        if (!spinUntil([&] { return target.changes() > before; })) return state.SkipWithError("no change");
        const double ms = double(target.lastChangeNs() - start) / 1e6;
        samples.push_back(ms);
        state.SetIterationTime(ms / 1000);
    }
    report(state, "typed", samples);
}

void BM_InsertPostedToTargetChange(benchmark::State& state) {
    test::PasteTarget target(*display);
    if (!target.start()) return state.SkipWithError("paste target did not start");
    PasteboardQt pasteboard;
    TimedKeyboard keyboard;
    TextInsertionService service(pasteboard, keyboard);
    std::vector<double> afterPost;
    std::vector<double> wholeCall;
    std::vector<double> stalls;
    std::vector<double> insertions;
    StallMeter meter;
    int round = 0;
    for (auto _ : state) {
        const int before = target.changes();
        const qint64 start = test::monotonicNs();
        meter.start();
        auto task = service.insert(QStringLiteral("第%1次 🎙\n").arg(++round));
        bool finished = false;
        auto driver = [](QCoro::Task<TextInsertionResult> task, bool* finished) -> QCoro::Task<> {
            co_await std::move(task);
            *finished = true;
        }(std::move(task), &finished);
        if (!spinUntil([&] { return finished && target.changes() > before; }))
            return state.SkipWithError("paste did not arrive");
        stalls.push_back(meter.stopMs());
        insertions.push_back(double(test::monotonicNs() - start) / 1e6);
        const qint64 changed = target.lastChangeNs();
        afterPost.push_back(double(changed - keyboard.postedNs) / 1e6);
        wholeCall.push_back(double(changed - start) / 1e6);
        state.SetIterationTime(afterPost.back() / 1000);
    }
    report(state, "paste", afterPost, "typed");
    state.counters["median_call_to_change_ms"] = median(wholeCall);
    state.counters["max_stall_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["median_stall_ms"] = median(stalls);
    state.counters["median_insert_ms"] = median(insertions);
}

} // namespace

BENCHMARK(BM_Baseline_KeyPressToFocusedWindow_XTest)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_KeyPressToFocusedWindow_Xdotool)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotkeyPressToAction_XTest)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotkeyPressToAction_Xdotool)->UseManualTime()->Iterations(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotkeyPressToAction_XdotoolNoDelay)
    ->UseManualTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_KeyPressToTargetChange)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InsertPostedToTargetChange)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    test::TestDisplay testDisplay;
    if (!testDisplay.start()) {
        std::fprintf(stderr, "test display: %s\n", qPrintable(testDisplay.errorString()));
        return 1;
    }
    testDisplay.exportToThisProcess();
    display = &testDisplay;
    int status = 0;
    {
        QGuiApplication application(argc, argv);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    testDisplay.stop();
    return status;
}

// A dictation's insertion on a private headless sway with the back ends Murmelo picks there
// (wl-copy, wtype, the compositor asked for the activated window): the longest stall of the UI
// event loop during each TextInsertionService::insert, beside the insertion's own duration (the
// settle wait included), and the same measure over an idle loop. Every insertion must arrive in the focused
// paste target window.
//
//   bench_wayland_insertion [INSERTIONS]   (default 10)
#include "HeadlessSway.h"
#include "StallMeter.h"
#include "TestDisplay.h"
#include "system/TextInsertionService.h"
#include "wayland/PasteboardWlClipboard.h"
#include "wayland/SyntheticKeyboardWtype.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

QCoro::Task<> insertInto(TextInsertionService& service, QString text, TextInsertionResult* result,
                         bool* done) {
    *result = co_await service.insert(std::move(text));
    *done = true;
}

int fail(const char* what) {
    std::fprintf(stderr, "bench_wayland_insertion: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const int insertions = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    test::TestEnvironment environment;
    test::ChildProcesses children;
    if (!test::startHeadlessSway(environment, children)) return fail("sway did not come up");
    // This process needs no display of its own; the target window is a Wayland client.
    QCoreApplication application(argc, argv);
    environment.set("QT_QPA_PLATFORM", "wayland");
    const QString text = environment.root() + "/target";
    if (!children.startAndWait(
            QProcessEnvironment::systemEnvironment(), environment.root(), test::PasteTarget::programPath(),
            {"--app-id", "murmelo-paste-target", text, text + ".changes"},
            [&] { return QFile::exists(text + ".ready"); }, 15s))
        return fail("the paste target did not open");

    const auto pasteboard = PasteboardWlClipboard::createIfSupported();
    const auto keyboard = SyntheticKeyboardWtype::createIfSupported();
    if (!pasteboard || !keyboard) return fail("sway offers no data-control or virtual-keyboard");
    TextInsertionService service(*pasteboard, *keyboard);
    StallMeter meter;
    std::vector<double> stalls, durations;
    QString expected;
    for (int round = 1; round <= insertions; ++round) {
        const QString piece = QStringLiteral("第%1次 🎙 ").arg(round);
        expected += piece;
        TextInsertionResult result = TextInsertionResult::notCopied;
        bool done = false;
        QElapsedTimer clock;
        clock.start();
        meter.start();
        auto driver = insertInto(service, piece, &result, &done);
        if (!spinUntil([&] { return done; }, 10s)) return fail("an insertion never ended");
        stalls.push_back(meter.stopMs());
        durations.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (result != TextInsertionResult::inserted) return fail("an insertion was not pasted");
        if (!spinUntil([&] { return QString::fromUtf8(test::readAll(text)) == expected; }, 10s))
            return fail("a paste did not arrive whole");
    }
    // The same meter over an idle loop for as long as an insertion lasts: what the machine's load
    // costs the loop anyway.
    std::vector<double> idle;
    for (int round = 1; round <= insertions; ++round) {
        meter.start();
        const auto quiet = std::chrono::milliseconds(qint64(percentile(durations, 0.5)));
        spinUntil([] { return false; }, quiet);
        idle.push_back(meter.stopMs());
    }
    std::printf("event-loop stall during insertion on sway over %d insertions: max %.1f ms, median %.1f ms; "
                "insertion: median %.1f ms, max %.1f ms; idle loop: max %.1f ms, median %.1f ms\n",
                insertions, *std::max_element(stalls.begin(), stalls.end()), percentile(stalls, 0.5),
                percentile(durations, 0.5), *std::max_element(durations.begin(), durations.end()),
                *std::max_element(idle.begin(), idle.end()), percentile(idle, 0.5));
    return 0;
}

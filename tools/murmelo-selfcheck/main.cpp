// Checks an installation: prints the name of each self-check as it passes, then one summary line.
// Exit status 0 when all pass; 1 with the failing check's message on standard error otherwise.
#include "common/Error.h"
#include "evaluation/MurmeloSmokeTestSuite.h"
#include "pulse/AudioInputBackendPulse.h"
#include "refinement/PromptLibrary.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

void printLine(std::FILE* stream, const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stream);
    std::fflush(stream);
}

// A plain function, so its parameters live in the coroutine's frame.
QCoro::Task<> selfCheck(murmelo::AudioInputBackend* audio, QCoreApplication* application) {
    murmelo::SmokeTestOptions options;
    options.onCheckPassed = [](const QString& name) { printLine(stdout, name); };
    // The bundle the application would use. Without one, the prompt check reports the missing
    // resource and the tool exits with status 1, instead of the application's stop on a missing bundle.
    const QStringList candidates = murmelo::ResourceBundle::candidates();
    options.bundleDirectory = murmelo::ResourceBundle::firstExisting(candidates).value_or(candidates.first());
    printLine(stdout, QStringLiteral("提示词资源：") + options.bundleDirectory);
    int status = 1;
    try {
        const QStringList passed = co_await murmelo::MurmeloSmokeTestSuite::run(*audio, options);
        printLine(stdout, QStringLiteral("全部 %1 项自检通过。").arg(passed.size()));
        status = 0;
    } catch (const murmelo::Error& error) {
        printLine(stderr, QStringLiteral("自检失败：") + error.description());
    } catch (const std::exception& error) {
        printLine(stderr, QStringLiteral("自检失败：") + QString::fromUtf8(error.what()));
    }
    application->exit(status);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (application.arguments().size() > 1) {
        printLine(stderr, QStringLiteral("用法：murmelo-selfcheck（不带参数）"));
        return 2;
    }
    murmelo::AudioInputBackendPulse audio;
    // Started from the event loop, so that exit() always finds it running.
    QTimer::singleShot(0, &application, [&audio, &application] { selfCheck(&audio, &application); });
    return application.exec();
}

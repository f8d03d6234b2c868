// KeychainStore::resolved against GNOME Keyring on a private bus, with a bare libsecret lookup of
// the same item as the baseline measured in the same run: "ratio" = resolved time / baseline time.
#include "KeyringSession.h"
#include "secret/SecretBackendLibsecret.h"
#include "stores/KeychainStore.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

using namespace murmelo;

namespace {

using Clock = std::chrono::steady_clock;

const SecretSchema* schema() {
    static const SecretSchema value = {"com.murmelo.credentials",
                                       SECRET_SCHEMA_NONE,
                                       {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                       0,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};
    return &value;
}

double bareLookupSeconds() {
    const auto start = Clock::now();
    gchar* secret =
        secret_password_lookup_sync(schema(), nullptr, nullptr, "service", "com.murmelo.credentials",
                                    "account", "openai-api-key", nullptr);
    benchmark::DoNotOptimize(secret);
    secret_password_free(secret);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One keyring for the whole run: GLib keeps its first session bus for the life of the process.
test::KeyringSession* session = nullptr;

void KeyringResolved(benchmark::State& state, bool stored) {
    if (!session->isReady()) {
        state.SkipWithError(qPrintable(session->errorString()));
        return;
    }
    session->environment().set("OPENAI_API_KEY", "sk-from-environment");
    const KeychainStore store(std::make_shared<SecretBackendLibsecret>());
    if (stored)
        store.save(QStringLiteral("sk-proj-benchmark-key-0123456789"), CredentialKind::openAI);
    else
        store.remove(CredentialKind::openAI);
    // Warm the bus connection and the service proxy, which the application keeps too.
    benchmark::DoNotOptimize(store.resolved(CredentialKind::openAI));

    std::vector<double> baseline;
    for (int i = 0; i < 51; ++i)
        baseline.push_back(bareLookupSeconds());
    std::nth_element(baseline.begin(), baseline.begin() + 25, baseline.end());

    double total = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto key = store.resolved(CredentialKind::openAI);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (!key) state.SkipWithError("no key resolved");
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["baseline_ms"] = baseline[25] * 1000;
    state.counters["ratio"] = total / double(state.iterations()) / baseline[25];
}

} // namespace

BENCHMARK_CAPTURE(KeyringResolved, storedKey, true)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(KeyringResolved, environmentFallback, false)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    test::KeyringSession keyring(test::KeyringSession::Service::gnomeKeyring);
    session = &keyring;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

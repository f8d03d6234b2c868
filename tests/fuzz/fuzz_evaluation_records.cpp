// Evaluation records from a file: decoded, then summarised, as murmelo-eval does.
#include "common/Error.h"
#include "evaluation/EvaluationCalculator.h"

#include <QByteArray>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto records = murmelo::decodeEvaluationRecords(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
        (void)murmelo::EvaluationCalculator::summarize(records).toJson();
    } catch (const murmelo::Error&) {
        // Rejected input is the expected outcome for most of what the fuzzer makes.
    }
    return 0;
}

// A refinement answer body, read by both providers' parsers (Responses and chat completions).
#include "common/Error.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const auto parse : {&murmelo::OpenAITextRefinementProvider::parseResponse,
                             &murmelo::DeepSeekRefinementProvider::parseResponse}) {
        try {
            // A successful parse always gives usable text.
            if (parse(body).trimmed().isEmpty()) std::abort();
        } catch (const murmelo::Error&) {
        }
    }
    return 0;
}

// One frame from the realtime transcription service, read as the provider reads it.
#include "common/Error.h"
#include "transcription/OpenAIRealtimeTranscriptionProvider.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using Provider = murmelo::OpenAIRealtimeTranscriptionProvider;
    try {
        const auto event = Provider::parseServerEvent(
            QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
        // A completed transcript is never blank: blank ones are reported as empty.
        if (event.kind == Provider::ServerEvent::Kind::completed && event.text.trimmed().isEmpty())
            std::abort();
        if (event.kind == Provider::ServerEvent::Kind::delta && event.text.isEmpty()) std::abort();
    } catch (const murmelo::Error&) {
    }
    return 0;
}

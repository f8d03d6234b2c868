#include "transcription/TranscriptionTypes.h"

namespace murmelo {

TranscriptionContext TranscriptionContext::standard() {
    return {QStringLiteral("A personal dictation in Mandarin Chinese with occasional English terms."),
            {},
            {QStringLiteral("zh-cn"), QStringLiteral("en")}};
}

} // namespace murmelo

#pragma once

#include "refinement/RefinementTypes.h"

#include <QCoroTask>

namespace murmelo {

// A language model that turns a raw transcript into finished text. Errors are
// RefinementProviderError, PromptLibraryError, NetworkError, JsonParseError or CancellationError.
class TextRefinementProvider {
public:
    virtual ~TextRefinementProvider() = default;
    // The refined text, trimmed and never empty.
    virtual QCoro::Task<QString> refine(RefinementRequest request) = 0;
    // Aborts a running refine(), which then fails with CancellationError. Coroutines cannot be
    // cancelled from outside, so time limits need this to stop the request itself.
    virtual void cancel() = 0;
};

} // namespace murmelo

#pragma once

#include "common/Completion.h"
#include "refinement/TextRefinementProvider.h"

#include <chrono>

namespace murmelo {

// Offline stand-in that answers with a fixed text for each mode after a short delay.
class MockTextRefinementProvider final : public TextRefinementProvider {
public:
    static QString smartDictationText();
    static QString translationText();

    explicit MockTextRefinementProvider(std::chrono::milliseconds delay = std::chrono::milliseconds(300));
    ~MockTextRefinementProvider() override { m_waits.cancelAll(); }

    QCoro::Task<QString> refine(RefinementRequest request) override;
    void cancel() override { m_waits.cancelAll(); }

private:
    std::chrono::milliseconds m_delay;
    CancelScope m_waits;
};

} // namespace murmelo

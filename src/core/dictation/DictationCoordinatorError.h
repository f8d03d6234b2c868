#pragma once

#include "common/Error.h"

namespace murmelo {

class DictationCoordinatorError final : public Error {
public:
    enum class Case { missingOpenAIKey, missingDeepSeekKey, timedOut };
    explicit DictationCoordinatorError(Case kind)
        : m_case(kind) {}
    Case kind() const { return m_case; }
    QString description() const override;
    bool operator==(const DictationCoordinatorError&) const = default;

private:
    Case m_case;
};

} // namespace murmelo

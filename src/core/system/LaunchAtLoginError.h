#pragma once

#include "common/Error.h"

namespace murmelo {

class LaunchAtLoginError final : public Error {
public:
    enum class Case { requiresApproval };
    explicit LaunchAtLoginError(Case kind = Case::requiresApproval)
        : m_case(kind) {}
    Case kind() const { return m_case; }
    QString description() const override;
    bool operator==(const LaunchAtLoginError&) const = default;

private:
    Case m_case;
};

} // namespace murmelo

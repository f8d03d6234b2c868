#pragma once

#include "common/Error.h"

namespace murmelo {

// A self-check that did not hold; its description is the check's own message, unchanged.
class SmokeTestError final : public Error {
public:
    enum class Case { failed };
    explicit SmokeTestError(QString message)
        : m_message(std::move(message)) {}
    Case kind() const { return Case::failed; }
    QString message() const { return m_message; }
    QString description() const override { return m_message; }
    bool operator==(const SmokeTestError&) const = default;

private:
    QString m_message;
};

} // namespace murmelo

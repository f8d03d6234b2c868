#pragma once

#include "common/Error.h"

namespace murmelo {

class RefinementProviderError final : public Error {
public:
    enum class Case { httpStatus, server, missingAPIKey, invalidResponse, emptyResult };

    static RefinementProviderError httpStatus(int status) {
        return RefinementProviderError(Case::httpStatus, status);
    }
    static RefinementProviderError server(QString message) {
        return RefinementProviderError(Case::server, 0, std::move(message));
    }
    explicit RefinementProviderError(Case kind, int status = 0, QString message = {});

    Case kind() const { return m_case; }
    int status() const { return m_status; }
    QString message() const { return m_message; }
    QString description() const override;
    bool operator==(const RefinementProviderError&) const = default;

private:
    Case m_case;
    int m_status;      // payload of `httpStatus`
    QString m_message; // payload of `server`
};

class PromptLibraryError final : public Error {
public:
    enum class Case { missingResource };
    explicit PromptLibraryError(QString resourceName)
        : m_resourceName(std::move(resourceName)) {}
    Case kind() const { return Case::missingResource; }
    QString resourceName() const { return m_resourceName; }
    QString description() const override;
    bool operator==(const PromptLibraryError&) const = default;

private:
    QString m_resourceName;
};

} // namespace murmelo

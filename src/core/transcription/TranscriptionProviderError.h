#pragma once

#include "common/Error.h"

namespace murmelo {

class TranscriptionProviderError final : public Error {
public:
    enum class Case {
        server,
        missingAPIKey,
        alreadyStarted,
        notStarted,
        invalidServerMessage,
        connectionClosed,
        emptyTranscript
    };
    // `message` is the payload of `server` only.
    explicit TranscriptionProviderError(Case kind, QString message = {});
    Case kind() const { return m_case; }
    QString message() const { return m_message; }
    QString description() const override;
    bool operator==(const TranscriptionProviderError&) const = default;

private:
    Case m_case;
    QString m_message;
};

} // namespace murmelo

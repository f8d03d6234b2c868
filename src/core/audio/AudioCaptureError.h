#pragma once

#include "common/Error.h"

namespace murmelo {

class AudioCaptureError final : public Error {
public:
    enum class Case { engineStartFailed, microphoneDenied, invalidInputFormat, microphoneLost };
    // `message` is the payload of `engineStartFailed` only: the audio server's own words.
    explicit AudioCaptureError(Case kind, QString message = {});
    Case kind() const { return m_case; }
    QString message() const { return m_message; }
    QString description() const override;
    bool operator==(const AudioCaptureError&) const = default;

private:
    Case m_case;
    QString m_message;
};

} // namespace murmelo

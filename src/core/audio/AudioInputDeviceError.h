#pragma once

#include "common/Error.h"

#include <QtGlobal>

namespace murmelo {

class AudioInputDeviceError final : public Error {
public:
    enum class Case { coreAudio, deviceNotFound, audioUnitUnavailable };
    // `status` is the payload of `coreAudio` only: the audio server's error code.
    explicit AudioInputDeviceError(Case kind, qint32 status = 0);
    Case kind() const { return m_case; }
    qint32 status() const { return m_status; }
    QString description() const override;
    bool operator==(const AudioInputDeviceError&) const = default;

private:
    Case m_case;
    qint32 m_status;
};

} // namespace murmelo

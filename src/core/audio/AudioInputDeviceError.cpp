#include "audio/AudioInputDeviceError.h"

namespace murmelo {

AudioInputDeviceError::AudioInputDeviceError(Case kind, qint32 status)
    : m_case(kind)
    , m_status(kind == Case::coreAudio ? status : 0) {}

QString AudioInputDeviceError::description() const {
    switch (m_case) {
    case Case::coreAudio:
        return QStringLiteral("切换麦克风失败（Core Audio ") + QString::number(m_status) +
               QStringLiteral("）。");
    case Case::deviceNotFound:
        return QStringLiteral("找不到所选麦克风，它可能已断开连接。");
    case Case::audioUnitUnavailable:
        return QStringLiteral("当前录音引擎无法切换麦克风。");
    }
    return {};
}

} // namespace murmelo

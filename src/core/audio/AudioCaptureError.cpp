#include "audio/AudioCaptureError.h"

namespace murmelo {

AudioCaptureError::AudioCaptureError(Case kind, QString message)
    : m_case(kind)
    , m_message(kind == Case::engineStartFailed ? std::move(message) : QString()) {}

QString AudioCaptureError::description() const {
    switch (m_case) {
    case Case::engineStartFailed:
        return QStringLiteral("无法启动麦克风：") + m_message;
    case Case::microphoneDenied:
        return QStringLiteral("无法使用麦克风，请在系统的声音设置中检查输入设备。");
    case Case::invalidInputFormat:
        return QStringLiteral("当前麦克风格式不可用。");
    case Case::microphoneLost: // before anything was heard
        return QStringLiteral("麦克风已断开，录音已停止。");
    }
    return {};
}

} // namespace murmelo

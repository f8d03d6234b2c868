#include "transcription/TranscriptionProviderError.h"

namespace murmelo {

TranscriptionProviderError::TranscriptionProviderError(Case kind, QString message)
    : m_case(kind)
    , m_message(kind == Case::server ? std::move(message) : QString()) {}

QString TranscriptionProviderError::description() const {
    switch (m_case) {
    case Case::server:
        return QStringLiteral("语音识别失败：") + m_message;
    case Case::missingAPIKey:
        return QStringLiteral("请先在设置中保存 OpenAI API Key。");
    case Case::alreadyStarted:
        return QStringLiteral("语音识别会话已经开始。");
    case Case::notStarted:
        return QStringLiteral("语音识别会话尚未开始。");
    case Case::invalidServerMessage:
        return QStringLiteral("语音识别服务返回了无法解析的数据。");
    case Case::connectionClosed:
        return QStringLiteral("语音识别连接已断开。");
    case Case::emptyTranscript:
        return QStringLiteral("没有识别到有效语音。");
    }
    return {};
}

} // namespace murmelo

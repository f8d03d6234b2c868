#include "dictation/DictationCoordinatorError.h"

namespace murmelo {

QString DictationCoordinatorError::description() const {
    switch (m_case) {
    case Case::missingOpenAIKey:
        return QStringLiteral("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。");
    case Case::missingDeepSeekKey:
        return QStringLiteral("请先在设置中保存 DeepSeek API Key，或开启 Mock 模式。");
    case Case::timedOut:
        return QStringLiteral("AI 处理超时，原始转写已保留到剪贴板。");
    }
    return {};
}

} // namespace murmelo

#include "refinement/RefinementProviderError.h"

namespace murmelo {

RefinementProviderError::RefinementProviderError(Case kind, int status, QString message)
    : m_case(kind)
    , m_status(kind == Case::httpStatus ? status : 0)
    , m_message(kind == Case::server ? std::move(message) : QString()) {}

QString RefinementProviderError::description() const {
    switch (m_case) {
    case Case::httpStatus:
        return QStringLiteral("文字整理服务请求失败（HTTP ") + QString::number(m_status) +
               QStringLiteral("）。");
    case Case::server:
        return QStringLiteral("文字整理服务错误：") + m_message;
    case Case::missingAPIKey:
        return QStringLiteral("请先在设置中保存文字整理服务所需的 API Key。");
    case Case::invalidResponse:
        return QStringLiteral("文字整理服务返回了无法解析的数据。");
    case Case::emptyResult:
        return QStringLiteral("文字整理服务返回了空结果。");
    }
    return {};
}

QString PromptLibraryError::description() const {
    return QStringLiteral("缺少提示词资源：") + m_resourceName;
}

} // namespace murmelo

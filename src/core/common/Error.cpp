#include "common/Error.h"

namespace murmelo {

const char* Error::what() const noexcept {
    if (m_what.isEmpty()) m_what = description().toUtf8();
    return m_what.constData();
}

QString CancellationError::description() const { return QStringLiteral("操作已取消。"); }

NetworkError::NetworkError(int code, QString detail)
    : m_code(code)
    , m_detail(std::move(detail)) {}

QString NetworkError::description() const {
    switch (m_code) {
    case timedOut:
        return QStringLiteral("请求超时。");
    case cannotFindHost:
        return QStringLiteral("找不到服务器。");
    case cannotConnectToHost:
        return QStringLiteral("无法连接服务器。");
    case networkConnectionLost:
        return QStringLiteral("网络连接已中断。");
    case notConnectedToInternet:
        return QStringLiteral("网络似乎已断开。");
    case secureConnectionFailed:
        return QStringLiteral("无法建立安全连接。");
    default:
        return QStringLiteral("网络请求失败（%1）。").arg(m_code);
    }
}

JsonParseError::JsonParseError(QString detail)
    : m_detail(std::move(detail)) {}

QString JsonParseError::description() const { return QStringLiteral("数据格式无法解析。"); }

FileError::FileError(Case kind, QString path, QString detail)
    : m_case(kind)
    , m_path(std::move(path))
    , m_detail(std::move(detail)) {}

QString FileError::description() const {
    switch (m_case) {
    case Case::read:
        return QStringLiteral("无法读取文件：%1").arg(m_path);
    case Case::write:
        return QStringLiteral("无法写入文件：%1").arg(m_path);
    case Case::createDirectory:
        return QStringLiteral("无法创建文件夹：%1").arg(m_path);
    case Case::remove:
        return QStringLiteral("无法删除：%1").arg(m_path);
    }
    return {};
}

} // namespace murmelo

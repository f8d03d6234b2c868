#include "stores/StoreFile.h"

#include "common/Error.h"
#include "common/JsonFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace murmelo {

StoreFile::StoreFile(QString path)
    : m_path(std::move(path)) {}

std::optional<QJsonArray> StoreFile::readArray() {
    m_unreadable = false;
    std::optional<QByteArray> content;
    try {
        content = files::readFileIfExists(m_path);
    } catch (const FileError&) {
        // A directory, a file we may not read or one too large to be ours: still not ours to replace.
        m_unreadable = true;
        return std::nullopt;
    }
    if (!content) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*content, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        m_unreadable = true;
        return std::nullopt;
    }
    return document.array();
}

bool StoreFile::write(const QJsonArray& array) {
    return write(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

bool StoreFile::write(const QByteArray& content) {
    if (m_unreadable) {
        const QFileInfo info(m_path);
        if ((info.exists() || info.isSymLink()) && !files::moveAsideUnreadable(m_path)) return false;
        m_unreadable = false;
    }
    try {
        files::writePrivateFileAtomically(m_path, content);
        return true;
    } catch (const FileError&) {
        return false;
    }
}

bool StoreFile::remove() {
    const QFileInfo info(m_path);
    if ((info.exists() || info.isSymLink()) && !QFile::remove(m_path)) return false;
    m_unreadable = false;
    return true;
}

} // namespace murmelo

#include "settings/UserDefaults.h"

#include "common/Error.h"
#include "common/JsonFile.h"
#include "common/Paths.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

namespace murmelo {

std::unique_ptr<UserDefaults> UserDefaults::standard() {
    return std::make_unique<UserDefaults>(paths::murmeloConfigDirectory() + QStringLiteral("/settings.json"));
}

std::unique_ptr<UserDefaults> UserDefaults::named(const QString& name) {
    static const QRegularExpression safeName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,199}$"));
    if (!safeName.match(name).hasMatch()) return nullptr;
    return std::make_unique<UserDefaults>(paths::murmeloConfigDirectory() + QStringLiteral("/defaults/") + name +
                                          QStringLiteral(".json"));
}

UserDefaults::UserDefaults(QString filePath)
    : m_filePath(std::move(filePath)) {
    try {
        const auto content = files::readFileIfExists(m_filePath);
        if (!content) return;
        if (auto values = decode(*content))
            m_values = std::move(*values);
        else
            m_readFailed = true;
    } catch (const FileError&) {
        m_readFailed = true;
    }
}

std::optional<QJsonObject> UserDefaults::decode(const QByteArray& content) {
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    return document.object();
}

QJsonValue UserDefaults::value(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_values.value(key);
}

std::optional<QString> UserDefaults::string(const QString& key) const {
    const QJsonValue stored = value(key);
    if (!stored.isString()) return std::nullopt;
    return stored.toString();
}

bool UserDefaults::contains(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

QJsonObject UserDefaults::snapshot() const {
    QMutexLocker lock(&m_mutex);
    return m_values;
}

bool UserDefaults::set(const QString& key, const QJsonValue& value) {
    QMutexLocker lock(&m_mutex);
    m_values.insert(key, value);
    return writeLocked();
}

bool UserDefaults::set(const QJsonObject& values) {
    QMutexLocker lock(&m_mutex);
    for (auto it = values.begin(); it != values.end(); ++it) m_values.insert(it.key(), it.value());
    return writeLocked();
}

bool UserDefaults::remove(const QString& key) {
    QMutexLocker lock(&m_mutex);
    m_values.remove(key);
    return writeLocked();
}

bool UserDefaults::removeDomain() {
    QMutexLocker lock(&m_mutex);
    m_values = {};
    m_readFailed = false;
    return !QFile::exists(m_filePath) || QFile::remove(m_filePath);
}

bool UserDefaults::writeLocked() {
    // A file we could not read still holds the user's settings: keep a copy before replacing it.
    if (m_readFailed) {
        files::moveAsideUnreadable(m_filePath);
        m_readFailed = false;
    }
    try {
        files::writePrivateFileAtomically(m_filePath, QJsonDocument(m_values).toJson(QJsonDocument::Compact));
        return true;
    } catch (const FileError&) {
        return false;
    }
}

} // namespace murmelo

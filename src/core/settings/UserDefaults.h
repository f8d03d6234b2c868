#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

namespace murmelo {

// A persistent key-value domain: one JSON object in one file. Values keep their JSON type, so a
// string is never read as a boolean. Every change is written at once, atomically, mode 0600.
// Thread-safe.
class UserDefaults {
public:
    // The standard domain: $XDG_CONFIG_HOME/Murmelo/settings.json.
    static std::unique_ptr<UserDefaults> standard();
    // A named domain at $XDG_CONFIG_HOME/Murmelo/defaults/<name>.json; nothing for a name that
    // could escape that directory (separators, leading dot, empty, over 200 characters).
    static std::unique_ptr<UserDefaults> named(const QString& name);

    explicit UserDefaults(QString filePath);

    // A domain file's values; nothing when it is not one JSON object.
    static std::optional<QJsonObject> decode(const QByteArray& content);

    QString filePath() const { return m_filePath; }
    // The stored value, or an undefined QJsonValue when the key is absent.
    QJsonValue value(const QString& key) const;
    std::optional<QString> string(const QString& key) const;
    bool contains(const QString& key) const;
    QJsonObject snapshot() const;

    // Each write replaces the file; false when it could not be written (the memory keeps the value).
    bool set(const QString& key, const QJsonValue& value);
    // Several values, one write.
    bool set(const QJsonObject& values);
    bool remove(const QString& key);
    // Forgets every value and deletes the domain's file.
    bool removeDomain();

private:
    bool writeLocked();

    QString m_filePath;
    QJsonObject m_values;
    bool m_readFailed = false;
    mutable QMutex m_mutex;
};

} // namespace murmelo

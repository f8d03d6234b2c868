#pragma once

#include <QJsonArray>
#include <QString>

#include <optional>

namespace murmelo {

// The JSON array file behind a store. It remembers when something at its path could not be loaded,
// so that the first write moves that aside instead of destroying what the user had. All file
// errors end here: callers learn only whether a read gave an array and whether a write succeeded.
class StoreFile {
public:
    explicit StoreFile(QString path);

    const QString& path() const { return m_path; }

    // The file's JSON array; nothing when there is no file, or when it cannot be read or is not a
    // JSON array (remembered as unreadable).
    std::optional<QJsonArray> readArray();
    // The array was read but its elements could not be decoded.
    void markUndecodable() { m_unreadable = true; }
    bool holdsUnreadableFile() const { return m_unreadable; }

    // Writes the array compactly, 0600 in a 0700 directory. An unreadable file is moved aside
    // first; when it cannot be moved nothing is written, so it is never replaced.
    bool write(const QJsonArray& array);
    // As above, for content already encoded as a JSON array.
    bool write(const QByteArray& content);
    // Deletes the file; false when something stays at the path.
    bool remove();

private:
    QString m_path;
    bool m_unreadable = false;
};

} // namespace murmelo

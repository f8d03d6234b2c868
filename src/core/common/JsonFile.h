#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace murmelo::files {

// Creates the directory and any missing parents with mode 0700, and tightens an existing
// directory to 0700. Throws FileError.
void ensurePrivateDirectory(const QString& path);

// Replaces the file atomically with `content`, mode 0600, creating its directory (0700) first.
// Throws FileError; the old file stays untouched when writing fails.
void writePrivateFileAtomically(const QString& path, const QByteArray& content);

// The file's bytes, or nothing when it does not exist. Throws FileError when it exists but
// cannot be read (a directory, no permission) or is larger than `maximumSize`.
std::optional<QByteArray> readFileIfExists(const QString& path, qint64 maximumSize = qint64(256) << 20);

} // namespace murmelo::files

namespace murmelo::files {

// Moves a file that could not be decoded out of the way, to "<name>.unreadable-<UTC yyyyMMdd-HHmmss>"
// in the same directory, so that the next write cannot destroy what the user had. Returns the new
// path, or nothing when there was no file or it could not be moved.
std::optional<QString> moveAsideUnreadable(const QString& path);

} // namespace murmelo::files

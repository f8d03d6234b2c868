#include "common/JsonFile.h"

#include "common/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace murmelo::files {
namespace {

constexpr auto privateDirectoryPermissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr auto privateFilePermissions = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

void ensurePrivateDirectory(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) throw FileError(FileError::Case::createDirectory, path);
    if (!info.exists()) {
        // mkpath would create missing parents with the default mode; only our own directory
        // needs to be private, parents are ordinary XDG directories.
        const QString parent = info.absolutePath();
        if (!QDir().mkpath(parent)) throw FileError(FileError::Case::createDirectory, parent);
        if (!QDir().mkdir(path) && !QFileInfo(path).isDir())
            throw FileError(FileError::Case::createDirectory, path);
    }
    if (!QFile::setPermissions(path, privateDirectoryPermissions))
        throw FileError(FileError::Case::createDirectory, path);
}

void writePrivateFileAtomically(const QString& path, const QByteArray& content) {
    ensurePrivateDirectory(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    // Unbuffered: a short write (full disk) shows in write()'s count; buffered, QSaveFile::commit()
    // ignores it and installs a truncated file.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw FileError(FileError::Case::write, path, file.errorString());
    // Set before any byte is written, so the text is never readable by others, not even briefly.
    if (!file.setPermissions(privateFilePermissions)) {
        file.cancelWriting();
        throw FileError(FileError::Case::write, path, file.errorString());
    }
    if (file.write(content) != content.size()) {
        const QString detail = file.errorString();
        file.cancelWriting();
        throw FileError(FileError::Case::write, path, detail);
    }
    if (!file.commit()) throw FileError(FileError::Case::write, path, file.errorString());
}

std::optional<QByteArray> readFileIfExists(const QString& path, qint64 maximumSize) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return std::nullopt;
    if (info.isDir()) throw FileError(FileError::Case::read, path, QStringLiteral("is a directory"));
    if (info.size() > maximumSize) throw FileError(FileError::Case::read, path, QStringLiteral("too large"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw FileError(FileError::Case::read, path, file.errorString());
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) throw FileError(FileError::Case::read, path, file.errorString());
    return content;
}

} // namespace murmelo::files

#include <QDateTime>

namespace murmelo::files {

std::optional<QString> moveAsideUnreadable(const QString& path) {
    if (!QFileInfo::exists(path)) return std::nullopt;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    // Two failures within one second must not overwrite the first copy.
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target)) return std::nullopt;
    return target;
}

} // namespace murmelo::files

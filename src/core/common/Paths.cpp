#include "common/Paths.h"

#include <QDir>

namespace murmelo::paths {
namespace {

QString xdgDirectory(const char* variable, const QString& fallbackUnderHome) {
    const QString value = qEnvironmentVariable(variable);
    // The XDG rules say relative values are invalid and must be ignored.
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + fallbackUnderHome;
}

} // namespace

QString configHome() { return xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")); }

QString dataHome() { return xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share")); }

QString murmeloDataDirectory() { return dataHome() + QStringLiteral("/Murmelo"); }

QString murmeloConfigDirectory() { return configHome() + QStringLiteral("/Murmelo"); }

} // namespace murmelo::paths

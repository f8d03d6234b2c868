#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace murmelo::desktopentry {

// The escaping rules of XDG desktop entry files, as far as a launcher entry needs them.

// A value of type string: backslash, newline, tab and carriage return escaped.
QString escapeString(const QString& value);
QString unescapeString(const QString& value);

// The Exec key's value for a command line: every argument in double quotes, with ", `, $ and a backslash
// escaped inside them and % doubled, then escaped as a string value. Always quoting keeps one
// rule for every path, including those with spaces, quotes or non-ASCII characters.
QString execValue(const QStringList& arguments);
// The arguments of an Exec value (already string-unescaped); nothing when the quoting is broken.
// Field codes other than %% are kept as they are.
std::optional<QStringList> parseExec(const QString& exec);

// The keys of the [Desktop Entry] group, string-unescaped; comments and other groups are skipped.
QMap<QString, QString> readMainGroup(const QByteArray& content);

} // namespace murmelo::desktopentry

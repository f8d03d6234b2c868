#include "xdg/DesktopEntry.h"

namespace murmelo::desktopentry {

QString escapeString(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeString(const QString& value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default: // not an escape: keep both characters
            out += c;
            out += next;
        }
    }
    return out;
}

QString execValue(const QStringList& arguments) {
    QStringList quoted;
    for (const QString& argument : arguments) {
        QString inner;
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                inner += QLatin1Char('\\');
            inner += c;
            if (c == QLatin1Char('%')) inner += QLatin1Char('%');
        }
        quoted.append(QLatin1Char('"') + inner + QLatin1Char('"'));
    }
    return escapeString(quoted.join(QLatin1Char(' ')));
}

std::optional<QStringList> parseExec(const QString& exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                const QChar next = exec.at(i + 1);
                if (next == QLatin1Char('"') || next == QLatin1Char('`') || next == QLatin1Char('$') ||
                    next == QLatin1Char('\\')) {
                    current += next;
                    ++i;
                } else {
                    current += c;
                }
            } else if (c == QLatin1Char('%') && i + 1 < exec.size() && exec.at(i + 1) == QLatin1Char('%')) {
                current += c;
                ++i;
            } else {
                current += c;
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument) arguments.append(current);
            current.clear();
            inArgument = false;
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            inArgument = true;
        } else if (c == QLatin1Char('%') && i + 1 < exec.size() && exec.at(i + 1) == QLatin1Char('%')) {
            current += c;
            inArgument = true;
            ++i;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inQuotes) return std::nullopt;
    if (inArgument) arguments.append(current);
    return arguments;
}

QMap<QString, QString> readMainGroup(const QByteArray& content) {
    QMap<QString, QString> keys;
    bool inMain = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain) continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key)) keys.insert(key, unescapeString(line.mid(equals + 1).trimmed()));
    }
    return keys;
}

} // namespace murmelo::desktopentry

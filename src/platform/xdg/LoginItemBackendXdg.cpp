#include "xdg/LoginItemBackendXdg.h"

#include "common/Error.h"
#include "common/JsonFile.h"
#include "common/Paths.h"
#include "xdg/DesktopEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace murmelo {

LoginItemBackendXdg::LoginItemBackendXdg(QString executable, QString configHome)
    : m_executable(std::move(executable))
    , m_configHome(std::move(configHome)) {}

QString LoginItemBackendXdg::entryPath() const {
    const QString home = m_configHome.isEmpty() ? paths::configHome() : m_configHome;
    return home + QStringLiteral("/autostart/") + QLatin1String(entryFileName);
}

QString LoginItemBackendXdg::executable() const {
    if (!m_executable.isEmpty()) return m_executable;
    return QCoreApplication::applicationFilePath();
}

QByteArray LoginItemBackendXdg::entryContent(const QString& executable) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Murmelo\n");
    text += QStringLiteral("Comment=语音输入：按下快捷键说话，结果粘贴到当前应用\n");
    text += QStringLiteral("Exec=") + desktopentry::execValue({executable}) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

LoginItemStatus LoginItemBackendXdg::status() const {
    // An entry we cannot read counts as absent: enabling then writes a fresh one.
    std::optional<QByteArray> content;
    try {
        content = files::readFileIfExists(entryPath(), 1 << 20);
    } catch (const FileError&) {
        return LoginItemStatus::notRegistered;
    }
    if (!content) return LoginItemStatus::notRegistered;
    const auto keys = desktopentry::readMainGroup(*content);
    if (keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
        return LoginItemStatus::notRegistered;
    const auto arguments = desktopentry::parseExec(keys.value(QStringLiteral("Exec")));
    if (!arguments || arguments->isEmpty()) return LoginItemStatus::notFound;
    const QFileInfo program(arguments->first());
    if (!program.isAbsolute() || !program.isFile() || !program.isExecutable())
        return LoginItemStatus::notFound;
    return LoginItemStatus::enabled;
}

void LoginItemBackendXdg::registerItem() {
    const QString path = entryPath();
    const QString directory = QFileInfo(path).absolutePath();
    // The autostart folder is shared with other programs: create it if needed, never change it.
    if (!QFileInfo(directory).isDir() && !QDir().mkpath(directory))
        throw FileError(FileError::Case::createDirectory, directory);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) throw FileError(FileError::Case::write, path, file.errorString());
    const QByteArray content = entryContent(executable());
    if (file.write(content) != content.size() || !file.commit())
        throw FileError(FileError::Case::write, path, file.errorString());
}

void LoginItemBackendXdg::unregisterItem() {
    const QString path = entryPath();
    QFile file(path);
    if (!file.exists()) return;
    if (!file.remove()) throw FileError(FileError::Case::remove, path, file.errorString());
}

} // namespace murmelo

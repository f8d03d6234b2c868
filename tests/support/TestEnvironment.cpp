#include "TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/prctl.h>
#include <sys/stat.h>

#include <csignal>

namespace murmelo::test {

TestEnvironment::TestEnvironment() {
    set("HOME", (root() + QStringLiteral("/home")).toUtf8());
    set("XDG_CONFIG_HOME", configHome().toUtf8());
    set("XDG_DATA_HOME", dataHome().toUtf8());
    QDir().mkpath(root() + QStringLiteral("/home"));
}

TestEnvironment::~TestEnvironment() {
    for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
        it.value() ? qputenv(it.key().constData(), *it.value()) : qunsetenv(it.key().constData());
}

void TestEnvironment::set(const char* name, const QByteArray& value) {
    unset(name);
    qputenv(name, value);
}

void TestEnvironment::unset(const char* name) {
    if (!m_saved.contains(name))
        m_saved.insert(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    qunsetenv(name);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
}

void rowsFromJson(const QString& path) {
    QTest::addColumn<QJsonObject>("row");
    const QJsonArray rows = QJsonDocument::fromJson(readAll(path)).array();
    if (rows.isEmpty()) QTest::qFail(qPrintable("no cases in " + path), __FILE__, __LINE__);
    for (const QJsonValue& row : rows)
        QTest::newRow(qPrintable(row[QStringLiteral("name")].toString())) << row.toObject();
}

int unixMode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

void stopChild(QProcess& process, int graceMs) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

} // namespace murmelo::test

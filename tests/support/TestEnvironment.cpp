#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace murmelo::test {

TestEnvironment::TestEnvironment() {
    set("HOME", (root() + QStringLiteral("/home")).toUtf8());
    set("XDG_CONFIG_HOME", configHome().toUtf8());
    set("XDG_DATA_HOME", dataHome().toUtf8());
    QDir().mkpath(root() + QStringLiteral("/home"));
}

TestEnvironment::~TestEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second.first)
            qputenv(it->first.constData(), it->second.second);
        else
            qunsetenv(it->first.constData());
    }
}

void TestEnvironment::remember(const char* name) {
    for (const auto& saved : m_saved)
        if (saved.first == name) return;
    m_saved.append({QByteArray(name), {qEnvironmentVariableIsSet(name), qgetenv(name)}});
}

void TestEnvironment::set(const char* name, const QByteArray& value) {
    remember(name);
    qputenv(name, value);
}

void TestEnvironment::unset(const char* name) {
    remember(name);
    qunsetenv(name);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
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

} // namespace murmelo::test

#include <sys/prctl.h>
#include <sys/stat.h>

#include <csignal>

namespace murmelo::test {
int unixMode(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    return int(info.st_mode & 07777);
}
} // namespace murmelo::test

namespace murmelo::test {

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

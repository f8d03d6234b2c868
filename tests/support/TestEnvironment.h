#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace murmelo::test {

// Points HOME and the XDG directories at a fresh temporary folder for the lifetime of the object,
// restoring the previous values afterwards, so tests never touch the developer's files.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString root() const { return m_root.path(); }
    QString configHome() const { return root() + QStringLiteral("/config"); }
    QString dataHome() const { return root() + QStringLiteral("/data"); }

    // Sets or removes a variable until the environment is destroyed.
    void set(const char* name, const QByteArray& value);
    void unset(const char* name);

private:
    QTemporaryDir m_root;
    QMap<QByteArray, std::optional<QByteArray>> m_saved; // the values before, nothing for unset
};

// Reads a whole file; empty when missing.
QByteArray readAll(const QString& path);
// Writes a file, creating its directory.
void writeFile(const QString& path, const QByteArray& content);
// In a QTest _data function: one row per object of the JSON array in `path`, named by its "name",
// the object itself in the column "row". A file without cases fails the test.
void rowsFromJson(const QString& path);
// The file's permission bits as in `ls -l`, for example 0600.
int unixMode(const QString& path);

// Stops a child this test started: SIGTERM to its PID, SIGKILL when it has not ended within
// `grace`; nothing when it is not running.
void stopChild(QProcess& process, int graceMs = 3000);
// Makes a child die with the test process, also when that crashes or is killed at its time-out.
void dieWithParent(QProcess& process);

} // namespace murmelo::test

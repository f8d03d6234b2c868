#include "TestEnvironment.h"
#include "common/Error.h"
#include "common/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace murmelo;

class JsonFileTest : public QObject {
    Q_OBJECT
private slots:
    void writesPrivateFilesInPrivateDirectories() {
        test::TestEnvironment environment;
        const QString directory = environment.dataHome() + QStringLiteral("/Murmelo");
        const QString path = directory + QStringLiteral("/history.json");
        files::writePrivateFileAtomically(path, "[]");
        QCOMPARE(test::readAll(path), QByteArray("[]"));
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(directory), 0700);
    }

    void tightensLooserExistingPermissions() {
        test::TestEnvironment environment;
        const QString directory = environment.root() + QStringLiteral("/open");
        const QString path = directory + QStringLiteral("/file.json");
        test::writeFile(path, "old");
        QFile::setPermissions(directory, QFileDevice::Permissions(0x7755));
        QFile::setPermissions(path, QFileDevice::Permissions(0x6644));
        files::writePrivateFileAtomically(path, "new");
        QCOMPARE(test::readAll(path), QByteArray("new"));
        QCOMPARE(test::unixMode(path), 0600);
        QCOMPARE(test::unixMode(directory), 0700);
    }

    void failedWriteKeepsTheOldFile() {
        test::TestEnvironment environment;
        const QString path = environment.root() + QStringLiteral("/blocked/file.json");
        test::writeFile(path, "precious");
        // A directory where the temporary file would go makes the write fail.
        QFile::setPermissions(environment.root() + QStringLiteral("/blocked"),
                              QFile::ReadOwner | QFile::ExeOwner);
        if (QFileInfo(environment.root() + QStringLiteral("/blocked")).isWritable())
            QSKIP("running with privileges that ignore directory permissions");
        QVERIFY_THROWS_EXCEPTION(FileError, files::writePrivateFileAtomically(path, "new"));
        QCOMPARE(test::readAll(path), QByteArray("precious"));
    }

    void readingReportsMissingDirectoriesAndOversizedFiles() {
        test::TestEnvironment environment;
        QVERIFY(!files::readFileIfExists(environment.root() + QStringLiteral("/absent.json")));
        QDir().mkpath(environment.root() + QStringLiteral("/dir.json"));
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(environment.root() + QStringLiteral("/dir.json")));
        test::writeFile(environment.root() + QStringLiteral("/big.json"), QByteArray(2048, 'x'));
        QVERIFY_THROWS_EXCEPTION(FileError, files::readFileIfExists(environment.root() + QStringLiteral("/big.json"), 1024));
    }

    void movesUnreadableFilesAsideWithoutOverwritingEarlierCopies() {
        test::TestEnvironment environment;
        const QString path = environment.root() + QStringLiteral("/dictionary.json");
        test::writeFile(path, "{broken");
        const auto first = files::moveAsideUnreadable(path);
        QVERIFY(first);
        QVERIFY(first->startsWith(path + QStringLiteral(".unreadable-")));
        QCOMPARE(first->size(), path.size() + qsizetype(QStringLiteral(".unreadable-yyyyMMdd-HHmmss").size()));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(test::readAll(*first), QByteArray("{broken"));

        test::writeFile(path, "{also broken");
        const auto second = files::moveAsideUnreadable(path);
        QVERIFY(second && *second != *first);
        QCOMPARE(test::readAll(*first), QByteArray("{broken"));
        QVERIFY(!files::moveAsideUnreadable(path)); // nothing left to move
    }
};

QTEST_GUILESS_MAIN(JsonFileTest)
#include "tst_JsonFile.moc"

#include "AsyncTest.h"
#include "AudioInputBackendFake.h"
#include "TestEnvironment.h"
#include "evaluation/MurmeloSmokeTestSuite.h"
#include "evaluation/SmokeTestError.h"
#include "refinement/PromptLibrary.h"
#include "refinement/RefinementProviderError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

const QStringList allTen{"smart prompt resource",
                         "translation prompt resource",
                         "mock transcription and refinement",
                         "dictionary keywords and glossary",
                         "hotkey setting persistence",
                         "completion feedback state",
                         "audio input device catalog",
                         "OpenAI Responses payload and parsing",
                         "evaluation metrics",
                         "local history persistence"};

// Every file and folder below `root`, relative to it.
QStringList contentsOf(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    return found;
}

// A private temporary folder and config home; the suite's options point at them and record what it did.
struct Fixture {
    test::TestEnvironment environment;
    QString temporary = environment.root() + "/tmp";
    AudioInputBackendFake microphones;
    SmokeTestOptions options;
    QStringList reported;      // names told to onCheckPassed
    QStringList domainsOpened; // names the suite asked for

    Fixture() {
        QDir().mkpath(temporary);
        options.temporaryDirectory = temporary;
        options.mockTranscriptionDelay = 1ms;
        options.mockRefinementDelay = 1ms;
        options.inputDevices = [this] { return AudioInputDevice::availableDevices(microphones); };
        options.onCheckPassed = [this](const QString& name) { reported << name; };
        openDomainsWith([](const QString& name) { return UserDefaults::named(name); });
    }
    void openDomainsWith(std::function<std::unique_ptr<UserDefaults>(const QString&)> open) {
        options.openDefaultsDomain = [this, open](const QString& name) {
            domainsOpened << name;
            return open(name);
        };
    }
    // The failure's description, or "(passed)".
    QString failureOfRun() {
        try {
            test::run(MurmeloSmokeTestSuite::run(options));
        } catch (const SmokeTestError& error) {
            return error.description();
        }
        return QStringLiteral("(passed)");
    }
    QStringList leftInTemporary() const { return contentsOf(temporary); }
    QStringList leftInConfig() const { return contentsOf(environment.configHome()); }
};

void writePrompts(const QString& bundle, const QByteArray& smart, const QByteArray& translation) {
    test::writeFile(bundle + "/Prompts/smart_dictation_zh.md", smart);
    test::writeFile(bundle + "/Prompts/translate_to_english.md", translation);
}

} // namespace

class MurmeloSmokeTestSuiteTest : public QObject {
    Q_OBJECT
private slots:
    void completeRunReturnsTheTenNamesInOrderAndLeavesNothing_data() {
        QTest::addColumn<QList<AudioInputDevice>>("devices");
        QTest::newRow("no microphone") << QList<AudioInputDevice>{};
        QTest::newRow("two microphones")
            << QList<AudioInputDevice>{{"alsa_input.usb", "USB"}, {"alsa_input.pci", "内置"}};
    }
    void completeRunReturnsTheTenNamesInOrderAndLeavesNothing() {
        QFETCH(QList<AudioInputDevice>, devices);
        Fixture fixture;
        fixture.microphones.devices = devices;
        QCOMPARE(test::run(MurmeloSmokeTestSuite::run(fixture.options)), allTen);
        QCOMPARE(MurmeloSmokeTestSuite::checkNames(), allTen);
        QCOMPARE(fixture.reported, allTen);
        QVERIFY(fixture.microphones.calls.contains("inputDevices"));

        // The domain was opened twice (write, then read back from its file) under one fresh name.
        QCOMPARE(fixture.domainsOpened.size(), 2);
        QCOMPARE(fixture.domainsOpened.at(0), fixture.domainsOpened.at(1));
        static const QRegularExpression domainName(
            "^MurmeloSmokeTests\\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
        QVERIFY2(domainName.match(fixture.domainsOpened.first()).hasMatch(),
                 qPrintable(fixture.domainsOpened.first()));
        QCOMPARE(fixture.leftInTemporary(), QStringList());
        QCOMPARE(fixture.leftInConfig(), QStringList());

        // Each run uses names of its own.
        Fixture second;
        test::run(MurmeloSmokeTestSuite::run(second.options));
        QVERIFY(second.domainsOpened.first() != fixture.domainsOpened.first());
    }

    void failureInTheHotkeyCheckLeavesNoScratchFolderAndNoDomain_data() {
        QTest::addColumn<int>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("domain cannot be opened") << 0 << "无法创建隔离的 UserDefaults";
        QTest::newRow("written domain cannot be opened again") << 1 << "无法创建隔离的 UserDefaults";
        QTest::newRow("domain cannot be written") << 2 << "快捷键设置未持久化";
    }
    void failureInTheHotkeyCheckLeavesNoScratchFolderAndNoDomain() {
        QFETCH(int, how);
        QFETCH(QString, message);
        Fixture fixture;
        bool domainFileExistedBeforeCleanUp = false;
        QString blocker = fixture.environment.root() + "/not-a-folder";
        test::writeFile(blocker, "x");
        switch (how) {
        case 0:
            fixture.openDomainsWith([](const QString&) { return nullptr; });
            break;
        case 1: {
            auto opened = std::make_shared<int>(0);
            fixture.openDomainsWith([opened, &domainFileExistedBeforeCleanUp](const QString& name) {
                auto domain = UserDefaults::named(name);
                if (++*opened == 1) return domain;
                domainFileExistedBeforeCleanUp = QFile::exists(domain->filePath());
                return std::unique_ptr<UserDefaults>();
            });
            break;
        }
        case 2:
            // A folder that cannot be made (a file is in the way), whoever runs the test.
            fixture.openDomainsWith([blocker](const QString& name) {
                return std::make_unique<UserDefaults>(blocker + "/" + name + ".json");
            });
            break;
        }
        QCOMPARE(fixture.failureOfRun(), message);
        QCOMPARE(fixture.reported, allTen.mid(0, 4));
        if (how == 1) QVERIFY(domainFileExistedBeforeCleanUp); // there was something to remove
        QCOMPARE(fixture.leftInTemporary(), QStringList());
        QCOMPARE(fixture.leftInConfig(), QStringList());
    }

    void laterFailuresAlsoRemoveBoth() {
        Fixture fixture;
        fixture.microphones.devices = {{"mic", "麦克风 A"}, {"mic", "麦克风 B"}};
        QCOMPARE(fixture.failureOfRun(), QStringLiteral("麦克风设备 UID 重复"));
        QCOMPARE(fixture.reported, allTen.mid(0, 6));
        QCOMPARE(fixture.leftInTemporary(), QStringList());
        QCOMPARE(fixture.leftInConfig(), QStringList());
    }

    void foldersThatExistedBeforeTheRunStay() {
        Fixture fixture;
        QDir().mkpath(fixture.environment.configHome() + "/Murmelo/defaults");
        test::run(MurmeloSmokeTestSuite::run(fixture.options));
        QCOMPARE(fixture.leftInConfig(), QStringList({"Murmelo", "Murmelo/defaults"}));
    }

    void promptResourcesWithoutTheirConstraintsFail() {
        Fixture fixture;
        const QString bundle = fixture.environment.root() + "/bundle";
        fixture.options.bundleDirectory = bundle;
        writePrompts(bundle, "把口述整理成书面中文。", "Translate into natural English.");
        QCOMPARE(fixture.failureOfRun(), QStringLiteral("智能口述提示词缺少保真约束"));
        QVERIFY(fixture.reported.isEmpty());

        fixture.reported.clear();
        writePrompts(bundle, "整理时不增加结论。", "Translate into English.");
        QCOMPARE(fixture.failureOfRun(), QStringLiteral("翻译提示词资源异常"));
        QCOMPARE(fixture.reported, allTen.mid(0, 1));

        fixture.reported.clear();
        writePrompts(bundle, "只整理，不编造。", "Write natural English.");
        QCOMPARE(test::run(MurmeloSmokeTestSuite::run(fixture.options)), allTen);
    }

    void errorsOfTheComponentsEndTheRunUnchanged() {
        Fixture fixture;
        fixture.options.bundleDirectory = fixture.environment.root() + "/no-bundle";
        const auto missing =
            test::runExpectingError<PromptLibraryError>(MurmeloSmokeTestSuite::run(fixture.options));
        QVERIFY(missing);
        QCOMPARE(missing->resourceName(), QStringLiteral("smart_dictation_zh"));

        // The scratch folder cannot be made: the store's own error, and nothing left behind.
        Fixture blocked;
        test::writeFile(blocked.environment.root() + "/file", "x");
        blocked.options.temporaryDirectory = blocked.environment.root() + "/file";
        const auto unwritable =
            test::runExpectingError<FileError>(MurmeloSmokeTestSuite::run(blocked.options));
        QVERIFY(unwritable);
        QCOMPARE(unwritable->kind(), FileError::Case::createDirectory);
        QCOMPARE(blocked.reported, allTen.mid(0, 3));
        QVERIFY(blocked.domainsOpened.isEmpty());
    }
};

QTEST_GUILESS_MAIN(MurmeloSmokeTestSuiteTest)
#include "tst_MurmeloSmokeTestSuite.moc"

#include "TestEnvironment.h"
#include "common/Error.h"
#include "refinement/PromptLibrary.h"
#include "refinement/RefinementProviderError.h"
#include "refinement/RefinementTypes.h"

#include <QDir>
#include <QTest>

using namespace murmelo;

class PromptLibraryTest : public QObject {
    Q_OBJECT
private slots:
    void shippedPromptsCarryTheirRequiredPhrases() {
        // The build tree's copy, as a program run from the build finds it.
        const QString bundle = ResourceBundle::located();
        QVERIFY(QDir(bundle).exists());
        QVERIFY(PromptLibrary::systemPrompt(InputMode::smartDictation).contains(QStringLiteral("不编造")));
        QVERIFY(PromptLibrary::systemPrompt(InputMode::translateToEnglish).contains(QStringLiteral("natural English")));
    }

    void promptIsReadFromPromptsThenTopLevelUnchanged() {
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/Test.bundle";
        test::writeFile(bundle + "/translate_to_english.md", "  top level\n");
        QCOMPARE(PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundle), QStringLiteral("  top level\n"));
        test::writeFile(bundle + "/Prompts/translate_to_english.md", "in folder");
        QCOMPARE(PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundle), QStringLiteral("in folder"));
        // Read anew on every call.
        test::writeFile(bundle + "/Prompts/translate_to_english.md", "edited");
        QCOMPARE(PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundle), QStringLiteral("edited"));
    }

    void missingPromptNamesTheResource() {
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/Empty.bundle";
        QDir().mkpath(bundle + "/Prompts");
        try {
            PromptLibrary::systemPrompt(InputMode::smartDictation, bundle);
            QFAIL("expected missingResource");
        } catch (const PromptLibraryError& error) {
            QCOMPARE(error.resourceName(), QStringLiteral("smart_dictation_zh"));
            QCOMPARE(error.description(), QStringLiteral("缺少提示词资源：smart_dictation_zh"));
        }
        // A directory with the prompt's name is not a prompt.
        QDir().mkpath(bundle + "/Prompts/translate_to_english.md");
        QVERIFY_THROWS_EXCEPTION(PromptLibraryError, PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundle));
    }

    void undecodablePromptIsAFileError() {
        test::TestEnvironment environment;
        const QString bundle = environment.root() + "/Bad.bundle";
        test::writeFile(bundle + "/Prompts/smart_dictation_zh.md", "\xff\xfe\xfd");
        QVERIFY_THROWS_EXCEPTION(FileError, PromptLibrary::systemPrompt(InputMode::smartDictation, bundle));
    }

    void bundleLookupTakesTheFirstExistingCandidate() {
        test::TestEnvironment environment;
        const QString a = environment.root() + "/a", b = environment.root() + "/b", c = environment.root() + "/c";
        QDir().mkpath(b);
        QDir().mkpath(c);
        QCOMPARE(ResourceBundle::firstExisting({a, b, c}), std::optional<QString>(b));
        QVERIFY(!ResourceBundle::firstExisting({a}));
        QCOMPARE(ResourceBundle::fatalMessage({a, b}),
                 QStringLiteral("could not load resource bundle: from ") + a + " or " + b);
        const QStringList candidates = ResourceBundle::candidates();
        QCOMPARE(candidates.size(), 3);
        QVERIFY(candidates.first().endsWith("/Murmelo_MurmeloCore.bundle"));
        QVERIFY(candidates.at(1).endsWith("/share/murmelo/Murmelo_MurmeloCore.bundle"));
    }

    void userMessageIsBuiltWithoutTrimming() {
        QCOMPARE(refinementUserMessage({"我有两个安排", InputMode::smartDictation, "（无个人词典）"}),
                 QStringLiteral("个人词典：\n（无个人词典）\n\n原始语音转写：\n我有两个安排"));
        QCOMPARE(refinementUserMessage({" a \n", InputMode::smartDictation, "\tg "}),
                 QStringLiteral("个人词典：\n\tg \n\n原始语音转写：\n a \n"));
        QCOMPARE(refinementUserMessage({"", InputMode::translateToEnglish, ""}),
                 QStringLiteral("个人词典：\n\n\n原始语音转写：\n"));
    }
};

QTEST_GUILESS_MAIN(PromptLibraryTest)
#include "tst_PromptLibrary.moc"

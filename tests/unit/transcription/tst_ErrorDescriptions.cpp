// The user reads these texts; a changed character is a bug.
#include "common/Error.h"
#include "dictation/DictationCoordinatorError.h"
#include "refinement/RefinementProviderError.h"
#include "transcription/TranscriptionProviderError.h"
#include "transcription/TranscriptionTypes.h"

#include <QTest>

using namespace murmelo;

class ErrorDescriptionsTest : public QObject {
    Q_OBJECT
private slots:
    void transcriptionErrors() {
        using Case = TranscriptionProviderError::Case;
        QCOMPARE(TranscriptionProviderError(Case::server, "quota").description(), QStringLiteral("语音识别失败：quota"));
        QCOMPARE(TranscriptionProviderError(Case::server, "").description(), QStringLiteral("语音识别失败："));
        QCOMPARE(TranscriptionProviderError(Case::missingAPIKey).description(),
                 QStringLiteral("请先在设置中保存 OpenAI API Key。"));
        QCOMPARE(TranscriptionProviderError(Case::alreadyStarted).description(), QStringLiteral("语音识别会话已经开始。"));
        QCOMPARE(TranscriptionProviderError(Case::notStarted).description(), QStringLiteral("语音识别会话尚未开始。"));
        QCOMPARE(TranscriptionProviderError(Case::invalidServerMessage).description(),
                 QStringLiteral("语音识别服务返回了无法解析的数据。"));
        QCOMPARE(TranscriptionProviderError(Case::connectionClosed).description(), QStringLiteral("语音识别连接已断开。"));
        QCOMPARE(TranscriptionProviderError(Case::emptyTranscript).description(), QStringLiteral("没有识别到有效语音。"));
        QVERIFY(TranscriptionProviderError(Case::server, "a") != TranscriptionProviderError(Case::server, "b"));
    }

    void refinementErrors() {
        QCOMPARE(RefinementProviderError::httpStatus(500).description(), QStringLiteral("文字整理服务请求失败（HTTP 500）。"));
        QCOMPARE(RefinementProviderError::server("").description(), QStringLiteral("文字整理服务错误："));
        QCOMPARE(RefinementProviderError::server("rate limited ").description(),
                 QStringLiteral("文字整理服务错误：rate limited "));
        using Case = RefinementProviderError::Case;
        QCOMPARE(RefinementProviderError(Case::missingAPIKey).description(),
                 QStringLiteral("请先在设置中保存文字整理服务所需的 API Key。"));
        QCOMPARE(RefinementProviderError(Case::invalidResponse).description(),
                 QStringLiteral("文字整理服务返回了无法解析的数据。"));
        QCOMPARE(RefinementProviderError(Case::emptyResult).description(), QStringLiteral("文字整理服务返回了空结果。"));
        QCOMPARE(PromptLibraryError("smart_dictation_zh").description(), QStringLiteral("缺少提示词资源：smart_dictation_zh"));
    }

    void coordinatorErrors() {
        using Case = DictationCoordinatorError::Case;
        QCOMPARE(DictationCoordinatorError(Case::missingOpenAIKey).description(),
                 QStringLiteral("请先在设置中保存 OpenAI API Key，或开启 Mock 模式。"));
        QCOMPARE(DictationCoordinatorError(Case::missingDeepSeekKey).description(),
                 QStringLiteral("请先在设置中保存 DeepSeek API Key，或开启 Mock 模式。"));
        QCOMPARE(DictationCoordinatorError(Case::timedOut).description(),
                 QStringLiteral("AI 处理超时，原始转写已保留到剪贴板。"));
    }

    void whatCarriesTheDescriptionForLogsOfTests() {
        const TranscriptionProviderError error(TranscriptionProviderError::Case::connectionClosed);
        QCOMPARE(QString::fromUtf8(error.what()), error.description());
    }

    void contractValues() {
        const auto standard = TranscriptionContext::standard();
        QCOMPARE(standard.languages, QStringList({"zh-cn", "en"}));
        QVERIFY(standard.keywords.isEmpty());
        QVERIFY((TranscriptionResult{"t", {"zh", "en"}}) != (TranscriptionResult{"t", {"en", "zh"}}));
    }
};

QTEST_GUILESS_MAIN(ErrorDescriptionsTest)
#include "tst_ErrorDescriptions.moc"

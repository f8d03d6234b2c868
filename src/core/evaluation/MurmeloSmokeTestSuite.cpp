#include "evaluation/MurmeloSmokeTestSuite.h"

#include "audio/AudioInputBackend.h"
#include "common/Error.h"
#include "common/JsonFile.h"
#include "dictation/AppState.h"
#include "evaluation/EvaluationCalculator.h"
#include "evaluation/SmokeTestError.h"
#include "refinement/MockTextRefinementProvider.h"
#include "refinement/OpenAITextRefinementProvider.h"
#include "refinement/PromptLibrary.h"
#include "settings/AppSettings.h"
#include "stores/DictionaryStore.h"
#include "stores/HistoryStore.h"
#include "transcription/MockSpeechTranscriptionProvider.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <stdexcept>

namespace murmelo::MurmeloSmokeTestSuite {

namespace {

const QString smartPromptName = QStringLiteral("smart prompt resource");
const QString translationPromptName = QStringLiteral("translation prompt resource");
const QString mockProvidersName = QStringLiteral("mock transcription and refinement");
const QString dictionaryName = QStringLiteral("dictionary keywords and glossary");
const QString hotkeyName = QStringLiteral("hotkey setting persistence");
const QString completionStateName = QStringLiteral("completion feedback state");
const QString deviceCatalogName = QStringLiteral("audio input device catalog");
const QString responsesName = QStringLiteral("OpenAI Responses payload and parsing");
const QString metricsName = QStringLiteral("evaluation metrics");
const QString historyName = QStringLiteral("local history persistence");

// What one run leaves behind until its clean-up: the scratch folder and the defaults domain.
struct Run {
    SmokeTestOptions options;
    QStringList passed;
    QString scratchFolder;
    std::unique_ptr<UserDefaults> domain;
    // Folders the domain's file needed that did not exist before, deepest first.
    QStringList createdDomainFolders;

    void pass(const QString& name) {
        passed.append(name);
        if (options.onCheckPassed) options.onCheckPassed(name);
    }
};

[[noreturn]] void fail(const QString& message) {
    throw SmokeTestError(message);
}

void requireThat(bool condition, const QString& message) {
    if (!condition) fail(message);
}

QString bundlePath(const Run& run) {
    return run.options.bundleDirectory.isEmpty() ? ResourceBundle::located() : run.options.bundleDirectory;
}

void checkSmartPrompt(Run& run) {
    const QString prompt = PromptLibrary::systemPrompt(InputMode::smartDictation, bundlePath(run));
    requireThat(prompt.contains(QStringLiteral("不编造")) || prompt.contains(QStringLiteral("不增加结论")),
                QStringLiteral("智能口述提示词缺少保真约束"));
    run.pass(smartPromptName);
}

void checkTranslationPrompt(Run& run) {
    const QString prompt = PromptLibrary::systemPrompt(InputMode::translateToEnglish, bundlePath(run));
    requireThat(prompt.contains(QStringLiteral("natural English")), QStringLiteral("翻译提示词资源异常"));
    run.pass(translationPromptName);
}

QCoro::Task<> checkMockProviders(std::shared_ptr<Run> run) {
    MockSpeechTranscriptionProvider transcription(run->options.mockTranscriptionDelay);
    const SpeechTranscriptionProvider::PartialHandler ignorePartials = [](const QString&) {};
    co_await transcription.start(TranscriptionContext::standard(), ignorePartials);
    co_await transcription.sendAudio(QByteArray(48000, char(1)));
    const TranscriptionResult transcript = co_await transcription.finish();
    requireThat(!transcript.text.isEmpty(), QStringLiteral("Mock 转写为空"));

    MockTextRefinementProvider refinement(run->options.mockRefinementDelay);
    RefinementRequest request;
    request.text = transcript.text;
    request.mode = InputMode::smartDictation;
    const QString refined = co_await refinement.refine(request);
    requireThat(refined.contains(QStringLiteral("1.")), QStringLiteral("Mock 整理未生成预期结构"));
    run->pass(mockProvidersName);
}

void makeScratchFolder(Run& run) {
    const QString parent =
        run.options.temporaryDirectory.isEmpty() ? QDir::tempPath() : run.options.temporaryDirectory;
    const QString folder = QDir(parent).filePath(uuidText(QUuid::createUuid()));
    // Remembered before it exists, so a half-made folder is removed too.
    run.scratchFolder = folder;
    files::ensurePrivateDirectory(folder);
}

void checkDictionary(Run& run) {
    makeScratchFolder(run);
    DictionaryStore store(QDir(run.scratchFolder).filePath(QStringLiteral("dictionary.json")));
    DictionaryEntry entry;
    entry.canonical = QStringLiteral("声屿 SY");
    entry.aliases = {QStringLiteral("声屿科技")};
    entry.english = QStringLiteral("Sound Isle");
    entry.kind = DictionaryEntryKind::brand;
    // The store keeps going after a failed write; the self-check must not.
    if (!store.add(entry)) throw FileError(FileError::Case::write, store.filePath());
    requireThat(store.keywords() == QStringList({entry.canonical, entry.aliases.first()}) &&
                    store.glossaryText().contains(*entry.english),
                QStringLiteral("个人词典索引异常"));
    run.pass(dictionaryName);
}

// The folders from `path`'s directory upwards that do not exist yet, deepest first.
QStringList missingFolders(const QString& path) {
    QStringList missing;
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(folder)) {
        missing.append(folder);
        const QString parent = QFileInfo(folder).path();
        if (parent == folder) break;
        folder = parent;
    }
    return missing;
}

void checkHotkeyPersistence(Run& run) {
    const QString name = QLatin1String(defaultsDomainPrefix) + uuidText(QUuid::createUuid());
    run.domain = run.options.openDefaultsDomain(name);
    requireThat(run.domain != nullptr, QStringLiteral("无法创建隔离的 UserDefaults"));
    run.createdDomainFolders = missingFolders(run.domain->filePath());
    {
        AppSettings writer(*run.domain);
        writer.setHotkeyPreset(HotkeyPreset::commandShiftSpace);
        writer.persist();
    }
    // Read back through a second opening of the domain, from its file: a value that only lives in
    // the first object's memory has not been persisted.
    const auto reopened = run.options.openDefaultsDomain(name);
    requireThat(reopened != nullptr, QStringLiteral("无法创建隔离的 UserDefaults"));
    const AppSettings reader(*reopened);
    requireThat(reader.hotkeyPreset() == HotkeyPreset::commandShiftSpace,
                QStringLiteral("快捷键设置未持久化"));
    run.pass(hotkeyName);
}

void checkCompletionState(Run& run) {
    AppState state;
    state.setStatusDetail(QStringLiteral("结果已保留在剪贴板"));
    state.transition(DictationPhase::success());
    requireThat(state.phase() == DictationPhase::success() && !state.statusDetail().isEmpty(),
                QStringLiteral("完成状态详情异常"));
    state.reset();
    requireThat(state.phase() == DictationPhase::idle() && state.statusDetail().isEmpty(),
                QStringLiteral("状态重置异常"));
    run.pass(completionStateName);
}

QCoro::Task<> checkDeviceCatalog(std::shared_ptr<Run> run) {
    const QList<AudioInputDevice> devices = co_await run->options.inputDevices();
    QSet<QString> uids;
    for (const AudioInputDevice& device : devices)
        uids.insert(device.uid);
    requireThat(uids.size() == devices.size(), QStringLiteral("麦克风设备 UID 重复"));
    run->pass(deviceCatalogName);
}

QJsonObject outputText(const QString& text) {
    return {{QStringLiteral("type"), QStringLiteral("output_text")}, {QStringLiteral("text"), text}};
}

void checkResponsesPayload(Run& run) {
    RefinementRequest request;
    request.text = QStringLiteral("我有两个安排");
    request.mode = InputMode::smartDictation;
    request.glossary = QStringLiteral("Murmelo => Murmelo");
    const QJsonObject payload =
        OpenAITextRefinementProvider::makePayload(request, QStringLiteral("gpt-5.6-terra"), bundlePath(run));
    const QJsonValue reasoning = payload.value(QStringLiteral("reasoning"));
    requireThat(payload.value(QStringLiteral("store")) == QJsonValue(false) &&
                    payload.value(QStringLiteral("instructions")).isString() &&
                    payload.value(QStringLiteral("input")).isString() && reasoning.isObject() &&
                    reasoning.toObject().value(QStringLiteral("effort")) ==
                        QJsonValue(QStringLiteral("none")),
                QStringLiteral("OpenAI Responses 请求结构异常"));

    const QJsonObject commentary{
        {QStringLiteral("type"), QStringLiteral("message")},
        {QStringLiteral("phase"), QStringLiteral("commentary")},
        {QStringLiteral("content"), QJsonArray{outputText(QStringLiteral("不要输出这段"))}}};
    const QJsonObject finalItem{
        {QStringLiteral("type"), QStringLiteral("message")},
        {QStringLiteral("phase"), QStringLiteral("final")},
        {QStringLiteral("content"),
         QJsonArray{outputText(QStringLiteral("1. 第一项\n")), outputText(QStringLiteral("2. 第二项"))}}};
    const QJsonObject response{{QStringLiteral("output"), QJsonArray{commentary, finalItem}}};
    const QString parsed = OpenAITextRefinementProvider::parseResponse(QJsonDocument(response).toJson());
    requireThat(parsed == QStringLiteral("1. 第一项\n2. 第二项"),
                QStringLiteral("OpenAI Responses 结果解析异常"));
    run.pass(responsesName);
}

void checkMetrics(Run& run) {
    const double rate =
        EvaluationCalculator::characterErrorRate(QStringLiteral("你好世间"), QStringLiteral("你好世界"));
    // Written so that NaN fails too.
    requireThat(std::abs(rate - 0.25) <= 0.000001, QStringLiteral("字符错误率计算异常"));
    run.pass(metricsName);
}

// The identifiers the history file holds; nothing when it is missing or does not decode.
std::optional<QList<QUuid>> historyFileIds(const QString& path) {
    const auto content = files::readFileIfExists(path);
    if (!content) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*content, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    QList<QUuid> ids;
    for (const QJsonValue& value : document.array()) {
        const auto entry = value.isObject() ? HistoryEntry::fromJson(value.toObject()) : std::nullopt;
        if (!entry) return std::nullopt;
        ids.append(entry->id);
    }
    return ids;
}

QCoro::Task<> checkHistory(std::shared_ptr<Run> run) {
    HistoryStore store(QDir(run->scratchFolder).filePath(QStringLiteral("history.json")));
    HistoryEntry entry;
    entry.createdAt = referenceSecondsNow();
    entry.mode = InputMode::smartDictation;
    entry.text = QStringLiteral("仅用于本地历史测试");
    entry.audioDuration = 1.2;
    entry.completionLatency = 0.8;
    co_await store.append(entry);
    requireThat(historyFileIds(store.filePath()) == QList<QUuid>{entry.id},
                QStringLiteral("历史记录写入异常"));
    co_await store.remove(entry.id);
    requireThat(historyFileIds(store.filePath()) == QList<QUuid>{}, QStringLiteral("历史记录删除异常"));
    run->pass(historyName);
}

QCoro::Task<> runChecks(std::shared_ptr<Run> run) {
    checkSmartPrompt(*run);
    checkTranslationPrompt(*run);
    co_await checkMockProviders(run);
    checkDictionary(*run);
    checkHotkeyPersistence(*run);
    checkCompletionState(*run);
    co_await checkDeviceCatalog(run);
    checkResponsesPayload(*run);
    checkMetrics(*run);
    co_await checkHistory(run);
}

// Never fails: what cannot be removed stays, as with any temporary file.
void cleanUp(Run& run) {
    if (!run.scratchFolder.isEmpty()) QDir(run.scratchFolder).removeRecursively();
    if (run.domain) {
        run.domain->removeDomain();
        // Only folders this run created, and only when nothing else has appeared in them.
        for (const QString& folder : std::as_const(run.createdDomainFolders))
            if (!QDir().rmdir(folder)) break;
    }
}

} // namespace

QStringList checkNames() {
    return {smartPromptName,     translationPromptName, mockProvidersName, dictionaryName, hotkeyName,
            completionStateName, deviceCatalogName,     responsesName,     metricsName,    historyName};
}

QCoro::Task<QStringList> run(SmokeTestOptions options) {
    if (!options.inputDevices) throw std::invalid_argument("the self-check needs a device catalog");
    auto state = std::make_shared<Run>();
    state->options = std::move(options);
    std::exception_ptr failure;
    try {
        co_await runChecks(state);
    } catch (...) {
        failure = std::current_exception();
    }
    cleanUp(*state);
    if (failure) std::rethrow_exception(failure);
    QStringList passed = state->passed;
    co_return passed;
}

QCoro::Task<QStringList> run(AudioInputBackend& audio, SmokeTestOptions options) {
    options.inputDevices = [&audio] { return AudioInputDevice::availableDevices(audio); };
    return run(std::move(options));
}

} // namespace murmelo::MurmeloSmokeTestSuite

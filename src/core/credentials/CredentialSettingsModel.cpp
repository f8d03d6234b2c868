#include "credentials/CredentialSettingsModel.h"

#include "common/Error.h"
#include "dictation/DictationCoordinatorError.h"
#include "network/HttpExchange.h"
#include "refinement/DeepSeekRefinementProvider.h"
#include "refinement/ProviderConfiguration.h"
#include "refinement/RefinementProviderError.h"
#include "stores/APIKey.h"

#include <QPointer>

namespace murmelo {

namespace {

const QString invalidDraftMessage = QStringLiteral("请输入有效密钥。");

} // namespace

CredentialSettingsModel::CredentialSettingsModel(KeychainStore keychain, QNetworkAccessManager* session,
                                                 const ProviderConfiguration& configuration, Timing timing,
                                                 QString bundleDirectory, QObject* parent)
    : QObject(parent)
    , m_keychain(std::move(keychain))
    , m_session(session)
    , m_openAIBase(configuration.openAIBaseURL())
    , m_deepSeekChatURL(configuration.deepSeekChatURL())
    , m_timing(timing)
    , m_bundleDirectory(std::move(bundleDirectory)) {
    refresh();
}

void CredentialSettingsModel::setOpenAIDraft(const QString& text) {
    if (text == m_openAIDraft) return;
    m_openAIDraft = text;
    emit openAIDraftChanged();
}

void CredentialSettingsModel::setDeepSeekDraft(const QString& text) {
    if (text == m_deepSeekDraft) return;
    m_deepSeekDraft = text;
    emit deepSeekDraftChanged();
}

void CredentialSettingsModel::setStatusMessage(const QString& text) {
    m_statusMessage = text;
    emit statusMessageChanged(); // also when unchanged: the same message again is news to the user
}

void CredentialSettingsModel::setTesting(bool testing) {
    if (testing == m_isTesting) return;
    m_isTesting = testing;
    emit isTestingChanged();
}

void CredentialSettingsModel::setFlag(bool& field, bool value, void (CredentialSettingsModel::*changed)()) {
    if (field == value) return;
    field = value;
    emit(this->*changed)();
}

void CredentialSettingsModel::refresh() {
    setFlag(m_hasOpenAIKey, m_keychain.resolved(CredentialKind::openAI).has_value(),
            &CredentialSettingsModel::hasOpenAIKeyChanged);
    setFlag(m_hasDeepSeekKey, m_keychain.resolved(CredentialKind::deepSeek).has_value(),
            &CredentialSettingsModel::hasDeepSeekKeyChanged);
}

void CredentialSettingsModel::saveOpenAIKey() {
    save(m_openAIDraft, CredentialKind::openAI);
    setOpenAIDraft({});
}

void CredentialSettingsModel::saveDeepSeekKey() {
    save(m_deepSeekDraft, CredentialKind::deepSeek);
    setDeepSeekDraft({});
}

void CredentialSettingsModel::save(const QString& value, CredentialKind kind) {
    const QString key = value.trimmed();
    // A control character inside the key could never be sent safely: refuse it like a blank one.
    if (!isUsableAPIKey(key)) {
        setStatusMessage(invalidDraftMessage);
        return;
    }
    try {
        m_keychain.save(key, kind);
        setStatusMessage(QStringLiteral("密钥已安全保存到系统密钥环。"));
    } catch (const Error& error) {
        setStatusMessage(error.description());
    }
    refresh();
}

void CredentialSettingsModel::remove(CredentialKind kind) {
    try {
        m_keychain.remove(kind);
        setStatusMessage(QStringLiteral("已删除密钥。"));
    } catch (const Error& error) {
        setStatusMessage(error.description());
    }
    refresh();
}

QUrl CredentialSettingsModel::modelCheckUrl(const QUrl& openAIBase, const QString& trimmedModel) {
    // "." and ".." would be read as steps along the path, and QUrl will not keep their dots
    // encoded: no model has such a name, so there is no address to check.
    if (trimmedModel.isEmpty() || trimmedModel == QLatin1String(".") || trimmedModel == QLatin1String(".."))
        return {};
    const QByteArray segment = QUrl::toPercentEncoding(trimmedModel);
    QUrl url = ProviderConfiguration::appendingPath(openAIBase, QStringLiteral("/v1/models/"));
    url.setPath(url.path(QUrl::FullyEncoded) + QString::fromLatin1(segment), QUrl::StrictMode);
    return url;
}

QCoro::Task<> CredentialSettingsModel::testOpenAIModel(QString model, QString apiKey) {
    const QString trimmed = model.trimmed();
    const QUrl url = modelCheckUrl(m_openAIBase, trimmed);
    if (!url.isValid()) throw RefinementProviderError(RefinementProviderError::Case::invalidResponse);
    const QNetworkRequest request = network::serviceRequest(url, apiKey, false);
    const network::HttpResponse response = co_await network::exchange(
        m_session, request, QByteArrayLiteral("GET"), {}, m_timing.modelCheck, nullptr);
    if (response.status == 0) throw RefinementProviderError(RefinementProviderError::Case::invalidResponse);
    if (response.status < 200 || response.status > 299)
        throw RefinementProviderError::httpStatus(response.status);
}

QCoro::Task<> CredentialSettingsModel::testOpenAI(QString transcriptionModel, QString refinementModel) {
    if (m_isTesting) co_return;
    setTesting(true);
    QPointer self(this);
    std::exception_ptr failure;
    try {
        const auto key = m_keychain.resolved(CredentialKind::openAI); // never a key that cannot be sent
        if (!key) throw DictationCoordinatorError(DictationCoordinatorError::Case::missingOpenAIKey);
        co_await testOpenAIModel(transcriptionModel, *key);
        if (!self) co_return;
        co_await testOpenAIModel(refinementModel, *key);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) co_return; // the settings window went away while we waited
    setStatusMessage(failure ? connectionMessage(failure, QStringLiteral("OpenAI"))
                             : QStringLiteral("OpenAI Key 和两个模型均可访问。"));
    setTesting(false);
}

QCoro::Task<> CredentialSettingsModel::testDeepSeek(QString model) {
    if (m_isTesting) co_return;
    setTesting(true);
    QPointer self(this);
    std::exception_ptr failure;
    try {
        const auto key = m_keychain.resolved(CredentialKind::deepSeek);
        if (!key) throw DictationCoordinatorError(DictationCoordinatorError::Case::missingDeepSeekKey);
        DeepSeekRefinementProvider provider(*key, model, m_deepSeekChatURL, m_session, m_timing.refinement,
                                            m_bundleDirectory);
        const RefinementRequest request{QStringLiteral("连接测试，不要扩写。"), InputMode::smartDictation,
                                        QStringLiteral("（无个人词典）")};
        co_await provider.refine(request); // the text itself does not matter
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self) co_return;
    setStatusMessage(failure ? connectionMessage(failure, QStringLiteral("DeepSeek"))
                             : QStringLiteral("DeepSeek 连接正常。"));
    setTesting(false);
}

QString CredentialSettingsModel::connectionMessage(std::exception_ptr error, const QString& service) {
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError& network) {
        switch (network.code()) {
        case NetworkError::cannotConnectToHost:
        case NetworkError::networkConnectionLost:
        case NetworkError::notConnectedToInternet:
        case NetworkError::secureConnectionFailed:
        case NetworkError::timedOut:
            return QStringLiteral("无法连接 %1（%2）。请检查当前网络、VPN 或系统代理后重试。")
                .arg(service)
                .arg(network.code());
        default:
            return network.description();
        }
    } catch (const Error& other) {
        return other.description();
    } catch (...) {
        return NetworkError(NetworkError::unknown).description();
    }
}

} // namespace murmelo

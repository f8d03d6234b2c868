#include "stores/KeychainStore.h"

#include "stores/APIKey.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace murmelo {

QList<CredentialKind> allCredentialKinds() {
    return {CredentialKind::openAI, CredentialKind::deepSeek};
}

QString keychainAccount(CredentialKind kind) {
    switch (kind) {
    case CredentialKind::openAI:
        return QStringLiteral("openai-api-key");
    case CredentialKind::deepSeek:
        return QStringLiteral("deepseek-api-key");
    }
    return {};
}

const char* environmentVariable(CredentialKind kind) {
    switch (kind) {
    case CredentialKind::openAI:
        return "OPENAI_API_KEY";
    case CredentialKind::deepSeek:
        return "DEEPSEEK_API_KEY";
    }
    return "";
}

QString KeychainStoreError::description() const {
    switch (m_case) {
    case Case::unexpectedStatus:
        return QStringLiteral("系统密钥环操作失败（%1）。").arg(m_status);
    case Case::encodingFailed:
        return QStringLiteral("无法编码密钥。");
    }
    return {};
}

KeychainStore::KeychainStore(std::shared_ptr<SecretBackend> backend, QString service)
    : m_backend(std::move(backend))
    , m_service(std::move(service)) {}

std::optional<QString> KeychainStore::read(CredentialKind kind) const {
    const auto bytes = m_backend->lookup(m_service, keychainAccount(kind));
    if (!bytes || bytes->isEmpty()) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString key = decoder.decode(*bytes);
    if (decoder.hasError() || key.isEmpty()) return std::nullopt;
    return key;
}

std::optional<QString> KeychainStore::resolved(CredentialKind kind) const {
    if (auto stored = read(kind); stored && isUsableAPIKey(*stored)) return stored;
    const char* variable = environmentVariable(kind);
    if (!qEnvironmentVariableIsSet(variable)) return std::nullopt;
    QString fromEnvironment = qEnvironmentVariable(variable);
    if (!isUsableAPIKey(fromEnvironment)) return std::nullopt;
    return fromEnvironment;
}

void KeychainStore::save(const QString& key, CredentialKind kind) const {
    QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(key);
    // A lone surrogate would be stored as a replacement character, that is a different key.
    if (encoder.hasError()) throw KeychainStoreError::encodingFailed();
    // Stored, such a key could never be used; saying "saved" would be a lie.
    if (!key.isEmpty() && !isUsableAPIKey(key)) throw KeychainStoreError::encodingFailed();
    if (const qint32 status = m_backend->store(m_service, keychainAccount(kind), bytes); status != 0)
        throw KeychainStoreError::unexpectedStatus(status);
}

void KeychainStore::remove(CredentialKind kind) const {
    if (const qint32 status = m_backend->clear(m_service, keychainAccount(kind)); status != 0)
        throw KeychainStoreError::unexpectedStatus(status);
}

} // namespace murmelo

#pragma once

#include "common/Error.h"
#include "stores/SecretBackend.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace murmelo {

// Which API key is meant.
enum class CredentialKind { openAI, deepSeek };

QList<CredentialKind> allCredentialKinds();
// The keyring account of the kind's item: "openai-api-key", "deepseek-api-key".
QString keychainAccount(CredentialKind kind);
// The environment variable used when the keyring holds no key: "OPENAI_API_KEY", "DEEPSEEK_API_KEY".
const char* environmentVariable(CredentialKind kind);

class KeychainStoreError final : public Error {
public:
    enum class Case { unexpectedStatus, encodingFailed };
    // `status` is the back end's non-zero status; for the Secret Service back end, the code of the
    // GError that ended the call (see SecretBackendLibsecret.h).
    static KeychainStoreError unexpectedStatus(qint32 status) {
        return KeychainStoreError(Case::unexpectedStatus, status);
    }
    static KeychainStoreError encodingFailed() { return KeychainStoreError(Case::encodingFailed, 0); }

    Case kind() const { return m_case; }
    qint32 status() const { return m_status; }
    QString description() const override;
    bool operator==(const KeychainStoreError&) const = default;

private:
    KeychainStoreError(Case kind, qint32 status)
        : m_case(kind)
        , m_status(status) {}

    Case m_case;
    qint32 m_status; // payload of unexpectedStatus only
};

// The two API keys in the desktop keyring, one item per kind under one service name, with the
// environment as a fallback. A cheap value: copies share the back end and see the same items.
// Keys never appear in errors or anywhere but the keyring.
class KeychainStore {
public:
    static inline const QString defaultService = QStringLiteral("com.murmelo.credentials");

    explicit KeychainStore(std::shared_ptr<SecretBackend> backend, QString service = defaultService);

    QString service() const { return m_service; }

    // The stored key exactly as saved, or nothing when there is none or it is empty, not UTF-8, or
    // unreadable for any reason (locked, no service, timed out). Never fails.
    std::optional<QString> read(CredentialKind kind) const;
    // The key to use: the stored one, else the kind's environment variable when set and not
    // empty. A key holding a control character is never used (it could split a request header):
    // such a stored key yields to the environment, and such an environment value counts as unset.
    std::optional<QString> resolved(CredentialKind kind) const;
    // Replaces the stored key byte for byte (trimming is the caller's job) in one keyring call, so
    // a failed save keeps the previous key. Throws KeychainStoreError: encodingFailed for text that
    // is not valid UTF-16 or holds a control character, unexpectedStatus when the keyring refuses.
    void save(const QString& key, CredentialKind kind) const;
    // Removes the stored key; removing a missing key succeeds. Throws KeychainStoreError.
    void remove(CredentialKind kind) const;

private:
    std::shared_ptr<SecretBackend> m_backend;
    QString m_service;
};

} // namespace murmelo

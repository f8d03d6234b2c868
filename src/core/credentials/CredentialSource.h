#pragma once

#include <QString>

#include <optional>

#if __has_include("stores/KeychainStore.h")
#include "stores/KeychainStore.h"
#else
namespace murmelo {
// Which API key is meant (the keychain store declares it once it is in the tree).
enum class CredentialKind { openAI, deepSeek };
} // namespace murmelo
#endif

namespace murmelo {

// Where the credential settings keep the API keys: the keychain store in the application, a
// recording fake in tests.
class CredentialSource {
public:
    virtual ~CredentialSource() = default;
    // The key to use, with the environment as a fallback; nothing when there is none.
    virtual std::optional<QString> resolved(CredentialKind kind) const = 0;
    // Replaces the stored key; throws an Error whose description the user sees.
    virtual void save(const QString& key, CredentialKind kind) = 0;
    // Removes the stored key; removing a missing key succeeds. Throws an Error.
    virtual void remove(CredentialKind kind) = 0;
};

} // namespace murmelo

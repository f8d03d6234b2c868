#pragma once

#include "common/Error.h"
#include "credentials/CredentialSource.h"

#include <QHash>
#include <QList>

#include <optional>

namespace murmelo {

// Keeps keys in memory, with a stand-in environment; can be told to fail and records every call.
class CredentialSourceFake final : public CredentialSource {
public:
    class Failure final : public Error {
    public:
        QString description() const override { return QStringLiteral("Keychain 操作失败（-25293）。"); }
    };

    QHash<CredentialKind, QString> stored;
    QHash<CredentialKind, QString> environment;
    bool failSave = false;
    bool failRemove = false;
    mutable int resolveCalls = 0;
    QList<std::pair<QString, CredentialKind>> saves;
    QList<CredentialKind> removals;

    std::optional<QString> resolved(CredentialKind kind) const override {
        ++resolveCalls;
        if (!stored.value(kind).isEmpty()) return stored.value(kind);
        if (!environment.value(kind).isEmpty()) return environment.value(kind);
        return std::nullopt;
    }
    void save(const QString& key, CredentialKind kind) override {
        saves.append({key, kind});
        if (failSave) throw Failure();
        stored.insert(kind, key);
    }
    void remove(CredentialKind kind) override {
        removals.append(kind);
        if (failRemove) throw Failure();
        stored.remove(kind);
    }
};

} // namespace murmelo

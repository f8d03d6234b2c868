#pragma once

#include "stores/SecretBackend.h"

#include <QMap>
#include <QPair>

// An in-memory keyring that counts its calls and can be told to be unavailable or to refuse.
class SecretBackendFake final : public murmelo::SecretBackend {
public:
    using Key = QPair<QString, QString>; // service, account

    QMap<Key, QByteArray> items;
    bool reachable = true;  // false: lookups find nothing, as with a locked collection or no service
    qint32 storeStatus = 0; // non-zero: store fails with it and leaves the item as it was
    qint32 clearStatus = 0; // non-zero: clear fails with it
    murmelo::SecretServiceStatus status = murmelo::SecretServiceStatus::reachable; // what serviceStatus() says
    int lookups = 0, stores = 0, clears = 0;

    std::optional<QByteArray> lookup(const QString& service, const QString& account) override {
        ++lookups;
        if (!reachable || !items.contains({service, account})) return std::nullopt;
        return items.value({service, account});
    }
    qint32 store(const QString& service, const QString& account, const QByteArray& secret) override {
        ++stores;
        if (storeStatus == 0) items.insert({service, account}, secret);
        return storeStatus;
    }
    qint32 clear(const QString& service, const QString& account) override {
        ++clears;
        if (clearStatus == 0) items.remove({service, account});
        return clearStatus;
    }
    QCoro::Task<murmelo::SecretServiceStatus> serviceStatus() override { co_return status; }
};

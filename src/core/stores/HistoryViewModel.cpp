#include "stores/HistoryViewModel.h"

#include "stores/HistoryStore.h"

#include <QPointer>

namespace murmelo {

HistoryViewModel::HistoryViewModel(HistoryStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store) {}

QCoro::Task<> HistoryViewModel::load() {
    if (m_isLoading) co_return;
    QPointer self(this);
    setLoading(true);
    QList<HistoryEntry> entries = co_await m_store.allEntries();
    if (!self) co_return;
    setEntries(std::move(entries));
    setLoading(false);
}

QCoro::Task<> HistoryViewModel::remove(QUuid id) {
    QPointer self(this);
    co_await m_store.remove(id);
    if (!self) co_return;
    QList<HistoryEntry> entries = co_await m_store.allEntries();
    if (!self) co_return;
    setEntries(std::move(entries));
}

QCoro::Task<> HistoryViewModel::clear() {
    QPointer self(this);
    co_await m_store.clear();
    if (!self) co_return;
    setEntries({});
}

void HistoryViewModel::setEntries(QList<HistoryEntry> entries) {
    m_entries = std::move(entries);
    emit entriesChanged();
}

void HistoryViewModel::setLoading(bool loading) {
    if (m_isLoading == loading) return;
    m_isLoading = loading;
    emit isLoadingChanged();
}

} // namespace murmelo

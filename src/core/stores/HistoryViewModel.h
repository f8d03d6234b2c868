#pragma once

#include "stores/HistoryEntry.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QUuid>

namespace murmelo {

class HistoryStore;

// What the history tab shows: the store's entries as of the last load, delete or clear, newest
// first. Main thread only; the store must outlive the model. The operations never fail (the store
// swallows its file errors), so callers may start them and drop the task.
class HistoryViewModel final : public QObject {
    Q_OBJECT
public:
    explicit HistoryViewModel(HistoryStore& store, QObject* parent = nullptr);

    const QList<HistoryEntry>& entries() const { return m_entries; }
    bool isLoading() const { return m_isLoading; }

    // Fetches every entry. Ignored while a load is already running.
    QCoro::Task<> load();
    // Deletes the entry with this id, then shows what the store holds afterwards.
    QCoro::Task<> remove(QUuid id);
    // Empties the history and deletes its file.
    QCoro::Task<> clear();

signals:
    void entriesChanged();
    void isLoadingChanged();

private:
    void setEntries(QList<HistoryEntry> entries);
    void setLoading(bool loading);

    HistoryStore& m_store;
    QList<HistoryEntry> m_entries;
    bool m_isLoading = false;
};

} // namespace murmelo

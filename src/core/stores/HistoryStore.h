#pragma once

#include "common/AsyncMutex.h"
#include "stores/HistoryEntry.h"
#include "stores/StoreFile.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUuid>

#include <memory>

namespace murmelo {

// The local history of finished dictations, newest first, at most 500 entries, in one JSON file.
// Operations run one at a time in call order. None of them fails: file errors are swallowed, an
// undecodable file reads as an empty history and is moved aside before the first write replaces
// it. The list is (re)read from the file whenever it is empty in memory.
class HistoryStore final {
public:
    static constexpr qsizetype maximumEntries = 500;

    // $XDG_DATA_HOME/Murmelo/history.json
    static QString defaultFilePath();

    // Does not touch the file.
    explicit HistoryStore(QString filePath = defaultFilePath());

    QString filePath() const { return m_state->file.path(); }

    // Inserts the entry at the front, drops what lies beyond the limit, and writes the file.
    QCoro::Task<> append(HistoryEntry entry);
    QCoro::Task<QList<HistoryEntry>> allEntries();
    // Removes every entry with this id and writes the file, also when none matched.
    QCoro::Task<> remove(QUuid id);
    // Empties the list and deletes the file; the directory stays.
    QCoro::Task<> clear();

private:
    // Lives as long as the last operation that uses it, so a store destroyed while an operation
    // waits for its turn leaves nothing dangling.
    struct State {
        explicit State(QString path)
            : file(std::move(path)) {}
        AsyncMutex mutex;
        StoreFile file;
        QList<HistoryEntry> entries;
        // The compact JSON of each entry, parallel to `entries`; empty until first needed. A change
        // then encodes only the entries it adds, not all 500.
        QList<QByteArray> encoded;

        void loadIfNeeded();
        void persist();
    };

    static QCoro::Task<> appendTo(std::shared_ptr<State> state, HistoryEntry entry);
    static QCoro::Task<QList<HistoryEntry>> entriesOf(std::shared_ptr<State> state);
    static QCoro::Task<> removeFrom(std::shared_ptr<State> state, QUuid id);
    static QCoro::Task<> clearAll(std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
};

} // namespace murmelo

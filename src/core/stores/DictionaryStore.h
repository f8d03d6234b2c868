#pragma once

#include "stores/DictionaryEntry.h"
#include "stores/StoreFile.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace murmelo {

// The personal dictionary: an observable list of terms kept in one JSON file. It feeds recognition
// hints (keywords) and the refinement glossary. Main thread only; file access is synchronous.
class DictionaryStore final : public QObject {
    Q_OBJECT
public:
    // $XDG_DATA_HOME/Murmelo/dictionary.json
    static QString defaultFilePath();

    // Reads the file once, now. A missing or undecodable file gives an empty dictionary without a
    // word; an undecodable one is moved aside before the first write would replace it.
    explicit DictionaryStore(QString filePath = defaultFilePath(), QObject* parent = nullptr);

    QString filePath() const { return m_file.path(); }
    const QList<DictionaryEntry>& entries() const { return m_entries; }

    // Every change is written at once. Write failures are not reported to the user: the entries
    // stay as edited in memory and the next successful write stores them. The result says whether
    // this write succeeded.
    bool setEntries(QList<DictionaryEntry> entries);
    bool add(DictionaryEntry entry);
    // Removes the entries at these list positions; positions out of range are ignored.
    bool removeAt(const QList<int>& positions);
    bool persist();

    // Canonical forms and aliases in entry order, leaving out those that are blank after trimming;
    // the kept strings are returned untrimmed, without de-duplication.
    QStringList keywords() const;
    // One line per entry for the refinement request, or "（无个人词典）" when there is none.
    QString glossaryText() const;

signals:
    void entriesChanged();

private:
    void load();

    StoreFile m_file;
    QList<DictionaryEntry> m_entries;
};

} // namespace murmelo

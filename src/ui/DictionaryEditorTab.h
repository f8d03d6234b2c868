#pragma once

#include "stores/DictionaryEntry.h"

#include <QWidget>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace murmelo {

class DictionaryStore;

// The dictionary tab: a form that adds one entry at a time and the list of all entries, from
// which selected rows are deleted together (Delete key or the context menu). Every change is
// written to the dictionary file at once by the store.
class DictionaryEditorTab final : public QWidget {
    Q_OBJECT
public:
    static constexpr int detailRole = Qt::UserRole + 1;
    static constexpr int idRole = Qt::UserRole + 2;

    explicit DictionaryEditorTab(DictionaryStore& dictionary, QWidget* parent = nullptr);

    // Splits at ASCII and full-width commas, trims each piece, drops the empty ones; order and
    // duplicates stay.
    static QStringList parseAliases(const QString& text);
    // The list's detail line: the kind's title, then " · " and the English form when there is one.
    static QString detailLine(const DictionaryEntry& entry);

    // Adds the form's entry and resets the form. A canonical form that is blank after trimming
    // adds nothing: the form stays as it is.
    void addEntry();
    // Removes the selected rows in one change (one write).
    void deleteSelected();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuildList();
    void updateAddButton();

    DictionaryStore& m_dictionary;
    QLineEdit* m_canonical;
    QLineEdit* m_aliases;
    QLineEdit* m_english;
    QComboBox* m_kind;
    QPushButton* m_add;
    QListWidget* m_list;
};

} // namespace murmelo

#pragma once

#include "stores/HistoryEntry.h"

#include <QFrame>
#include <QLabel>
#include <QWidget>

class QMessageBox;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace murmelo {

class HistoryViewModel;
class Pasteboard;

// Plain, selectable, wrapping text that shows at most `maximumLines` lines: its height for a
// width is that of its first lines as laid out there, whatever fonts those lines fall back to.
class LineLimitedLabel final : public QLabel {
    Q_OBJECT
public:
    LineLimitedLabel(const QString& text, int maximumLines, QWidget* parent = nullptr);

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The height the whole text would need.
    int fullHeightForWidth(int width) const { return QLabel::heightForWidth(width); }

private:
    int m_maximumLines;
};

// One kept dictation: mode and time, the text (selectable, at most five lines), the measurements,
// copy and delete. Focusable, so Tab reaches it and Delete removes it.
class HistoryRow final : public QFrame {
    Q_OBJECT
public:
    static constexpr int maximumTextLines = 5;

    HistoryRow(const HistoryEntry& entry, QWidget* parent = nullptr);

    const HistoryEntry& entry() const { return m_entry; }

    // "录音 3.2s · 完成 1.0s": printf rounding, one decimal each.
    static QString measurements(const HistoryEntry& entry);
    // The creation time in the user's locale: abbreviated date, short time.
    static QString createdAtText(const HistoryEntry& entry);

signals:
    void copyRequested(const QString& text);
    void deleteRequested(QUuid id);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    HistoryEntry m_entry;
};

// The history tab: header with count, refresh and clear (with confirmation), the empty state or
// the rows. Loads each time it comes on screen.
class HistoryView final : public QWidget {
    Q_OBJECT
public:
    HistoryView(HistoryViewModel& model, Pasteboard& pasteboard, QWidget* parent = nullptr);

    bool isConfirmingClear() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuild();
    HistoryRow* rowAt(int index) const; // in list order; null past the rows
    void confirmClear();
    void copy(const QString& text);
    void remove(QUuid id);

    HistoryViewModel& m_model;
    Pasteboard& m_pasteboard;
    QLabel* m_count;
    QPushButton* m_refresh;
    QPushButton* m_clear;
    QStackedWidget* m_content;
    QWidget* m_rowsHost;
    QVBoxLayout* m_rows;
    QScrollArea* m_scroll;
    QMessageBox* m_confirmation = nullptr;
};

} // namespace murmelo

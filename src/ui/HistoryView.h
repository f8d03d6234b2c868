#pragma once

#include "stores/HistoryEntry.h"

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include <array>

class QMessageBox;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;
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

protected:
    void changeEvent(QEvent* event) override;

private:
    int layOutHeightForWidth(int width) const;

    int m_maximumLines;
    // The last widths asked for and their heights. Every layout pass of a long list asks each row
    // again, at the widths with and without a scroll bar and at each pixel between, and shaping the
    // text anew each time is what made filling in a long history slow. The text is set once, at
    // construction.
    struct CachedHeight {
        int width = -1;
        int height = 0;
    };
    mutable std::array<CachedHeight, 24> m_heights;
    mutable std::size_t m_nextHeight = 0;
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
    // True once every entry has its row: a long history fills in over several event-loop turns.
    bool isComplete() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuild();
    // Puts rows in list order from m_placed on: those the viewport shows at once, the rest a
    // few milliseconds' worth per event-loop turn, so the tab opens without a stall.
    void placeRows();
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
    QTimer* m_placeMore;
    qsizetype m_placed = 0;
};

} // namespace murmelo

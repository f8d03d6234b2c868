#include "HistoryView.h"

#include "PhasePresentation.h"
#include "SettingsWidgets.h"
#include "stores/HistoryViewModel.h"
#include "system/Pasteboard.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace murmelo {

namespace {

QLabel* captionLabel(const QString& text, QWidget* parent,
                     QPalette::ColorRole role = QPalette::PlaceholderText) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(role);
    return label;
}

} // namespace

// --- text of at most a few lines ---------------------------------------------------------------

LineLimitedLabel::LineLimitedLabel(const QString& text, int maximumLines, QWidget* parent)
    : QLabel(text, parent)
    , m_maximumLines(maximumLines) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Not a fixed height: that would make the size hint, taken at the label's own preferred
    // (narrow) width, its minimum, and a long list would get an empty tail that much taller than
    // its rows. The height comes from heightForWidth at the width the label really has.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int LineLimitedLabel::heightForWidth(int width) const {
    for (const CachedHeight& cached : m_heights)
        if (cached.width == width) return cached.height;
    const int height = layOutHeightForWidth(width);
    m_heights[m_nextHeight] = {width, height};
    m_nextHeight = (m_nextHeight + 1) % m_heights.size();
    return height;
}

void LineLimitedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::ContentsRectChange)
        m_heights.fill({});
    QLabel::changeEvent(event);
}

int LineLimitedLabel::layOutHeightForWidth(int width) const {
    const int full = QLabel::heightForWidth(width);
    const int available = width - 2 * margin() - contentsMargins().left() - contentsMargins().right();
    // Lay the paragraphs out as the label will and add up the first lines' heights.
    qreal height = 0;
    int lines = 0;
    for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(available, 1));
            height += line.height();
            if (++lines == m_maximumLines) break;
        }
        layout.endLayout();
        if (lines == m_maximumLines) break;
    }
    if (lines < m_maximumLines) return full;
    return std::min(full, int(std::ceil(height)) + contentsMargins().top() + contentsMargins().bottom() +
                              2 * margin());
}

QSize LineLimitedLabel::sizeHint() const {
    const QSize hint = QLabel::sizeHint();
    return {hint.width(), heightForWidth(hint.width())};
}

QSize LineLimitedLabel::minimumSizeHint() const {
    return {QLabel::minimumSizeHint().width(), 0};
}

// --- one row ------------------------------------------------------------------------------------

HistoryRow::HistoryRow(const HistoryEntry& entry, QWidget* parent)
    : QFrame(parent)
    , m_entry(entry) {
    setObjectName(QStringLiteral("historyRow"));
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);

    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    top->addWidget(settingsui::symbol(systemImage(entry.mode), 14, this));
    auto* mode = captionLabel(title(entry.mode), this, QPalette::WindowText);
    QFont modeFont = mode->font();
    modeFont.setWeight(QFont::Medium);
    mode->setFont(modeFont);
    mode->setObjectName(QStringLiteral("modeLabel"));
    top->addWidget(mode);
    top->addStretch();
    auto* time = captionLabel(createdAtText(entry), this);
    time->setObjectName(QStringLiteral("timeLabel"));
    top->addWidget(time);
    layout->addLayout(top);

    auto* text = new LineLimitedLabel(entry.text, maximumTextLines, this);
    text->setObjectName(QStringLiteral("textLabel"));
    // Selecting text must not steal Tab from the row's buttons.
    text->setFocusPolicy(Qt::ClickFocus);
    layout->addWidget(text);

    auto* bottom = new QHBoxLayout;
    auto* numbers = captionLabel(measurements(entry), this, QPalette::PlaceholderText);
    numbers->setObjectName(QStringLiteral("measurementsLabel"));
    bottom->addWidget(numbers);
    bottom->addStretch();
    auto* copyButton = new QPushButton(QStringLiteral("复制"), this);
    copyButton->setObjectName(QStringLiteral("copyButton"));
    copyButton->setFlat(true);
    bottom->addWidget(copyButton);
    auto* deleteButton = new QPushButton(symbolIcon(QStringLiteral("trash")), QString(), this);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    deleteButton->setFlat(true);
    deleteButton->setToolTip(QStringLiteral("删除这条历史"));
    deleteButton->setAccessibleName(QStringLiteral("删除这条历史"));
    bottom->addWidget(deleteButton);
    layout->addLayout(bottom);

    connect(copyButton, &QPushButton::clicked, this, [this] { emit copyRequested(m_entry.text); });
    connect(deleteButton, &QPushButton::clicked, this, [this] { emit deleteRequested(m_entry.id); });

    auto* copyAction = new QAction(QStringLiteral("复制"), this);
    copyAction->setObjectName(QStringLiteral("copyAction"));
    connect(copyAction, &QAction::triggered, this, [this] { emit copyRequested(m_entry.text); });
    auto* deleteAction = new QAction(QStringLiteral("删除"), this);
    deleteAction->setObjectName(QStringLiteral("deleteAction"));
    connect(deleteAction, &QAction::triggered, this, [this] { emit deleteRequested(m_entry.id); });
    addAction(copyAction);
    addAction(deleteAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString HistoryRow::measurements(const HistoryEntry& entry) {
    // The C library's printf, not Qt's formatter: ties round the way printf rounds them.
    char text[128];
    std::snprintf(text, sizeof text, "录音 %.1fs · 完成 %.1fs", entry.audioDuration, entry.completionLatency);
    return QString::fromUtf8(text);
}

QString HistoryRow::createdAtText(const HistoryEntry& entry) {
    const QDateTime local = entry.createdAtDate().toLocalTime();
    const QLocale locale;
    return locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(local.time(), QLocale::ShortFormat);
}

void HistoryRow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        emit deleteRequested(m_entry.id);
        return;
    }
    QFrame::keyPressEvent(event);
}

void HistoryRow::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    QFrame::mousePressEvent(event);
}

// --- the tab ------------------------------------------------------------------------------------

HistoryView::HistoryView(HistoryViewModel& model, Pasteboard& pasteboard, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_pasteboard(pasteboard) {
    setObjectName(QStringLiteral("historyView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("本地历史"), this);
    title->setObjectName(QStringLiteral("historyTitle"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    title->setFont(titleFont);
    header->addWidget(title);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("historyCount"));
    m_count->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(m_count);
    header->addStretch();
    m_refresh = new QPushButton(QStringLiteral("刷新"), this);
    m_refresh->setObjectName(QStringLiteral("refreshButton"));
    header->addWidget(m_refresh);
    m_clear = new QPushButton(QStringLiteral("清空"), this);
    m_clear->setObjectName(QStringLiteral("clearButton"));
    // Destructive: the same red the system uses for such actions.
    m_clear->setStyleSheet(QStringLiteral("QPushButton:enabled { color: #d70015; }"));
    header->addWidget(m_clear);
    layout->addLayout(header);

    m_content = new QStackedWidget(this);
    m_content->setObjectName(QStringLiteral("historyContent"));

    auto* empty = new QWidget(m_content);
    empty->setObjectName(QStringLiteral("historyEmptyState"));
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->addStretch();
    auto* emptySymbol = settingsui::symbol(QStringLiteral("clock.arrow.circlepath"), 40, empty);
    emptyLayout->addWidget(emptySymbol, 0, Qt::AlignHCenter);
    auto* emptyTitle = new QLabel(QStringLiteral("暂无历史记录"), empty);
    emptyTitle->setObjectName(QStringLiteral("emptyTitle"));
    QFont emptyFont = emptyTitle->font();
    emptyFont.setPointSizeF(emptyFont.pointSizeF() * 1.2);
    emptyFont.setBold(true);
    emptyTitle->setFont(emptyFont);
    emptyLayout->addWidget(emptyTitle, 0, Qt::AlignHCenter);
    auto* emptyDescription = new QLabel(
        QStringLiteral("在常规设置中开启“保存本地历史记录”后，成功结果会保存在这台电脑上。"), empty);
    emptyDescription->setObjectName(QStringLiteral("emptyDescription"));
    emptyDescription->setForegroundRole(QPalette::PlaceholderText);
    emptyDescription->setWordWrap(true);
    emptyDescription->setAlignment(Qt::AlignHCenter);
    emptyLayout->addWidget(emptyDescription);
    emptyLayout->addStretch();
    m_content->addWidget(empty);

    m_scroll = new QScrollArea(m_content);
    m_scroll->setObjectName(QStringLiteral("historyList"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus); // the rows take focus, not the frame around them
    m_rowsHost = new QWidget(m_scroll);
    // A focused row is the one Delete removes: show which it is. One sheet for all rows, parsed once.
    m_rowsHost->setStyleSheet(
        QStringLiteral("#historyRow { border: 1px solid transparent; border-radius: 6px; }"
                       "#historyRow:focus { border: 1px solid palette(highlight); }"));
    m_rows = new QVBoxLayout(m_rowsHost);
    m_rows->setContentsMargins(4, 4, 4, 4);
    m_rows->setSpacing(4);
    m_rows->addStretch();
    m_scroll->setWidget(m_rowsHost);
    m_content->addWidget(m_scroll);
    layout->addWidget(m_content, 1);

    m_placeMore = new QTimer(this);
    m_placeMore->setSingleShot(true);
    m_placeMore->setInterval(0);
    connect(m_placeMore, &QTimer::timeout, this, &HistoryView::placeRows);

    connect(m_refresh, &QPushButton::clicked, this, [this] { m_model.load(); });
    connect(m_clear, &QPushButton::clicked, this, &HistoryView::confirmClear);
    connect(&m_model, &HistoryViewModel::entriesChanged, this, &HistoryView::rebuild);
    rebuild();
}

bool HistoryView::isConfirmingClear() const {
    return m_confirmation && m_confirmation->isVisible();
}

bool HistoryView::isComplete() const {
    return m_placed >= m_model.entries().size();
}

void HistoryView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) m_model.load();
}

HistoryRow* HistoryView::rowAt(int index) const {
    QLayoutItem* item = m_rows->itemAt(index);
    return item ? qobject_cast<HistoryRow*>(item->widget()) : nullptr;
}

void HistoryView::rebuild() {
    const auto& entries = m_model.entries();
    m_count->setText(QString::number(entries.size()) + QStringLiteral(" 条"));
    m_clear->setEnabled(!entries.isEmpty());

    // Only what changed since the last build is touched: opening the tab again with the same
    // history costs nothing, one more dictation costs one row.
    QHash<QUuid, const HistoryEntry*> wanted;
    wanted.reserve(entries.size());
    for (const HistoryEntry& entry : entries)
        wanted.insert(entry.id, &entry);

    // Keep the focus at the same position when the row that had it goes away.
    int focusedIndex = -1;
    QWidget* focused = QApplication::focusWidget();
    QHash<QUuid, HistoryRow*> kept;
    for (int i = m_rows->count() - 2; i >= 0; --i) { // the last item is the stretch
        HistoryRow* row = rowAt(i);
        const HistoryEntry* entry = wanted.value(row->entry().id);
        if (entry && *entry == row->entry()) {
            kept.insert(entry->id, row);
            continue;
        }
        if (focused && (row == focused || row->isAncestorOf(focused))) focusedIndex = i;
        // A row may be asking for its own deletion right now (its button, its Delete key): it goes
        // later, once that call has returned.
        delete m_rows->takeAt(i);
        row->hide();
        row->disconnect(this);
        row->deleteLater();
    }

    m_content->setCurrentIndex(entries.isEmpty() ? 0 : 1);
    m_placed = 0;
    placeRows();

    if (focusedIndex >= 0) {
        if (entries.isEmpty())
            m_refresh->setFocus();
        else if (HistoryRow* row = rowAt(std::min<int>(focusedIndex, int(m_placed) - 1)))
            row->setFocus();
    }
}

void HistoryView::placeRows() {
    const auto& entries = m_model.entries();
    // Rows past m_placed are kept rows not yet in their places; each row found in place is skipped.
    QHash<QUuid, HistoryRow*> unplaced;
    for (int i = int(m_placed); i < m_rows->count() - 1; ++i) // the last item is the stretch
        if (HistoryRow* row = rowAt(i)) unplaced.insert(row->entry().id, row);

    // First what the viewport shows, then a few milliseconds' worth per turn. Laying a row out is
    // what costs (its text's shaping), so the heights are asked for now, not at the next paint.
    const bool first = m_placed == 0;
    const int width = std::max(m_scroll->viewport()->width() - 8, 1);
    const int fill = std::max(m_scroll->viewport()->height(), 1);
    int filled = 0;
    QElapsedTimer clock;
    clock.start();
    for (; m_placed < entries.size(); ++m_placed) {
        if (first ? filled >= fill : clock.elapsed() >= 4) break;
        const int i = int(m_placed);
        HistoryRow* row = unplaced.take(entries[i].id);
        if (row && rowAt(i) == row) continue;
        if (row) {
            m_rows->removeWidget(row);
        } else {
            row = new HistoryRow(entries[i], m_rowsHost);
            connect(row, &HistoryRow::copyRequested, this, &HistoryView::copy);
            connect(row, &HistoryRow::deleteRequested, this, &HistoryView::remove);
            filled += row->heightForWidth(width);
        }
        m_rows->insertWidget(i, row);
        // Tab, assistive tools and child order follow the list's order, not the rows' age.
        if (HistoryRow* next = rowAt(i + 1)) row->stackUnder(next);
        QWidget::setTabOrder(i > 0 ? static_cast<QWidget*>(rowAt(i - 1)) : m_clear, row);
    }
    if (m_placed < entries.size()) m_placeMore->start();
}

void HistoryView::confirmClear() {
    if (!m_confirmation) {
        m_confirmation = new QMessageBox(this);
        m_confirmation->setObjectName(QStringLiteral("clearConfirmation"));
        m_confirmation->setIcon(QMessageBox::Warning);
        m_confirmation->setWindowTitle(QStringLiteral("清空所有本地历史记录？"));
        m_confirmation->setText(QStringLiteral("清空所有本地历史记录？"));
        m_confirmation->setInformativeText(QStringLiteral("此操作无法撤销，但不会影响系统剪贴板中的内容。"));
        auto* cancel = m_confirmation->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        cancel->setObjectName(QStringLiteral("cancelClearButton"));
        auto* confirm = m_confirmation->addButton(QStringLiteral("清空"), QMessageBox::DestructiveRole);
        confirm->setObjectName(QStringLiteral("confirmClearButton"));
        m_confirmation->setDefaultButton(cancel);
        m_confirmation->setEscapeButton(cancel);
        connect(m_confirmation, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* button) {
            if (button == confirm) m_model.clear();
        });
    }
    m_confirmation->open();
}

void HistoryView::copy(const QString& text) {
    (void)m_pasteboard.replaceContents(text);
}

void HistoryView::remove(QUuid id) {
    m_model.remove(id);
}

} // namespace murmelo

#include "DictionaryEditorTab.h"

#include "stores/DictionaryStore.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace murmelo {

namespace {

// Two lines per entry: the canonical form in medium weight, the detail line smaller and dimmer.
class EntryDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        QStyle* style = background.widget ? background.widget->style() : nullptr;
        if (style) style->drawControl(QStyle::CE_ItemViewItem, &background, painter, background.widget);

        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        const QRect area = option.rect.adjusted(8, 4, -8, -4);
        painter->save();
        QFont title = option.font;
        title.setWeight(QFont::Medium);
        painter->setFont(title);
        painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        const int titleHeight = QFontMetrics(title).height();
        painter->drawText(QRect(area.left(), area.top(), area.width(), titleHeight),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(title).elidedText(index.data(Qt::DisplayRole).toString(),
                                                         Qt::ElideRight, area.width()));
        const QFont detail = detailFont(option.font);
        painter->setFont(detail);
        painter->setPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::PlaceholderText));
        painter->drawText(
            QRect(area.left(), area.top() + titleHeight + 2, area.width(), QFontMetrics(detail).height()),
            Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(detail).elidedText(index.data(DictionaryEditorTab::detailRole).toString(),
                                            Qt::ElideRight, area.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(),
                QFontMetrics(option.font).height() + 2 + QFontMetrics(detailFont(option.font)).height() + 8};
    }

private:
    static QFont detailFont(QFont font) {
        font.setPointSizeF(font.pointSizeF() * 0.85);
        return font;
    }
};

} // namespace

DictionaryEditorTab::DictionaryEditorTab(DictionaryStore& dictionary, QWidget* parent)
    : QWidget(parent)
    , m_dictionary(dictionary) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    auto* form = new QGroupBox(this);
    form->setObjectName(QStringLiteral("dictionaryForm"));
    auto* formLayout = new QFormLayout(form);
    m_canonical = new QLineEdit(form);
    m_canonical->setObjectName(QStringLiteral("canonicalField"));
    formLayout->addRow(QStringLiteral("标准写法"), m_canonical);
    m_aliases = new QLineEdit(form);
    m_aliases->setObjectName(QStringLiteral("aliasesField"));
    formLayout->addRow(QStringLiteral("别名或常见误写（用逗号分隔）"), m_aliases);
    m_english = new QLineEdit(form);
    m_english->setObjectName(QStringLiteral("englishField"));
    formLayout->addRow(QStringLiteral("英文写法（可选）"), m_english);
    m_kind = new QComboBox(form);
    m_kind->setObjectName(QStringLiteral("kindPicker"));
    for (DictionaryEntryKind kind : allDictionaryEntryKinds())
        m_kind->addItem(title(kind), int(kind));
    m_kind->setCurrentIndex(m_kind->findData(int(DictionaryEntryKind::other)));
    m_kind->installEventFilter(this); // Return on the picker adds, as in the text fields
    formLayout->addRow(QStringLiteral("类型"), m_kind);
    m_add = new QPushButton(QStringLiteral("添加词条"), form);
    m_add->setObjectName(QStringLiteral("addEntryButton"));
    m_add->setDefault(true);
    formLayout->addRow(m_add);
    layout->addWidget(form);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("dictionaryList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setItemDelegate(new EntryDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->installEventFilter(this);
    auto* deleteAction = new QAction(QStringLiteral("删除"), m_list);
    deleteAction->setObjectName(QStringLiteral("deleteEntriesAction"));
    connect(deleteAction, &QAction::triggered, this, &DictionaryEditorTab::deleteSelected);
    m_list->addAction(deleteAction);
    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    layout->addWidget(m_list, 1);

    connect(m_canonical, &QLineEdit::textChanged, this, &DictionaryEditorTab::updateAddButton);
    connect(m_add, &QPushButton::clicked, this, &DictionaryEditorTab::addEntry);
    // Return in any field of the form is the add button's key, as in a dialog.
    for (QLineEdit* field : {m_canonical, m_aliases, m_english})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (m_add->isEnabled()) addEntry();
        });
    connect(&m_dictionary, &DictionaryStore::entriesChanged, this, &DictionaryEditorTab::rebuildList);
    rebuildList();
    updateAddButton();
}

QStringList DictionaryEditorTab::parseAliases(const QString& text) {
    static const QRegularExpression commas(QStringLiteral("[,\uFF0C]"));
    QStringList aliases;
    for (const QString& piece : text.split(commas, Qt::SkipEmptyParts)) {
        const QString trimmed = piece.trimmed();
        if (!trimmed.isEmpty()) aliases.append(trimmed);
    }
    return aliases;
}

QString DictionaryEditorTab::detailLine(const DictionaryEntry& entry) {
    QString line = title(entry.kind);
    if (entry.english) line += QStringLiteral(" · ") + *entry.english;
    return line;
}

void DictionaryEditorTab::addEntry() {
    const QString canonical = m_canonical->text().trimmed();
    // The button is disabled for a blank form; a caller that bypasses it must not add one either.
    if (canonical.isEmpty()) return;
    DictionaryEntry entry;
    entry.canonical = canonical;
    entry.aliases = parseAliases(m_aliases->text());
    entry.kind = DictionaryEntryKind(m_kind->currentData().toInt());
    const QString english = m_english->text().trimmed();
    if (!english.isEmpty()) entry.english = english;
    m_dictionary.add(std::move(entry));

    m_canonical->clear();
    m_aliases->clear();
    m_english->clear();
    m_kind->setCurrentIndex(m_kind->findData(int(DictionaryEntryKind::other)));
    m_canonical->setFocus();
}

void DictionaryEditorTab::deleteSelected() {
    QList<int> positions;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        positions.append(index.row());
    if (positions.isEmpty()) return;
    const int next = *std::min_element(positions.begin(), positions.end());
    m_dictionary.removeAt(positions);
    if (m_list->count() > 0) m_list->setCurrentRow(std::min(next, m_list->count() - 1));
}

bool DictionaryEditorTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_kind && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_kind->view()->isVisible()) {
            if (m_add->isEnabled()) addEntry();
            return true;
        }
    }
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            deleteSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DictionaryEditorTab::rebuildList() {
    m_list->clear();
    for (const DictionaryEntry& entry : m_dictionary.entries()) {
        auto* item = new QListWidgetItem(entry.canonical, m_list);
        item->setData(detailRole, detailLine(entry));
        item->setData(idRole, entry.id);
        item->setToolTip(entry.canonical);
    }
}

void DictionaryEditorTab::updateAddButton() {
    m_add->setEnabled(!m_canonical->text().trimmed().isEmpty());
}

} // namespace murmelo

#include "MenuBarView.h"

#include "PhasePresentation.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"

#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace murmelo {
namespace {

QPushButton* addButton(QVBoxLayout* layout, const QString& name, const QString& title) {
    auto* button = new QPushButton(title);
    button->setObjectName(name);
    layout->addWidget(button);
    return button;
}

void makeSecondary(QLabel* label, int pixelSize) {
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

} // namespace

MenuBarView::MenuBarView(AppState& state, AppSettings& settings, MenuActions actions, QWidget* parent)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint)
    , m_state(state)
    , m_settings(settings)
    , m_actions(std::move(actions)) {
    setObjectName(QStringLiteral("menuBarPanel"));
    // Never shown by a window list (a popup), but it lets tools and the desktop tests find it.
    setWindowTitle(QStringLiteral("Murmelo 面板"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(panelWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(14, 14, 14, 14);

    auto* header = new QHBoxLayout;
    m_phaseIcon = new QLabel;
    m_phaseIcon->setObjectName(QStringLiteral("phaseIcon"));
    m_phaseIcon->setFixedSize(22, 22);
    auto* headerTexts = new QVBoxLayout;
    headerTexts->setSpacing(2);
    m_phaseTitle = new QLabel;
    m_phaseTitle->setObjectName(QStringLiteral("phaseTitle"));
    m_phaseTitle->setWordWrap(true);
    QFont headline = m_phaseTitle->font();
    headline.setBold(true);
    m_phaseTitle->setFont(headline);
    m_hotkeyLine = new QLabel;
    m_hotkeyLine->setObjectName(QStringLiteral("hotkeyLine"));
    makeSecondary(m_hotkeyLine, 11);
    headerTexts->addWidget(m_phaseTitle);
    headerTexts->addWidget(m_hotkeyLine);
    header->addWidget(m_phaseIcon, 0, Qt::AlignTop);
    header->addLayout(headerTexts, 1);
    layout->addLayout(header);

    auto* modeRow = new QHBoxLayout;
    auto* modeLabel = new QLabel(QStringLiteral("模式"));
    m_mode = new QComboBox;
    m_mode->setObjectName(QStringLiteral("modePicker"));
    modeLabel->setBuddy(m_mode);
    for (InputMode mode : allCases<InputMode>())
        m_mode->addItem(symbolIcon(systemImage(mode)), title(mode), QVariant::fromValue(int(mode)));
    modeRow->addWidget(modeLabel);
    modeRow->addWidget(m_mode, 1);
    layout->addLayout(modeRow);
    connect(m_mode, &QComboBox::activated, this,
            [this](int index) { m_settings.setInputMode(InputMode(m_mode->itemData(index).toInt())); });

    m_startStop = addButton(layout, QStringLiteral("startStopButton"), {});
    // The panel closes before it acts: an open popup holds the keyboard grab, so a paste would reach
    // the panel instead of the window the user was typing in.
    connect(m_startStop, &QPushButton::clicked, this, [this] {
        hide();
        m_actions.toggleDictation();
    });
    m_cancel = addButton(layout, QStringLiteral("cancelButton"), QStringLiteral("取消听写"));
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        hide();
        m_actions.cancelDictation();
    });
    m_copy = addButton(layout, QStringLiteral("copyButton"), QStringLiteral("复制最近结果"));
    connect(m_copy, &QPushButton::clicked, this, [this] {
        hide();
        m_actions.copyBestAvailableText();
    });
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setWordWrap(true);
    makeSecondary(m_status, 11);
    layout->addWidget(m_status);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    // Only when something is wrong: the settings window tells what and what to do about it.
    m_pasteUnavailable =
        addButton(layout, QStringLiteral("pasteUnavailableButton"), QStringLiteral("自动粘贴不可用…"));
    connect(m_pasteUnavailable, &QPushButton::clicked, this, [this] {
        hide();
        m_actions.openEnvironmentChecks();
    });
    auto* settingsButton = addButton(layout, QStringLiteral("settingsButton"), QStringLiteral("设置…"));
    connect(settingsButton, &QPushButton::clicked, this, [this] {
        hide();
        m_actions.openSettings();
    });
    auto* quitButton = addButton(layout, QStringLiteral("quitButton"), QStringLiteral("退出 Murmelo"));
    connect(quitButton, &QPushButton::clicked, this, [this] { m_actions.quit(); });

    // The state changes ten times a second while recording; a hidden panel is rebuilt when it opens.
    const auto rebuildIfShown = [this] {
        if (isVisible()) rebuild();
    };
    connect(&m_state, &AppState::changed, this, rebuildIfShown);
    connect(&m_settings, &AppSettings::changed, this, rebuildIfShown);
    rebuild();
}

void MenuBarView::rebuild() {
    const DictationPhase phase = m_state.phase();
    const auto presentation = PhasePresentation::of(phase);
    m_phaseIcon->setPixmap(symbolIcon(presentation.symbol).pixmap(m_phaseIcon->size()));
    m_phaseTitle->setText(presentation.title);
    m_hotkeyLine->setText(shortTitle(m_settings.hotkeyPreset()) + QStringLiteral(" 开始 / 停止"));
    m_mode->setCurrentIndex(m_mode->findData(int(m_settings.inputMode())));

    using Kind = DictationPhase::Kind;
    const bool recording = phase.is(Kind::recording);
    const bool busy = phase.is(Kind::transcribing) || phase.is(Kind::refining) || phase.is(Kind::inserting);
    m_startStop->setText(recording ? QStringLiteral("停止并处理") : QStringLiteral("开始语音输入"));
    m_startStop->setEnabled(!busy);
    m_cancel->setVisible(phase.isCancellable());
    m_copy->setVisible(!m_state.finalText().isEmpty() || !m_state.rawTranscript().isEmpty());
    m_status->setText(m_state.statusDetail());
    m_status->setVisible(!m_state.statusDetail().isEmpty());
    m_pasteUnavailable->setVisible(m_actions.automaticPasteAvailable && !m_actions.automaticPasteAvailable());
    adjustSize();
}

void MenuBarView::popUp(const QRect& anchor) {
    rebuild();
    adjustSize();
    // Trays that tell no icon geometry (StatusNotifierItem hosts) were clicked where the pointer is.
    const QRect icon = anchor.isValid() ? anchor : QRect(QCursor::pos(), QSize(1, 1));
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    // Below a tray at the top, above one at the bottom; always inside the screen.
    QPoint origin(icon.center().x() - width() / 2, icon.bottom() + 4);
    if (icon.center().y() > area.center().y()) origin.setY(icon.top() - height() - 4);
    origin.setX(std::clamp(origin.x(), area.left(), std::max(area.left(), area.right() + 1 - width())));
    origin.setY(std::clamp(origin.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
    move(origin);
    show();
    raise();
    activateWindow();
    // Opened for the main action: Space starts or stops at once, without aiming the pointer.
    if (m_startStop->isEnabled()) m_startStop->setFocus(Qt::PopupFocusReason);
}

} // namespace murmelo

#include "TrayIcon.h"

#include "PhasePresentation.h"
#include "dictation/AppState.h"
#include "settings/AppSettings.h"

#include <QActionGroup>

namespace murmelo {

TrayIcon::TrayIcon(AppState& state, AppSettings& settings, MenuActions actions, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_settings(settings)
    , m_actions(actions)
    , m_panel(state, settings, std::move(actions)) {
    m_modeMenu = m_menu.addMenu(QStringLiteral("模式"));
    auto* modes = new QActionGroup(m_modeMenu);
    for (InputMode mode : allCases<InputMode>()) {
        QAction* action = m_modeMenu->addAction(symbolIcon(systemImage(mode)), title(mode));
        action->setCheckable(true);
        action->setData(int(mode));
        modes->addAction(action);
        connect(action, &QAction::triggered, this, [this, mode] { m_settings.setInputMode(mode); });
    }
    m_startStop = m_menu.addAction(QString());
    m_startStop->setObjectName(QStringLiteral("startStopAction"));
    connect(m_startStop, &QAction::triggered, this, [this] { m_actions.toggleDictation(); });
    m_cancel = m_menu.addAction(QStringLiteral("取消听写"));
    m_cancel->setObjectName(QStringLiteral("cancelAction"));
    connect(m_cancel, &QAction::triggered, this, [this] { m_actions.cancelDictation(); });
    m_copy = m_menu.addAction(QStringLiteral("复制最近结果"));
    m_copy->setObjectName(QStringLiteral("copyAction"));
    connect(m_copy, &QAction::triggered, this, [this] { m_actions.copyBestAvailableText(); });
    m_menu.addSeparator();
    QAction* settingsAction = m_menu.addAction(QStringLiteral("设置…"));
    settingsAction->setObjectName(QStringLiteral("settingsAction"));
    connect(settingsAction, &QAction::triggered, this, [this] { m_actions.openSettings(); });
    QAction* quit = m_menu.addAction(QStringLiteral("退出 Murmelo"));
    quit->setObjectName(QStringLiteral("quitAction"));
    connect(quit, &QAction::triggered, this, [this] { m_actions.quit(); });
    connect(&m_menu, &QMenu::aboutToShow, this, &TrayIcon::refreshMenu);
    m_icon.setContextMenu(&m_menu);

    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            if (m_panel.isVisible())
                m_panel.hide();
            else
                m_panel.popUp(m_icon.geometry());
        }
    });
    connect(&m_state, &AppState::phaseChanged, this, &TrayIcon::showPhase);
    showPhase();
    refreshMenu();

    // Qt announces no tray appearing later, so look once a second until one does.
    m_trayWatch.setInterval(1000);
    connect(&m_trayWatch, &QTimer::timeout, this, [this] {
        if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
        m_trayWatch.stop();
        m_icon.show();
    });
}

void TrayIcon::showWhenTrayAvailable() {
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_icon.show();
    else
        m_trayWatch.start();
}

void TrayIcon::refreshMenu() {
    using Kind = DictationPhase::Kind;
    const DictationPhase phase = m_state.phase();
    const bool recording = phase.is(Kind::recording);
    m_startStop->setText(recording ? QStringLiteral("停止并处理") : QStringLiteral("开始语音输入"));
    m_startStop->setEnabled(
        !(phase.is(Kind::transcribing) || phase.is(Kind::refining) || phase.is(Kind::inserting)));
    m_cancel->setVisible(phase.isCancellable());
    m_copy->setVisible(!m_state.finalText().isEmpty() || !m_state.rawTranscript().isEmpty());
    for (QAction* action : m_modeMenu->actions())
        action->setChecked(action->data().toInt() == int(m_settings.inputMode()));
}

void TrayIcon::showPhase() {
    const auto presentation = PhasePresentation::of(m_state.phase());
    m_icon.setIcon(symbolIcon(presentation.symbol));
    m_icon.setToolTip(QStringLiteral("Murmelo — ") + presentation.title);
    refreshMenu();
}

} // namespace murmelo

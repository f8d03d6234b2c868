#include "TrayIcon.h"

#include "PhasePresentation.h"
#include "dictation/AppState.h"

namespace murmelo {

TrayIcon::TrayIcon(AppState& state, QObject* parent)
    : QObject(parent)
    , m_state(state) {
    QAction* quit = m_menu.addAction(QStringLiteral("退出 Murmelo"));
    quit->setObjectName(QStringLiteral("quitAction"));
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);
    m_icon.setContextMenu(&m_menu);
    connect(&m_state, &AppState::phaseChanged, this, &TrayIcon::showPhase);
    showPhase();
}

void TrayIcon::showPhase() {
    const auto presentation = PhasePresentation::of(m_state.phase());
    m_icon.setIcon(symbolIcon(presentation.symbol));
    m_icon.setToolTip(QStringLiteral("Murmelo — ") + presentation.title);
}

} // namespace murmelo

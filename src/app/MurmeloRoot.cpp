#include "MurmeloRoot.h"

#include "SingleInstance.h"
#include "TrayIcon.h"
#include "dictation/DictationCoordinator.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace murmelo {

MurmeloRoot::MurmeloRoot(AppBackends backends, QObject* parent)
    : QObject(parent)
    , m_container(std::make_unique<AppContainer>(std::move(backends))) {
    MenuActions actions;
    QPointer<DictationCoordinator> coordinator(&m_container->coordinator());
    actions.toggleDictation = [coordinator] {
        if (coordinator) coordinator->toggleDictation();
    };
    actions.copyBestAvailableText = [coordinator] {
        if (coordinator) coordinator->copyBestAvailableText();
    };
    actions.openSettings = [this] { openSettings(); };
    actions.quit = [] { QApplication::quit(); };
    actions.syntheticInputAvailable = [this] { return m_container->canPostInput(); };
    m_tray = std::make_unique<TrayIcon>(m_container->state(), m_container->settings(), std::move(actions));
    m_tray->showWhenTrayAvailable();
}

MurmeloRoot::~MurmeloRoot() = default;

void MurmeloRoot::openSettings() {
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<QWidget>();
        m_settingsWindow->setObjectName(QStringLiteral("settingsWindow"));
        m_settingsWindow->setWindowTitle(QStringLiteral("Murmelo 设置"));
        m_settingsWindow->resize(620, 460);
        auto* layout = new QVBoxLayout(m_settingsWindow.get());
        layout->addWidget(new QLabel(QStringLiteral("Murmelo 设置")));
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->activateWindow();
}

void MurmeloRoot::handleCommand(const QString& command) {
    if (command == SingleInstance::openSettingsCommand)
        openSettings();
    else if (command == SingleInstance::toggleCommand)
        m_container->coordinator().toggleDictation();
}

} // namespace murmelo

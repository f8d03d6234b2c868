#include "wayland/SyntheticKeyboardWtype.h"

#include "wayland/ToolProcess.h"

#include <QStandardPaths>

#include <utility>

namespace murmelo {

std::unique_ptr<SyntheticKeyboardWtype>
SyntheticKeyboardWtype::createIfSupported(const WaylandClient& compositor) {
    const QString wtype = QStandardPaths::findExecutable(QStringLiteral("wtype"));
    if (wtype.isEmpty()) return nullptr;
    const auto globals = compositor.globals();
    if (!globals || !globals->virtualKeyboard) return nullptr;
    return std::make_unique<SyntheticKeyboardWtype>(wtype, compositor);
}

SyntheticKeyboardWtype::SyntheticKeyboardWtype(QString wtype, WaylandClient compositor, WtypeTiming timing)
    : m_wtype(std::move(wtype))
    , m_compositor(std::move(compositor))
    , m_timing(timing) {}

QCoro::Task<QStringList> SyntheticKeyboardWtype::focusedWindowClasses() {
    const QString appId = co_await m_compositor.activatedAppId();
    co_return appId.isEmpty() ? QStringList() : QStringList(appId);
}

QCoro::Task<bool> SyntheticKeyboardWtype::postPasteShortcut(PasteShortcut shortcut) {
    const bool withShift = shortcut == PasteShortcut::controlShift;
    // wtype runs its options in order: sleep, press the modifiers, type V, release them.
    QStringList arguments;
    if (m_timing.firstKeyDelay.count() > 0) // wtype takes no zero sleep
        arguments << QStringLiteral("-s") << QString::number(m_timing.firstKeyDelay.count());
    arguments << QStringLiteral("-M") << QStringLiteral("ctrl");
    if (withShift) arguments << QStringLiteral("-M") << QStringLiteral("shift");
    arguments << QStringLiteral("-k") << QStringLiteral("v");
    if (withShift) arguments << QStringLiteral("-m") << QStringLiteral("shift");
    arguments << QStringLiteral("-m") << QStringLiteral("ctrl");
    const wayland::ToolRun run = co_await wayland::runTool(m_wtype, arguments, m_timing.limit);
    co_return run.succeeded;
}

} // namespace murmelo

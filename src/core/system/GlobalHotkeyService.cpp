#include "system/GlobalHotkeyService.h"

#include <QPointer>

namespace murmelo {

HotkeyShortcut shortcut(HotkeyPreset preset) {
    switch (preset) {
    case HotkeyPreset::controlOptionSpace:
        return {hotkeys::spaceKeyCode, hotkeys::controlModifier | hotkeys::optionModifier};
    case HotkeyPreset::controlShiftSpace:
        return {hotkeys::spaceKeyCode, hotkeys::controlModifier | hotkeys::shiftModifier};
    case HotkeyPreset::commandShiftSpace:
        return {hotkeys::spaceKeyCode, hotkeys::commandModifier | hotkeys::shiftModifier};
    }
    return {};
}

GlobalHotkeyService::GlobalHotkeyService(HotkeyBackend& backend, QObject* parent)
    : QObject(parent)
    , m_backend(backend) {
    m_backend.setConfirmHandler([this](HotkeyHandle handle) {
        if (!m_pending || m_pending->handle != handle) return; // withdrawn or superseded
        const HotkeyPreset preset = m_pending->preset;
        m_pending.reset();
        activate(handle, preset);
        emit registered(preset);
    });
    m_backend.setReleaseHandler([this] { run(&GlobalHotkeyService::m_releaseAction); });
    m_backend.setFailureHandler([this](HotkeyHandle handle, qint32 status) {
        if (m_pending && m_pending->handle == handle) {
            const HotkeyPreset preset = m_pending->preset;
            m_pending.reset(); // the shortcut registered before it goes on working
            emit registrationFailed(preset, status);
            return;
        }
        if (!m_hotKey || *m_hotKey != handle) return; // an earlier, already replaced registration
        m_hotKey.reset();
        emit registrationFailed(*m_activePreset, status);
    });
}

GlobalHotkeyService::~GlobalHotkeyService() {
    m_backend.setFailureHandler(nullptr);
    m_backend.setConfirmHandler(nullptr);
    m_backend.setReleaseHandler(nullptr);
    cancelPending();
    if (m_hotKey) m_backend.unregisterHotKey(*m_hotKey);
    if (m_handlerInstalled) m_backend.removeHandler();
    m_action = nullptr;
}

std::optional<HotkeyPreset> GlobalHotkeyService::pendingPreset() const {
    if (!m_pending) return std::nullopt;
    return m_pending->preset;
}

void GlobalHotkeyService::registerHotkey(HotkeyPreset preset, Action action) {
    m_action = std::move(action);

    if (!m_handlerInstalled) {
        const qint32 status = m_backend.installHandler([this] { pressed(); });
        if (status != 0) throw GlobalHotkeyError(GlobalHotkeyError::Case::installHandler, status);
        m_handlerInstalled = true;
    }

    // The new shortcut is registered while the old one still holds, so a refusal costs nothing.
    HotkeyHandle handle = 0;
    const qint32 status =
        m_backend.registerHotKey(shortcut(preset), {hotkeys::signature, m_nextRegistrationId}, handle);
    if (status != 0) throw GlobalHotkeyError(GlobalHotkeyError::Case::registerHotKey, status);

    cancelPending();
    if (m_backend.answersLater()) {
        // Released only once the desktop has agreed to the new one: it may well refuse.
        m_pending = Pending{handle, preset};
        return;
    }
    activate(handle, preset);
}

void GlobalHotkeyService::cancelPending() {
    if (!m_pending) return;
    const HotkeyHandle handle = m_pending->handle;
    m_pending.reset();
    m_backend.unregisterHotKey(handle);
}

void GlobalHotkeyService::activate(HotkeyHandle handle, HotkeyPreset preset) {
    if (m_hotKey) m_backend.unregisterHotKey(*m_hotKey);
    m_hotKey = handle;
    m_activePreset = preset;
    ++m_nextRegistrationId;
}

void GlobalHotkeyService::pressed() { run(&GlobalHotkeyService::m_action); }

void GlobalHotkeyService::run(Action GlobalHotkeyService::*which) {
    // The action runs as its own main-thread step once the back end's handler has returned; a
    // service destroyed meanwhile drops it (the queued call dies with its context object).
    QMetaObject::invokeMethod(
        this,
        [self = QPointer(this), which] {
            if (!self || !(self->*which)) return;
            // A copy: the action may register a new shortcut, which replaces it under it.
            const Action action = self->*which;
            action();
        },
        Qt::QueuedConnection);
}

} // namespace murmelo

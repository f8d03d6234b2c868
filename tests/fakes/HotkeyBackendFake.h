#pragma once

#include "system/HotkeyBackend.h"

#include <QList>

#include <map>

namespace murmelo {

// Holds grabs in memory; statuses are set by the test; press() plays the platform's key press.
class HotkeyBackendFake final : public HotkeyBackend {
public:
    struct Registration {
        HotkeyShortcut shortcut;
    };

    // Controls.
    qint32 installStatus = 0;
    qint32 registerStatus = 0;
    QList<HotkeyShortcut> heldByOthers; // these are refused with 10, as another client's grab would be
    bool asksDesktop = false;           // registrations hold once answer() agreed to them

    // What the "system" holds now, and how often it was asked.
    std::map<HotkeyHandle, Registration> active;
    int attempts = 0; // each one may make the user wait for the desktop

    bool handlerInstalled() const { return bool(m_handler); }

    // Runs the installed handler as the platform would for a key press; false without a handler
    // or without any registered shortcut (the system would not deliver the press).
    bool press() {
        if (!m_handler || active.empty()) return false;
        m_handler();
        return true;
    }

    qint32 installHandler(PressHandler handler) override {
        if (installStatus != 0) return installStatus;
        m_handler = std::move(handler);
        return 0;
    }
    void removeHandler() override { m_handler = nullptr; }
    qint32 registerHotKey(HotkeyShortcut shortcut, HotkeyIdentifier, HotkeyHandle& handle) override {
        ++attempts;
        if (registerStatus != 0) return registerStatus;
        if (heldByOthers.contains(shortcut)) return 10;
        handle = ++m_lastHandle;
        active[handle] = {shortcut};
        return 0;
    }
    void setFailureHandler(FailureHandler handler) override { m_failureHandler = std::move(handler); }
    void setConfirmHandler(ConfirmHandler handler) override { m_confirmHandler = std::move(handler); }
    bool answersLater() const override { return asksDesktop; }
    // Plays the desktop's answer (0: agreed) to the latest registration.
    void answer(qint32 status) {
        if (status != 0)
            failLater(m_lastHandle, status);
        else if (m_confirmHandler)
            m_confirmHandler(m_lastHandle);
    }
    // Plays a registration that the desktop refuses after registerHotKey() returned 0.
    bool failLater(HotkeyHandle handle, qint32 status) {
        if (!m_failureHandler) return false;
        active.erase(handle);
        m_failureHandler(handle, status);
        return true;
    }
    void unregisterHotKey(HotkeyHandle handle) override { active.erase(handle); }

private:
    PressHandler m_handler;
    FailureHandler m_failureHandler;
    ConfirmHandler m_confirmHandler;
    HotkeyHandle m_lastHandle = 100;
};

} // namespace murmelo

#pragma once

#include "system/SyntheticKeyboard.h"
#include "wayland/WaylandClient.h"

#include <chrono>
#include <memory>

namespace murmelo {

struct WtypeTiming {
    // wtype creates a new virtual keyboard on every run, and a key sent right after that is often
    // lost (the compositor is still passing the new keymap on), so it waits this long first.
    std::chrono::milliseconds firstKeyDelay{250};
    // For a whole run, the delay included.
    std::chrono::milliseconds limit{2000};
};

// Synthetic keys through wtype and the virtual-keyboard protocol of wlroots compositors; the
// focused application through the foreign-toplevel protocol, where the compositor offers it.
class SyntheticKeyboardWtype final : public SyntheticKeyboard {
public:
    // Null unless the compositor offers virtual-keyboard and wtype is installed.
    static std::unique_ptr<SyntheticKeyboardWtype>
    createIfSupported(const WaylandClient& compositor = WaylandClient());

    explicit SyntheticKeyboardWtype(QString wtype, WaylandClient compositor = WaylandClient(),
                                    WtypeTiming timing = WtypeTiming());

    bool isAvailable() const override { return true; }
    // Always false: Wayland tells a client the modifier state only while one of its own surfaces
    // has the keyboard focus, and a dictation ends while another application has it. The
    // virtual keyboard posts with modifier state of its own.
    bool isModifierHeld() const override { return false; }
    // The app id of the activated toplevel; empty without foreign-toplevel.
    QCoro::Task<QStringList> focusedWindowClasses() override;
    // Ctrl+V, or Ctrl+Shift+V, after the first-key delay; false when wtype failed or ran too long.
    // The event loop turns meanwhile: the delay alone is a quarter of a second.
    QCoro::Task<bool> postPasteShortcut(PasteShortcut shortcut) override;

private:
    QString m_wtype;
    WaylandClient m_compositor;
    WtypeTiming m_timing;
};

} // namespace murmelo

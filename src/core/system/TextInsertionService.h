#pragma once

#include "system/Pasteboard.h"
#include "system/SyntheticKeyboard.h"
#include "system/TerminalClasses.h"
#include "system/TextInsertionResult.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>

namespace murmelo {

// Delivers finished text to the focused application: always onto the clipboard first, then, when
// synthetic input is possible, as a posted paste shortcut: Ctrl+Shift+V when the focused window
// belongs to a terminal, Ctrl+V otherwise. The back ends must outlive the service.
class TextInsertionService final : public QObject {
    Q_OBJECT
public:
    struct Timing {
        // The hotkey's modifiers are usually still down when a dictation ends; a paste posted
        // then arrives as, say, Ctrl+Alt+V and is ignored. Wait at most this long for them.
        std::chrono::milliseconds modifierRelease{1000};
        std::chrono::milliseconds modifierPoll{10};
        // Time for the target to fetch the clipboard before the caller moves on.
        std::chrono::milliseconds settle{120};
    };

    TextInsertionService(Pasteboard& pasteboard, SyntheticKeyboard& keyboard, QObject* parent = nullptr);
    TextInsertionService(Pasteboard& pasteboard, SyntheticKeyboard& keyboard, Timing timing,
                         QObject* parent = nullptr);

    // Never fails: every obstacle degrades to copiedOnly with the text on the clipboard, or to
    // notCopied when the session would not even take the clipboard write.
    QCoro::Task<TextInsertionResult> insert(QString text);

    const Timing& timing() const { return m_timing; }

private:
    Pasteboard& m_pasteboard;
    SyntheticKeyboard& m_keyboard;
    Timing m_timing;
    TerminalClasses m_terminals;
};

} // namespace murmelo

#include "system/TextInsertionService.h"

#include "common/Completion.h"

#include <QDeadlineTimer>
#include <QPointer>

namespace murmelo {

TextInsertionService::TextInsertionService(Pasteboard& pasteboard, SyntheticKeyboard& keyboard,
                                           QObject* parent)
    : TextInsertionService(pasteboard, keyboard, Timing{}, parent) {}

TextInsertionService::TextInsertionService(Pasteboard& pasteboard, SyntheticKeyboard& keyboard, Timing timing,
                                           QObject* parent)
    : QObject(parent)
    , m_pasteboard(pasteboard)
    , m_keyboard(keyboard)
    , m_timing(timing) {}

QCoro::Task<TextInsertionResult> TextInsertionService::insert(QString text) {
    QPointer self(this);
    // A paste without our text on the clipboard would insert whatever was there before.
    if (!co_await m_pasteboard.replaceContents(text)) co_return TextInsertionResult::notCopied;
    if (!self) co_return TextInsertionResult::copiedOnly;
    if (!m_keyboard.isAvailable()) co_return TextInsertionResult::copiedOnly;

    // After the limit the paste is posted anyway: a stuck modifier must not swallow the result.
    QDeadlineTimer releaseDeadline(m_timing.modifierRelease, Qt::PreciseTimer);
    while (m_keyboard.isModifierHeld() && !releaseDeadline.hasExpired()) {
        co_await sleepFor(
            std::min(m_timing.modifierPoll, std::chrono::milliseconds(releaseDeadline.remainingTime())));
        if (!self)
            co_return TextInsertionResult::copiedOnly; // the owner went away; the text is on the clipboard
    }

    // Asked only now: the user may have switched windows while the modifiers were held.
    const QStringList classes = co_await m_keyboard.focusedWindowClasses();
    if (!self) co_return TextInsertionResult::copiedOnly;
    if (!co_await m_keyboard.postPasteShortcut(m_terminals.pasteShortcutFor(classes)))
        co_return TextInsertionResult::copiedOnly;

    // Nothing cancels this wait: what was posted stays posted.
    co_await sleepFor(m_timing.settle);
    co_return TextInsertionResult::inserted;
}

} // namespace murmelo

#pragma once

#include <QCoroTask>
#include <QString>

namespace murmelo {

// The system clipboard as a plain-text pasteboard.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Removes whatever the clipboard held; the previous content is not kept anywhere.
    virtual void clearContents() = 0;
    // Makes `text` the clipboard's plain-text content. False when the session is known to have
    // refused it (a Wayland compositor ignores a window-less client); true is the back end's best
    // knowledge, never read back.
    virtual bool setString(const QString& text) = 0;
    virtual QString string() const = 0;

    // What every writer of results does: clear, then write the plain string.
    bool replaceWith(const QString& text) {
        clearContents();
        return setString(text);
    }
    // The same, awaited: back ends whose writes run a helper process override it so that the UI
    // thread never waits for one. True once the text is the clipboard's, as far as the back end
    // knows. The object outlives the task.
    virtual QCoro::Task<bool> replaceContents(QString text) { co_return replaceWith(text); }
};

} // namespace murmelo

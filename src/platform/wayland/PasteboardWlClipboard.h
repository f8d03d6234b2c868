#pragma once

#include "common/AsyncMutex.h"
#include "system/Pasteboard.h"
#include "wayland/WaylandClient.h"

#include <chrono>
#include <memory>

namespace murmelo {

// The Wayland clipboard through wl-clipboard's wl-copy and wl-paste, which use the data-control
// protocol of wlroots compositors (and KDE): it takes a write from a client without a focused
// window, which the compositor refuses to QClipboard. wl-copy leaves a process behind that serves
// the text until the clipboard changes, so it stays pasteable whether or not Murmelo runs.
class PasteboardWlClipboard final : public Pasteboard {
public:
    // Null unless the compositor offers data-control and wl-copy and wl-paste are installed.
    static std::unique_ptr<PasteboardWlClipboard>
    createIfSupported(const WaylandClient& compositor = WaylandClient());

    // Program paths of wl-copy and wl-paste; each run may take `limit` at most.
    PasteboardWlClipboard(QString wlCopy, QString wlPaste,
                          std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

    // These three wait on the calling thread for wl-copy or wl-paste.
    void clearContents() override;
    // True only when wl-copy reported the selection set (exit status 0) in time.
    bool setString(const QString& text) override;
    // The clipboard as text; empty when it holds none or its owner did not answer in time.
    QString string() const override;
    // The write the insertion of results and every copy await: the event loop turns while wl-copy
    // runs. Writes run one after another, in call order, so an older text never lands last.
    QCoro::Task<bool> replaceContents(QString text) override;

private:
    AsyncMutex m_writes;
    QString m_wlCopy;
    QString m_wlPaste;
    std::chrono::milliseconds m_limit;
};

} // namespace murmelo

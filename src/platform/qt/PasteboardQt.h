#pragma once

#include "system/Pasteboard.h"

namespace murmelo {

// The CLIPBOARD selection through QClipboard. On X11 the text is served from this process: it stays
// pasteable while Murmelo runs. On Wayland the compositor takes it only from a client with a focused
// window (the tray panel, the settings window); QClipboard reports success either way, so without
// focus the write is reported as refused.
class PasteboardQt final : public Pasteboard {
public:
    void clearContents() override;
    bool setString(const QString& text) override;
    QString string() const override;
};

} // namespace murmelo

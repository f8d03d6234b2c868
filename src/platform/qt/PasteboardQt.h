#pragma once

#include "system/Pasteboard.h"

namespace murmelo {

// The CLIPBOARD selection through QClipboard (X11 and Wayland alike). On X11 the text is served
// from this process: it stays pasteable while Murmelo runs.
class PasteboardQt final : public Pasteboard {
public:
    void clearContents() override;
    void setString(const QString& text) override;
    QString string() const override;
};

} // namespace murmelo

#pragma once

#include "dictation/DictationPhase.h"

#include <QIcon>
#include <QString>

namespace murmelo {

// How a phase is shown: the symbol and title shared by the tray, the panel header and the overlay.
struct PhasePresentation {
    QString symbol;
    QString title;

    static PhasePresentation of(const DictationPhase& phase);
};

// Shown where automatic pasting is unavailable, in the panel and the settings window alike.
inline const QString noSyntheticInputNote =
    QStringLiteral("当前会话无法模拟按键（X11 需 XTest，Wayland 需 wtype 或远程桌面授权），请手动粘贴结果。");

// The project's own SVG for a symbol name, from the Qt resources.
QIcon symbolIcon(const QString& symbol);

} // namespace murmelo

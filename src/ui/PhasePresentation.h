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
inline const QString noSyntheticInputNote = QStringLiteral(
    "自动粘贴需要能模拟按键的会话：X11（XTest）、wlroots 桌面（wtype）或已授权远程桌面的 GNOME/KDE。"
    "当前会话不支持，结果会保留在剪贴板或托盘面板的“复制最近结果”中，请手动粘贴。");

// The project's own SVG for a symbol name, from the Qt resources.
QIcon symbolIcon(const QString& symbol);

} // namespace murmelo

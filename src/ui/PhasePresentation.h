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

// The project's own SVG for a symbol name, from the Qt resources.
QIcon symbolIcon(const QString& symbol);

} // namespace murmelo

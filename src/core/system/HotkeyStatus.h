#pragma once

#include "settings/Modes.h"

#include <QObject>
#include <QString>

namespace murmelo {

// The global shortcut as the application left it.
struct HotkeyFacts {
    bool registered = false;
    HotkeyPreset preset = HotkeyPreset::controlOptionSpace; // the registered one, else the one wanted
    bool pending = false;           // not registered yet: the desktop has been asked for `preset`
    bool fellBack = false;          // the saved preset was taken and the default stands in
    bool noShortcutService = false; // the session offers nothing to register with
    QString problem;                // why the latest registration or change failed, as the user was told
    bool operator==(const HotkeyFacts&) const = default;
};

// What became of the shortcut the settings ask for, kept by the composition root and shown by the
// settings window. Main thread only.
class HotkeyStatus final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    const HotkeyFacts& facts() const { return m_facts; }
    void set(const HotkeyFacts& facts);

    // The desktop would not take `refused`; `kept` goes on working.
    static QString changeDeclined(HotkeyPreset refused, HotkeyPreset kept);
    // The change failed for `reason` (a GlobalHotkeyError's description); `kept` goes on working.
    static QString changeFailed(const QString& reason, HotkeyPreset kept);

signals:
    void changed();

private:
    HotkeyFacts m_facts;
};

} // namespace murmelo

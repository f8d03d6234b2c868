#pragma once

#include "audio/AudioInputDevice.h"
#include "settings/Modes.h"
#include "stores/SecretBackend.h"
#include "system/HotkeyStatus.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace murmelo {

// How automatic paste reaches the focused window in this session, or what stops it.
enum class PasteAvailability {
    xtest,             // X11 with the XTest extension
    wtype,             // a compositor with the virtual-keyboard protocol, and wtype installed
    portalKeyboard,    // the desktop portal's remote desktop keyboard, agreed to
    portalPending,     // the portal is still waiting for the user's answer
    noDisplay,         // no X display could be reached
    noXTest,           // the X display offers no XTest
    noVirtualKeyboard, // a compositor without virtual-keyboard (or no wtype), and no portal keyboard
    portalDeclined,    // the user or the desktop declined the portal keyboard
    portalClosed,      // the desktop ended the portal session
};

// One fact that decides whether dictation works on this desktop, with what to do when it does not.
struct ReadinessItem {
    enum class Kind { microphone, automaticPaste, globalHotkey, keyring };
    enum class State { checking, ok, attention, unavailable };

    Kind kind = Kind::microphone;
    State state = State::checking;
    QString text;   // what was found
    QString advice; // what the user can do; empty when all is well

    bool operator==(const ReadinessItem&) const = default;

    static QString title(Kind kind); // "麦克风", "自动粘贴", ...
};

// Where the facts come from; the composition root supplies them. Each may be left empty in tests
// that look at other facts.
struct ReadinessProbes {
    std::function<QCoro::Task<QList<AudioInputDevice>>()> inputDevices;
    std::function<QString()> selectedMicrophoneUid; // empty: the system default
    std::function<PasteAvailability()> paste;
    std::function<HotkeyFacts()> hotkey;
    std::function<QCoro::Task<SecretServiceStatus>()> keyring;
};

// The four facts, checked on request. Each answer is awaited and arrives on its own; until then
// its item reads "检测中…". Main thread only.
class SystemReadiness final : public QObject {
    Q_OBJECT
public:
    static inline const QString checkingText = QStringLiteral("检测中…");
    static inline const QString clipboardFallback = QStringLiteral("结果会保留在剪贴板，请手动粘贴。");

    explicit SystemReadiness(ReadinessProbes probes, std::chrono::milliseconds limit = std::chrono::seconds(10),
                             QObject* parent = nullptr);

    // Always one item per kind, in the order of Kind.
    const QList<ReadinessItem>& items() const { return m_items; }
    const ReadinessItem& item(ReadinessItem::Kind kind) const { return m_items[int(kind)]; }
    // The microphones of the latest answer, for the device picker.
    const QList<AudioInputDevice>& inputDevices() const { return m_inputDevices; }

    // Checks every fact again. A refresh started while one runs supersedes it: the older answers
    // are dropped. Each wait is bounded by the limit given at construction.
    QCoro::Task<> refresh();
    // Tells the microphone anew from the latest answer, after the user chose another device.
    void reconsiderMicrophone();
    // Reads the shortcut's facts again, after they changed.
    void reconsiderHotkey();

    // What each fact's answer means for the user.
    static ReadinessItem microphone(const QList<AudioInputDevice>& devices, const QString& selectedUid);
    static ReadinessItem microphoneUnreadable();
    static ReadinessItem paste(PasteAvailability availability);
    static ReadinessItem hotkey(const HotkeyFacts& facts);
    static ReadinessItem keyring(SecretServiceStatus status);

signals:
    void changed();
    void inputDevicesChanged();

private:
    QCoro::Task<> checkMicrophone(quint64 generation);
    QCoro::Task<> checkKeyring(quint64 generation);
    void set(quint64 generation, const ReadinessItem& item);

    ReadinessProbes m_probes;
    std::chrono::milliseconds m_limit;
    QList<ReadinessItem> m_items;
    QList<AudioInputDevice> m_inputDevices;
    bool m_microphoneUnreadable = false;
    quint64 m_generation = 0;
};

} // namespace murmelo

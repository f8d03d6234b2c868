#include "system/SystemReadiness.h"

#include "dictation/WithTimeout.h"

#include <QPointer>

#include <optional>

namespace murmelo {

namespace {

using Kind = ReadinessItem::Kind;
using State = ReadinessItem::State;

const QString toggleBinding = QStringLiteral("在桌面的键盘设置中为 murmelo --toggle 绑定快捷键。");
const QString environmentKeys = QStringLiteral("可用环境变量 OPENAI_API_KEY / DEEPSEEK_API_KEY 提供 Key。");

ReadinessItem checking(Kind kind) {
    return {kind, State::checking, SystemReadiness::checkingText, {}};
}

} // namespace

QString ReadinessItem::title(Kind kind) {
    switch (kind) {
    case Kind::microphone:
        return QStringLiteral("麦克风");
    case Kind::automaticPaste:
        return QStringLiteral("自动粘贴");
    case Kind::globalHotkey:
        return QStringLiteral("全局快捷键");
    case Kind::keyring:
        return QStringLiteral("系统密钥环");
    }
    return {};
}

SystemReadiness::SystemReadiness(ReadinessProbes probes, std::chrono::milliseconds limit, QObject* parent)
    : QObject(parent)
    , m_probes(std::move(probes))
    , m_limit(limit) {
    for (Kind kind : {Kind::microphone, Kind::automaticPaste, Kind::globalHotkey, Kind::keyring})
        m_items.append(checking(kind));
}

QCoro::Task<> SystemReadiness::refresh() {
    const quint64 generation = ++m_generation;
    for (ReadinessItem& item : m_items)
        item = checking(item.kind);
    emit changed();
    // Read at once: both are what the application already knows.
    set(generation, paste(m_probes.paste()));
    set(generation, hotkey(m_probes.hotkey()));
    // Asked side by side, so a slow keyring does not hold up the microphones.
    auto microphones = checkMicrophone(generation);
    auto keys = checkKeyring(generation);
    co_await std::move(microphones);
    co_await std::move(keys);
}

void SystemReadiness::reconsiderMicrophone() {
    if (item(Kind::microphone).state == State::checking) return;
    if (m_microphoneUnreadable) return;
    set(m_generation, microphone(m_inputDevices, m_probes.selectedMicrophoneUid()));
}

void SystemReadiness::reconsiderHotkey() {
    if (item(Kind::globalHotkey).state == State::checking) return; // a refresh tells it soon
    set(m_generation, hotkey(m_probes.hotkey()));
}

QCoro::Task<> SystemReadiness::checkMicrophone(quint64 generation) {
    QPointer self(this);
    std::optional<QList<AudioInputDevice>> devices;
    try {
        // Nothing to cancel: a late answer is dropped. (No braced initialiser beside co_await.)
        devices = co_await withTimeout(m_limit, m_probes.inputDevices(), nullptr, std::chrono::milliseconds(0));
    } catch (...) {
        // An audio server that cannot be asked is told as such below.
    }
    if (!self || generation != m_generation) co_return;
    m_microphoneUnreadable = !devices;
    m_inputDevices = devices.value_or(QList<AudioInputDevice>());
    emit inputDevicesChanged();
    set(generation, devices ? microphone(*devices, m_probes.selectedMicrophoneUid()) : microphoneUnreadable());
}

QCoro::Task<> SystemReadiness::checkKeyring(quint64 generation) {
    QPointer self(this);
    SecretServiceStatus status = SecretServiceStatus::unresponsive;
    try {
        status = co_await withTimeout(m_limit, m_probes.keyring(), nullptr, std::chrono::milliseconds(0));
    } catch (...) {
        // Out of time, or failed in a way the back end did not name: it did not answer.
    }
    if (!self || generation != m_generation) co_return;
    set(generation, keyring(status));
}

void SystemReadiness::set(quint64 generation, const ReadinessItem& item) {
    if (generation != m_generation) return;
    m_items[int(item.kind)] = item;
    emit changed();
}

ReadinessItem SystemReadiness::microphone(const QList<AudioInputDevice>& devices, const QString& selectedUid) {
    if (devices.isEmpty())
        return {Kind::microphone, State::unavailable, QStringLiteral("未找到麦克风"),
                QStringLiteral("请连接麦克风，或在声音设置中检查输入设备。")};
    if (!selectedUid.isEmpty()) {
        for (const AudioInputDevice& device : devices)
            if (device.uid == selectedUid) return {Kind::microphone, State::ok, device.name, {}};
        return {Kind::microphone, State::attention, QStringLiteral("所选麦克风未连接，将使用系统默认输入"),
                QStringLiteral("请重新连接它，或在上方另选一个。")};
    }
    // With one microphone the system default can only be that one.
    if (devices.size() == 1)
        return {Kind::microphone, State::ok, QStringLiteral("系统默认（%1）").arg(devices.first().name), {}};
    return {Kind::microphone, State::ok, QStringLiteral("系统默认输入"), {}};
}

ReadinessItem SystemReadiness::microphoneUnreadable() {
    return {Kind::microphone, State::unavailable, QStringLiteral("无法连接音频服务"),
            QStringLiteral("请确认 PulseAudio 或 PipeWire 正在运行。")};
}

ReadinessItem SystemReadiness::paste(PasteAvailability availability) {
    const auto available = [](const QString& text) { return ReadinessItem{Kind::automaticPaste, State::ok, text, {}}; };
    const auto unavailable = [](const QString& text, const QString& advice = {}) {
        return ReadinessItem{Kind::automaticPaste, State::unavailable, text,
                             advice.isEmpty() ? clipboardFallback : advice + clipboardFallback};
    };
    switch (availability) {
    case PasteAvailability::xtest:
        return available(QStringLiteral("可用（XTest）"));
    case PasteAvailability::wtype:
        return available(QStringLiteral("可用（wtype）"));
    case PasteAvailability::portalKeyboard:
        return available(QStringLiteral("可用（桌面门户的远程桌面键盘，已授权）"));
    case PasteAvailability::portalPending:
        return {Kind::automaticPaste, State::attention, QStringLiteral("等待桌面确认远程桌面键盘"),
                QStringLiteral("请在桌面的对话框中允许；在此之前") + clipboardFallback};
    case PasteAvailability::noDisplay:
        return unavailable(QStringLiteral("无法连接 X 显示服务"));
    case PasteAvailability::noXTest:
        return unavailable(QStringLiteral("当前显示服务没有 XTest 扩展"));
    case PasteAvailability::noVirtualKeyboard:
        return unavailable(QStringLiteral("合成器不支持虚拟键盘（或未装 wtype），也没有门户键盘"));
    case PasteAvailability::portalDeclined:
        return unavailable(QStringLiteral("远程桌面键盘的请求被拒绝"),
                           QStringLiteral("重启 Murmelo 可再次请求；"));
    case PasteAvailability::portalClosed:
        return unavailable(QStringLiteral("桌面已结束远程桌面会话"), QStringLiteral("重启 Murmelo 可再次请求；"));
    }
    return unavailable(QString());
}

ReadinessItem SystemReadiness::hotkey(const HotkeyFacts& facts) {
    if (facts.registered && facts.fellBack)
        return {Kind::globalHotkey, State::attention,
                QStringLiteral("保存的快捷键不可用，已改用 %1").arg(title(facts.preset)),
                QStringLiteral("可在上方另选一个快捷键。")};
    if (facts.registered && !facts.problem.isEmpty())
        return {Kind::globalHotkey, State::attention, facts.problem, QStringLiteral("可在上方另选一个快捷键。")};
    if (facts.registered)
        return {Kind::globalHotkey, State::ok, QStringLiteral("已注册 %1").arg(title(facts.preset)), {}};
    if (facts.pending)
        return {Kind::globalHotkey, State::attention, QStringLiteral("等待桌面确认 %1").arg(title(facts.preset)),
                QStringLiteral("请在桌面的对话框中允许。")};
    if (facts.noShortcutService)
        return {Kind::globalHotkey, State::unavailable, QStringLiteral("桌面不提供全局快捷键服务"),
                QStringLiteral("请") + toggleBinding};
    return {Kind::globalHotkey, State::unavailable,
            facts.problem.isEmpty() ? QStringLiteral("未注册") : facts.problem,
            QStringLiteral("可在上方另选一个快捷键，或") + toggleBinding};
}

ReadinessItem SystemReadiness::keyring(SecretServiceStatus status) {
    switch (status) {
    case SecretServiceStatus::reachable:
        return {Kind::keyring, State::ok, QStringLiteral("可用"), {}};
    case SecretServiceStatus::locked:
        return {Kind::keyring, State::attention, QStringLiteral("已锁定"),
                QStringLiteral("解锁后才能读取保存的 Key；也") + environmentKeys};
    case SecretServiceStatus::absent:
        return {Kind::keyring, State::unavailable, QStringLiteral("会话总线上没有 Secret Service"), environmentKeys};
    case SecretServiceStatus::unresponsive:
        break;
    }
    return {Kind::keyring, State::unavailable, QStringLiteral("没有响应"), environmentKeys};
}

} // namespace murmelo

#include "AudioInputBackendFake.h"
#include "audio/AudioCaptureError.h"
#include "audio/AudioInputDeviceError.h"
#include "audio/AudioInputDeviceSelector.h"

#include <QTest>

using namespace murmelo;

namespace {

QStringList uids(const QList<AudioInputDevice>& devices) {
    QStringList out;
    for (const auto& device : devices)
        out << device.uid;
    return out;
}

// Runs apply() and returns the error it threw, if any.
std::optional<AudioInputDeviceError> applyError(const QString& uid, AudioInputBackend& backend) {
    try {
        AudioInputDeviceSelector::apply(uid, backend);
    } catch (const AudioInputDeviceError& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class AudioInputDevicesTest : public QObject {
    Q_OBJECT
private slots:
    void catalogSortsLikeAFileManagerAndKeepsEqualNamesInOrder() {
        AudioInputBackendFake backend;
        backend.devices = {
            {"usb-10", "USB Mic 10"}, {"hdmi", "beta"},   {"dock-b", "Dock"}, {"usb-2", "USB Mic 2"},
            {"alpha", "Alpha"},       {"dock-a", "Dock"}, {"lower", "dock"},
        };
        const QList<AudioInputDevice> sorted = AudioInputDevice::availableDevices(backend);
        QCOMPARE(uids(sorted),
                 QStringList({"alpha", "hdmi", "dock-b", "dock-a", "lower", "usb-2", "usb-10"}));
        QCOMPARE(backend.calls, QStringList({"inputDevices"}));

        backend.devices.clear();
        QVERIFY(AudioInputDevice::availableDevices(backend).isEmpty());
    }

    void emptyUidNeverTouchesTheEngine() {
        AudioInputBackendFake backend;
        backend.deviceChoiceSupported = false;
        QVERIFY(!applyError(QString(), backend));
        QVERIFY(backend.calls.isEmpty());
    }

    void chosenDeviceIsLookedUpThenSet() {
        AudioInputBackendFake backend;
        backend.devices = {{"vmic", "VirtualMic"}};
        QVERIFY(!applyError("vmic", backend));
        QCOMPARE(backend.calls, QStringList({"lookUp:vmic", "setCurrentDevice:vmic"}));
        QCOMPARE(backend.currentDevice, QString("vmic"));
    }

    void selectionFailuresAreReportedWithoutFallingBack() {
        AudioInputBackendFake backend;
        backend.devices = {{"vmic", "VirtualMic"}};

        QCOMPARE(applyError("unplugged", backend),
                 AudioInputDeviceError(AudioInputDeviceError::Case::deviceNotFound));
        QCOMPARE(backend.calls, QStringList({"lookUp:unplugged"}));

        backend.calls.clear();
        backend.lookupStatus = 6;
        QCOMPARE(applyError("vmic", backend),
                 AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, 6));

        backend.lookupStatus = 0;
        backend.setDeviceStatus = -50;
        QCOMPARE(applyError("vmic", backend),
                 AudioInputDeviceError(AudioInputDeviceError::Case::coreAudio, -50));
        QVERIFY(backend.currentDevice.isEmpty());

        backend.calls.clear();
        backend.deviceChoiceSupported = false;
        QCOMPARE(applyError("vmic", backend),
                 AudioInputDeviceError(AudioInputDeviceError::Case::audioUnitUnavailable));
        QVERIFY(backend.calls.isEmpty());
    }

    void descriptionsAreExact() {
        using D = AudioInputDeviceError;
        QCOMPARE(D(D::Case::coreAudio, -10851).description(),
                 QString("切换麦克风失败（Core Audio -10851）。"));
        QCOMPARE(D(D::Case::coreAudio, 6).description(), QString("切换麦克风失败（Core Audio 6）。"));
        QCOMPARE(D(D::Case::deviceNotFound).description(), QString("找不到所选麦克风，它可能已断开连接。"));
        QCOMPARE(D(D::Case::audioUnitUnavailable).description(), QString("当前录音引擎无法切换麦克风。"));
        using C = AudioCaptureError;
        QCOMPARE(C(C::Case::engineStartFailed, "Connection refused").description(),
                 QString("无法启动麦克风：Connection refused"));
        QCOMPARE(C(C::Case::microphoneDenied).description(),
                 QString("没有麦克风权限，请在系统设置中允许 Murmelo 使用麦克风。"));
        QCOMPARE(C(C::Case::invalidInputFormat).description(), QString("当前麦克风格式不可用。"));
        // Payloads belong to their case only, so errors compare by what the user would see.
        QCOMPARE(D(D::Case::deviceNotFound, 5), D(D::Case::deviceNotFound));
        QCOMPARE(C(C::Case::invalidInputFormat, "x"), C(C::Case::invalidInputFormat));
        QVERIFY(!(C(C::Case::engineStartFailed, "a") == C(C::Case::engineStartFailed, "b")));
    }
};

QTEST_GUILESS_MAIN(AudioInputDevicesTest)
#include "tst_AudioInputDevices.moc"

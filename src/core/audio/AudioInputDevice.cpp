#include "audio/AudioInputDevice.h"

#include "audio/AudioInputBackend.h"

#include <QCollator>

#include <algorithm>

namespace murmelo {

QCoro::Task<QList<AudioInputDevice>> AudioInputDevice::availableDevices(AudioInputBackend& backend) {
    QList<AudioInputDevice> devices = co_await backend.inputDevices();
    sortByName(devices);
    co_return devices;
}

void AudioInputDevice::sortByName(QList<AudioInputDevice>& devices) {
    // Qt compares code points in the C locale and ignores numeric mode there; the root collation
    // (which English uses unchanged) sorts as a file manager would.
    const QLocale locale = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(devices.begin(), devices.end(),
                     [&](const AudioInputDevice& a, const AudioInputDevice& b) {
                         return collator.compare(a.name, b.name) < 0;
                     });
}

} // namespace murmelo

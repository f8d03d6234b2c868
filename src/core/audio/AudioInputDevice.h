#pragma once

#include <QCoroTask>
#include <QHashFunctions>
#include <QList>
#include <QString>

namespace murmelo {

class AudioInputBackend;

// A microphone the user can choose. `uid` is what the settings store (the audio server's persistent
// name of the source); `name` is what the user reads.
struct AudioInputDevice {
    QString uid;
    QString name;

    bool operator==(const AudioInputDevice&) const = default;

    // The microphones of `backend`, sorted by name the way a file manager sorts (numbers by value,
    // case ignored); devices whose names compare equal keep the server's order. Never fails: an
    // unreachable server gives an empty list. `backend` must outlive the task.
    static QCoro::Task<QList<AudioInputDevice>> availableDevices(AudioInputBackend& backend);
    // The sort used by availableDevices(), for lists that come from elsewhere.
    static void sortByName(QList<AudioInputDevice>& devices);
};

inline size_t qHash(const AudioInputDevice& device, size_t seed = 0) {
    return qHashMulti(seed, device.uid, device.name);
}

} // namespace murmelo

#pragma once

#include "dictation/DictationPhase.h"

#include <QObject>

#include <functional>

namespace murmelo {

class AppState;

// A key that cancels the running dictation (Escape), taken from the desktop only while one runs:
// at any other time it belongs to the applications. Main thread only.
class CancelKeyBackend {
public:
    using PressHandler = std::function<void()>;
    virtual ~CancelKeyBackend() = default;
    // Takes the key; `pressed` runs for each press until disarm(). False when this session cannot.
    virtual bool arm(PressHandler pressed) = 0;
    virtual void disarm() = 0;
};

// Holds the cancel key from the start of a recording until the dictation is cancelled or reaches
// its insertion, its end or an error. Everything given must outlive it.
class CancelKeyService final : public QObject {
    Q_OBJECT
public:
    CancelKeyService(AppState& state, CancelKeyBackend& backend, std::function<void()> cancel,
                     QObject* parent = nullptr);
    ~CancelKeyService() override;

private:
    void follow(const DictationPhase& phase);

    CancelKeyBackend& m_backend;
    std::function<void()> m_cancel;
    bool m_armed = false;
};

} // namespace murmelo

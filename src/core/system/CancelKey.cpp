#include "system/CancelKey.h"

#include "dictation/AppState.h"

namespace murmelo {

CancelKeyService::CancelKeyService(AppState& state, CancelKeyBackend& backend, std::function<void()> cancel,
                                   QObject* parent)
    : QObject(parent)
    , m_backend(backend)
    , m_cancel(std::move(cancel)) {
    connect(&state, &AppState::phaseChanged, this, &CancelKeyService::follow);
}

CancelKeyService::~CancelKeyService() {
    if (m_armed) m_backend.disarm();
}

void CancelKeyService::follow(const DictationPhase& phase) {
    const bool cancellable = phase.isCancellable();
    if (cancellable && !m_armed) {
        m_armed = m_backend.arm([this] { m_cancel(); });
    } else if (!cancellable && m_armed) {
        m_backend.disarm();
        m_armed = false;
    }
}

} // namespace murmelo

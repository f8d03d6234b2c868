#include "common/AsyncMutex.h"

namespace murmelo {

AsyncMutex::Lock& AsyncMutex::Lock::operator=(Lock&& other) noexcept {
    if (this != &other) {
        release();
        m_state = std::move(other.m_state);
    }
    return *this;
}

void AsyncMutex::Lock::release() {
    if (!m_state) return;
    auto state = std::move(m_state);
    m_state.reset();
    // Ownership passes straight to the next waiter, so no newcomer can overtake it.
    while (!state->waiters.empty()) {
        auto next = std::move(state->waiters.front());
        state->waiters.pop_front();
        if (!next->isDone()) {
            next->complete();
            return;
        }
    }
    state->locked = false;
}

QCoro::Task<AsyncMutex::Lock> AsyncMutex::lock() {
    auto state = m_state;
    if (!state->locked) {
        state->locked = true;
        co_return Lock(state);
    }
    auto turn = std::make_shared<Completion>();
    state->waiters.push_back(turn);
    co_await Completion::wait(turn);
    co_return Lock(state);
}

} // namespace murmelo

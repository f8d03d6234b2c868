#pragma once

#include "common/Completion.h"

#include <deque>
#include <memory>

namespace murmelo {

// Runs the operations of one object one at a time across their co_awaits, in call order.
class AsyncMutex {
    struct State {
        bool locked = false;
        std::deque<std::shared_ptr<Completion>> waiters;
    };

public:
    class Lock {
    public:
        Lock() = default;
        explicit Lock(std::shared_ptr<State> state)
            : m_state(std::move(state)) {}
        Lock(Lock&& other) noexcept = default;
        Lock& operator=(Lock&& other) noexcept;
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        ~Lock() { release(); }
        void release();

    private:
        std::shared_ptr<State> m_state;
    };

    QCoro::Task<Lock> lock();
    bool isLocked() const { return m_state->locked; }

private:
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace murmelo

#pragma once

#include <QCoroTask>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace murmelo::test {

// Runs a task while the test goes on (to cancel it, or to let a server act first); poll done()
// with QTRY_VERIFY, then look at the outcome.
template <typename T> class BackgroundTask {
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    struct State {
        bool done = false;
        std::optional<Stored> value;
        std::exception_ptr error;
    };

    // A named coroutine, not a lambda: its parameters live in the frame.
    static QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<State> state) {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                state->value.emplace();
            } else {
                state->value.emplace(co_await std::move(task));
            }
        } catch (...) {
            state->error = std::current_exception();
        }
        state->done = true;
    }

public:
    explicit BackgroundTask(QCoro::Task<T>&& task)
        : m_state(std::make_shared<State>()) {
        drive(std::move(task), m_state);
    }
    bool done() const { return m_state->done; }
    bool succeeded() const { return m_state->done && !m_state->error; }
    const Stored& value() const { return *m_state->value; }
    // The error when it is an ErrorType, else nothing.
    template <typename ErrorType> std::optional<ErrorType> error() const {
        if (!m_state->error) return std::nullopt;
        try {
            std::rethrow_exception(m_state->error);
        } catch (const ErrorType& error) {
            return error;
        } catch (...) {
            return std::nullopt;
        }
    }

private:
    std::shared_ptr<State> m_state;
};

} // namespace murmelo::test

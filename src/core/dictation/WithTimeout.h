#pragma once

#include "common/Completion.h"
#include "dictation/DictationCoordinatorError.h"

#include <QCoroTask>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace murmelo {

namespace detail {

template <typename T> struct TimeoutRace {
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    std::shared_ptr<Completion> finished = std::make_shared<Completion>();
    std::optional<Stored> value;
    std::exception_ptr error;
};

template <typename T>
QCoro::Task<> driveTimeoutRace(QCoro::Task<T> operation, std::shared_ptr<TimeoutRace<T>> race) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(operation);
            race->value.emplace();
        } else {
            race->value.emplace(co_await std::move(operation));
        }
    } catch (...) {
        race->error = std::current_exception();
    }
    race->finished->complete();
}

} // namespace detail

// Runs `operation` against a time limit; the first to finish wins. A value or a failure of the
// operation passes through unchanged. When the limit passes first, `cancel` is called and we wait
// (at most `grace`) until the operation has reacted before DictationCoordinatorError::timedOut
// reaches the caller, so nothing it holds is still running behind our back.
template <typename T>
QCoro::Task<T> withTimeout(std::chrono::milliseconds limit, QCoro::Task<T> operation, std::function<void()> cancel,
                           std::chrono::milliseconds grace = std::chrono::seconds(5)) {
    auto race = std::make_shared<detail::TimeoutRace<T>>();
    // The driver runs on its own once started; the race state outlives whichever side ends first.
    auto driver = detail::driveTimeoutRace<T>(std::move(operation), race);
    const bool finishedInTime = co_await Completion::wait(race->finished, limit);
    if (!finishedInTime) {
        if (cancel) cancel();
        co_await Completion::wait(race->finished, grace);
        throw DictationCoordinatorError(DictationCoordinatorError::Case::timedOut);
    }
    if (race->error) std::rethrow_exception(race->error);
    if constexpr (!std::is_void_v<T>) co_return std::move(*race->value);
}

} // namespace murmelo

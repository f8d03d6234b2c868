#pragma once

#include "common/Error.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTest>

#include <exception>
#include <optional>
#include <type_traits>
#include <variant>

namespace murmelo::test {

namespace detail {

template <typename T> struct Outcome {
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    std::exception_ptr error;
    QEventLoop loop;
};

// A plain function, not a capturing lambda: a lambda's captures die before its coroutine resumes.
template <typename T> QCoro::Task<> drive(QCoro::Task<T> task, Outcome<T>* outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace();
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->loop.quit();
}

} // namespace detail

// Runs a task to completion in a nested event loop and returns its value, rethrowing its error.
// (QCoro::waitFor never returns when the task throws.)
template <typename T> T run(QCoro::Task<T>&& task) {
    detail::Outcome<T> outcome;
    auto driver = detail::drive<T>(std::move(task), &outcome);
    if (!outcome.value && !outcome.error) outcome.loop.exec(); // not done yet
    if (outcome.error) std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>) return std::move(*outcome.value);
}

// Runs a task that must fail with ErrorType and returns the error; nothing when it succeeds. Any
// other error propagates, so the test fails naming it.
template <typename ErrorType, typename T> std::optional<ErrorType> runExpectingError(QCoro::Task<T>&& task) {
    try {
        run<T>(std::move(task));
    } catch (const ErrorType& error) {
        return error;
    }
    qWarning("the task did not fail");
    return std::nullopt;
}

// The user-facing description of the error a task ends with; empty when it succeeds.
template <typename T> QString failureOf(QCoro::Task<T>&& task) {
    try {
        run<T>(std::move(task));
    } catch (const Error& error) {
        return error.description();
    }
    return {};
}

// Runs the event loop until `done()` holds, at most `timeoutMs`; whether it holds. Unlike
// QTest::qWaitFor it never sleeps 10 ms between rounds, so timers of a few milliseconds keep pace.
template <typename Predicate> bool waitUntil(Predicate done, int timeoutMs = 3000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(1);
    return done();
}

} // namespace murmelo::test

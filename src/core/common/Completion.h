#pragma once

#include <QObject>
#include <QCoroTask>

#include <chrono>
#include <memory>
#include <vector>

namespace murmelo {

// A one-shot event that coroutines await. Signals that may fire more than once (socket messages,
// timers) are routed into one of these instead of being awaited directly.
class Completion final : public QObject {
    Q_OBJECT
public:
    bool isDone() const { return m_done; }
    bool isCancelled() const { return m_cancelled; }
    void complete();
    // Completes the event so that its waiters fail with CancellationError.
    void cancel();

    // Waits until the event completes; throws CancellationError when it was cancelled. Holds the
    // completion for the duration of the wait, so the waiter never outlives what it waits for.
    static QCoro::Task<> wait(std::shared_ptr<Completion> completion);
    // As wait(), but gives up after `limit`; returns false when the limit passed first.
    static QCoro::Task<bool> wait(std::shared_ptr<Completion> completion, std::chrono::milliseconds limit);

signals:
    void done();

private:
    bool m_done = false;
    bool m_cancelled = false;
};

// Tracks the waits of one owner so that all of them can be cancelled at once.
class CancelScope {
public:
    void track(const std::shared_ptr<Completion>& completion);
    void cancelAll();

private:
    std::vector<std::weak_ptr<Completion>> m_active;
};

// Sleeps on the monotonic clock; a wait cancelled through `scope` throws CancellationError.
QCoro::Task<> sleepFor(std::chrono::milliseconds duration, CancelScope* scope = nullptr);

} // namespace murmelo

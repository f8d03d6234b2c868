#include "common/Completion.h"

#include "common/Error.h"

#include <QCoroSignal>
#include <QTimer>

#include <algorithm>

namespace murmelo {

void Completion::complete() {
    if (m_done) return;
    m_done = true;
    emit done();
}

void Completion::cancel() {
    if (m_done) return;
    m_cancelled = true;
    complete();
}

QCoro::Task<> Completion::wait(std::shared_ptr<Completion> completion) {
    if (!completion->m_done) co_await qCoro(completion.get(), &Completion::done);
    if (completion->m_cancelled) throw CancellationError();
}

QCoro::Task<bool> Completion::wait(std::shared_ptr<Completion> completion, std::chrono::milliseconds limit) {
    if (!completion->m_done) {
        const auto fired = co_await qCoro(completion.get(), &Completion::done, limit);
        if (!fired.has_value() && !completion->m_done) co_return false;
    }
    if (completion->m_cancelled) throw CancellationError();
    co_return true;
}

void CancelScope::track(const std::shared_ptr<Completion>& completion) {
    std::erase_if(m_active, [](const auto& weak) { return weak.expired(); });
    m_active.push_back(completion);
}

void CancelScope::cancelAll() {
    auto active = std::move(m_active);
    m_active.clear();
    for (const auto& weak : active)
        if (auto completion = weak.lock()) completion->cancel();
}

QCoro::Task<> sleepFor(std::chrono::milliseconds duration, CancelScope* scope) {
    auto completion = std::make_shared<Completion>();
    if (scope) scope->track(completion);
    QTimer::singleShot(duration, Qt::PreciseTimer, completion.get(), [raw = completion.get()] { raw->complete(); });
    co_await Completion::wait(completion);
}

} // namespace murmelo

#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

// Runs the event loop until `done` or the limit; false on the limit. It yields only 0.1 ms between
// turns, so that the waiting adds no stall of its own to what a meter measures.
inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::usleep(100);
    }
    return true;
}

// The longest gap between the turns of this thread's event loop while the meter runs, marked by a
// 1 ms timer: how long the loop could not answer input or repaint.
class StallMeter {
public:
    StallMeter() {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { mark(); });
    }
    void start() {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_tick.start();
    }
    // Ends the measure; the longest gap, in ms.
    double stopMs() {
        mark();
        m_tick.stop();
        return double(m_longest) / 1e6;
    }

private:
    void mark() {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

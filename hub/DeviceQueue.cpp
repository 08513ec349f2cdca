#include "hub/DeviceQueue.h"

namespace hub {

DeviceQueue::DeviceQueue(std::size_t capacity)
    : m_capacity(capacity), m_thread([this] { serve(); }) {}

DeviceQueue::~DeviceQueue() {
    close();
    m_thread.join();
}

DeviceQueue::Queued DeviceQueue::submit(Call call, std::size_t& ahead) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed) {
            return Queued::CLOSED;
        }
        if (m_calls.size() >= m_capacity) {
            return Queued::FULL;
        }
        ahead = m_calls.size();
        m_calls.push_back(std::move(call));
    }
    m_changed.notify_one();
    return Queued::YES;
}

std::size_t DeviceQueue::waiting() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.size();
}

void DeviceQueue::startIdleWork(std::function<Clock::time_point()> work) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idleWork = std::move(work);
        m_idleDue = Clock::now();
    }
    m_changed.notify_one();
}

void DeviceQueue::idleWorkDue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idleDue = m_idleWork ? Clock::now() : m_idleDue;
    }
    m_changed.notify_one();
}

void DeviceQueue::close() {
    std::deque<Call> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        dropped.swap(m_calls);
    }
    m_changed.notify_one();
    for (Call& call : dropped) {
        call.drop();
    }
}

void DeviceQueue::serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const auto idleDue = [&] { return m_idleWork && Clock::now() >= m_idleDue; };
        const auto ready = [&] { return !m_calls.empty() || m_closed || idleDue(); };
        if (m_idleWork) {
            m_changed.wait_until(lock, m_idleDue, ready);
        } else {
            m_changed.wait(lock, ready);
        }
        if (m_calls.empty() && m_closed) {
            return;
        }
        if (m_calls.empty()) {
            if (idleDue()) {
                const auto work = m_idleWork;
                m_idleDue = Clock::time_point::max();  // unless made due again meanwhile
                lock.unlock();
                const Clock::time_point next = work();
                lock.lock();
                m_idleDue = std::min(m_idleDue, next);
            }
            continue;
        }
        Call call = std::move(m_calls.front());
        m_calls.pop_front();
        lock.unlock();
        call.run();
        lock.lock();
    }
}

}  // namespace hub

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
        m_changed.wait(lock, [&] { return !m_calls.empty() || m_closed; });
        if (m_calls.empty()) {
            return;
        }
        Call call = std::move(m_calls.front());
        m_calls.pop_front();
        lock.unlock();
        call.run();
        lock.lock();
    }
}

}  // namespace hub

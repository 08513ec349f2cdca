#include "hub/DeviceQueue.h"

namespace hub {

// A ticket per call, served in ticket order: a plain mutex lets whichever
// waiter the scheduler picks go first.
DeviceQueue::Turn::Turn(DeviceQueue& queue) : m_queue(queue) {
    std::unique_lock<std::mutex> lock(queue.m_mutex);
    const std::uint64_t ticket = queue.m_nextTicket++;
    queue.m_turnEnded.wait(lock, [&] { return queue.m_serving == ticket; });
}

DeviceQueue::Turn::~Turn() {
    {
        std::lock_guard<std::mutex> lock(m_queue.m_mutex);
        ++m_queue.m_serving;
    }
    m_queue.m_turnEnded.notify_all();
}

}  // namespace hub

#include "hub/DeviceQueue.h"

namespace hub {

DeviceQueue::DeviceQueue() : m_thread([this] { serve(); }) {}

DeviceQueue::~DeviceQueue() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

// The caller's job lives on its stack: it waits here until the job is done.
void DeviceQueue::run(const std::function<void()>& work) {
    Job job{&work, false, nullptr};
    std::unique_lock<std::mutex> lock(m_mutex);
    m_jobs.push_back(&job);
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return job.done; });
    if (job.failure) {
        std::rethrow_exception(job.failure);
    }
}

void DeviceQueue::serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_jobs.empty() || m_ending; });
        if (m_jobs.empty()) {
            return;
        }
        Job* const job = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        try {
            (*job->work)();
        } catch (...) {
            job->failure = std::current_exception();
        }
        lock.lock();
        job->done = true;
        m_changed.notify_all();
    }
}

}  // namespace hub

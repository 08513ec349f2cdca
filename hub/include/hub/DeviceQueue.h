// The device's calls, one at a time and in the order they came, on a thread
// of their own. One at a time: the device has one line. In order: a till
// never waits behind calls that came after its own. Waiting here rather than
// inside the library keeps a call's whole time-out for its exchange (the
// library counts a wait for the device in it), and one thread means one
// reply buffer of the library's (it gives every calling thread its own).
#ifndef SATVARO_HUB_DEVICEQUEUE_H
#define SATVARO_HUB_DEVICEQUEUE_H

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace hub {

class DeviceQueue {
public:
    DeviceQueue();
    // Runs the calls still queued, then ends the thread.
    ~DeviceQueue();
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    // Runs `call` on the device's thread in its turn and returns what it
    // returns (or throws what it throws).
    template <typename Call>
    auto inTurn(Call&& call) {
        std::optional<decltype(call())> result;
        run([&] { result.emplace(call()); });
        return std::move(*result);
    }

private:
    struct Job {
        const std::function<void()>* work;
        bool done = false;
        std::exception_ptr failure;
    };

    void run(const std::function<void()>& work);
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job*> m_jobs;
    bool m_ending = false;
    std::thread m_thread;
};

}  // namespace hub

#endif

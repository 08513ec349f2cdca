// The device's calls, one at a time and in the order they came, on a thread
// of their own. One at a time: the device has one line. In order: a till
// never waits behind calls that came after its own. Waiting here rather than
// inside the library keeps a call's whole time-out for its exchange (the
// library counts a wait for the device in it), and one thread means one
// reply buffer of the library's (it gives every calling thread its own).
// Nobody waits for a queued call: each says itself when it ran or was
// dropped. Between calls the thread may do idle work of its own (the
// device's status), only when no call waits: a call that comes meanwhile
// waits for that one piece of work at most.
#ifndef SATVARO_HUB_DEVICEQUEUE_H
#define SATVARO_HUB_DEVICEQUEUE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace hub {

class DeviceQueue {
public:
    struct Call {
        std::function<void()> run;   // on the device's thread, in its turn
        std::function<void()> drop;  // instead, when the queue closes before its turn
    };
    enum class Queued { YES, FULL, CLOSED };

    // At most `capacity` calls wait at a time.
    explicit DeviceQueue(std::size_t capacity);
    // Closes, lets the call under way end, then ends the thread.
    ~DeviceQueue();
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    // Queues `call` behind `ahead` others (the one under way aside).
    Queued submit(Call call, std::size_t& ahead);
    // The calls waiting now, the one under way aside.
    std::size_t waiting();

    using Clock = std::chrono::steady_clock;
    // Idle work: run when it is due and no call waits; it says when it is
    // due next. Due at once from here on.
    void startIdleWork(std::function<Clock::time_point()> work);
    // The idle work is due at once.
    void idleWorkDue();

    // From here on nothing more reaches the device: the waiting calls are
    // dropped (on the calling thread), new ones refused; the call under way
    // ends.
    void close();

private:
    void serve();

    const std::size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Call> m_calls;
    bool m_closed = false;
    std::function<Clock::time_point()> m_idleWork;
    Clock::time_point m_idleDue = Clock::time_point::max();
    std::thread m_thread;
};

}  // namespace hub

#endif

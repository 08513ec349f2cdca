// The device's turns: calls reach the device one at a time (it has one line,
// and the library's reply buffer is shared), in the order they arrived, so a
// till never waits behind calls that came after its own.
#ifndef SATVARO_HUB_DEVICEQUEUE_H
#define SATVARO_HUB_DEVICEQUEUE_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace hub {

class DeviceQueue {
public:
    // Runs `call` in the caller's turn and returns what it returns.
    template <typename Call>
    auto inTurn(Call&& call) {
        const Turn turn(*this);
        return call();
    }

private:
    class Turn {
    public:
        explicit Turn(DeviceQueue& queue);
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        DeviceQueue& m_queue;
    };

    std::mutex m_mutex;
    std::condition_variable m_turnEnded;
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_serving = 0;
};

}  // namespace hub

#endif

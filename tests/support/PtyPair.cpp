#include "PtyPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    pollfd line{fd, events, 0};
    int ready = ::poll(&line, 1, msLeft(deadline));
    return ready > 0 && (line.revents & events);
}

int bytesWaiting(int fd) {
    int count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

}  // namespace

PtyPair::PtyPair() {
    satsim::openRawPty(m_ends, m_error);
}

PtyPair::~PtyPair() {
    satsim::closePty(m_ends);
}

void PtyPair::closeMaster() {
    if (m_ends.master >= 0)
        ::close(m_ends.master);
    m_ends.master = -1;
}

bool PtyPair::writeAll(const std::string& bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_ends.master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!waitFor(m_ends.master, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

zeph::Message PtyPair::readMessage(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    zeph::Message message;
    char buffer[8192];
    while (waitFor(m_ends.master, POLLIN, deadline)) {
        const ssize_t got = ::read(m_ends.master, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            break;
        bool ready = false;
        const unsigned long used =
            zeph::parseEach(message, buffer, static_cast<unsigned long>(got),
                            [&](zeph::Message::ParserState state) {
                                ready = state == zeph::Message::PARSER_MESSAGE_READY;
                                EXPECT_TRUE(ready || state == zeph::Message::PARSER_IN_PROGRESS)
                                    << "the request is damaged";
                                return !ready;
                            });
        if (ready) {
            EXPECT_EQ(used, static_cast<unsigned long>(got)) << "bytes after the request";
            return message;
        }
    }
    ADD_FAILURE() << "no whole request reached the device";
    return message;
}

void PtyPair::waitUntilTaken() {
    // Written bytes reach the slave's queue a moment later; give them that
    // moment, then wait for the queue to empty.
    const auto arrival = Clock::now() + std::chrono::milliseconds(20);
    while (bytesWaiting(m_ends.slave) == 0 && Clock::now() < arrival)
        std::this_thread::yield();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (bytesWaiting(m_ends.slave) > 0) {
        ASSERT_LT(Clock::now(), deadline) << "the channel stopped reading";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

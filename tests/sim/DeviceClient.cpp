#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "SimTest.h"

DeviceClient::DeviceClient() : m_fd(::open("/dev/ttyACM0", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios settings{};
    if (m_fd >= 0 && ::tcgetattr(m_fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(m_fd, TCSANOW, &settings);
    }
}

DeviceClient::~DeviceClient() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DeviceClient::send(const std::string& code, const std::string& body) {
    zeph::Message request(code, "3");
    request.addHeader("drs-version", "01.00.01.001");
    request.setBody(body);
    request.compress();
    const std::string wire = request.toString();
    for (size_t done = 0; done < wire.size();) {
        const ssize_t n = ::write(m_fd, wire.data() + done, wire.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

DeviceClient::Reply DeviceClient::receive(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    Reply reply;
    std::string input;
    input.swap(m_pending);
    for (;;) {
        unsigned long consumed = 0;
        if (!input.empty()) {
            reply.state = m_parser.parse(input.data(), input.size(), &consumed);
            reply.bytes += input.substr(0, consumed);
            m_pending = input.substr(consumed);
            if (reply.state != zeph::Message::PARSER_IN_PROGRESS) {
                reply.message = m_parser;
                return reply;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd line{m_fd, POLLIN, 0};
        char buffer[65536];
        const ssize_t n = left > 0 && ::poll(&line, 1, static_cast<int>(left)) > 0
                              ? ::read(m_fd, buffer, sizeof buffer)
                              : 0;
        if (n <= 0)
            return reply;
        input.assign(buffer, static_cast<size_t>(n));
    }
}

std::string DeviceClient::call(const std::string& code, const std::string& body) {
    if (!send(code, body))
        return std::string();
    const Reply reply = receive();
    return reply.state == zeph::Message::PARSER_MESSAGE_READY ? plainBody(reply.message) : "";
}

std::string plainBody(const zeph::Message& message) {
    zeph::Message plain(message);
    if (plain.isCompressed())
        plain.uncompress();
    return plain.body();
}

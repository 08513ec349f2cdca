#include "DeviceClient.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

DeviceClient::DeviceClient(const std::string& node) {
    m_fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios settings{};
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(m_fd, TCSANOW, &settings);
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
    std::string wire = request.toString();
    size_t done = 0;
    while (done < wire.size()) {
        ssize_t n = ::write(m_fd, wire.data() + done, wire.size() - done);
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
            input.clear();
            if (reply.state != zeph::Message::PARSER_IN_PROGRESS) {
                reply.message = m_parser;
                return reply;
            }
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd line{m_fd, POLLIN, 0};
        if (left <= 0 || ::poll(&line, 1, static_cast<int>(left)) <= 0)
            return reply;
        char buffer[65536];
        ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0) {
            reply.hungUp = true;
            return reply;
        }
        input.assign(buffer, static_cast<size_t>(n));
    }
}

std::string DeviceClient::call(const std::string& code, const std::string& body) {
    if (!send(code, body))
        return std::string();
    Reply reply = receive();
    if (reply.state != zeph::Message::PARSER_MESSAGE_READY)
        return std::string();
    return plainBody(reply.message);
}

std::vector<std::string> replyFields(const std::string& reply) {
    std::vector<std::string> fields(1);
    for (char c : reply) {
        if (c == '|')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::string plainBody(const zeph::Message& message) {
    zeph::Message plain(message);
    if (plain.isCompressed())
        plain.uncompress();
    return plain.body();
}

#include "PtyDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int bytesWaiting(int fd) {
    int count = 0;
    return ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

}  // namespace

// Day files of the log, each with its current size.
std::map<std::filesystem::path, std::uintmax_t> logFiles() {
    std::map<fs::path, std::uintmax_t> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("logsDrs", error)) {
        if (entry.path().filename().string().rfind("logDrs", 0) == 0 &&
            entry.path().extension() == ".log") {
            files[entry.path()] = entry.file_size();
        }
    }
    return files;
}

PtyDevice::PtyDevice() : m_master(posix_openpt(O_RDWR | O_NOCTTY)), m_slaveProbe(-1) {
    EXPECT_GE(m_master, 0);
    EXPECT_EQ(grantpt(m_master), 0);
    EXPECT_EQ(unlockpt(m_master), 0);
    m_slavePath = ptsname(m_master);
    m_slaveProbe = open(m_slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(m_slaveProbe, 0);
}

PtyDevice::~PtyDevice() {
    unplug();
    if (m_slaveProbe >= 0) {
        close(m_slaveProbe);
    }
}

zeph::Message PtyDevice::readMessage() {
    zeph::Message message;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    char buffer[8192];
    while (Clock::now() < deadline) {
        struct pollfd watch = {m_master, POLLIN, 0};
        if (poll(&watch, 1, 100) <= 0) {
            continue;
        }
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        unsigned long consumed = 0;
        while (consumed < static_cast<unsigned long>(got)) {
            const zeph::Message::ParserState state =
                message.parse(buffer + consumed, static_cast<unsigned long>(got) - consumed, &consumed);
            if (state == zeph::Message::PARSER_MESSAGE_READY) {
                EXPECT_EQ(consumed, static_cast<unsigned long>(got)) << "bytes after the request";
                return message;
            }
            EXPECT_EQ(state, zeph::Message::PARSER_IN_PROGRESS) << "the request is damaged";
        }
    }
    ADD_FAILURE() << "no whole request reached the device";
    return message;
}

void PtyDevice::write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        ASSERT_GT(put, 0);
        done += static_cast<size_t>(put);
    }
}

void PtyDevice::waitUntilTaken() {
    // Written bytes reach the slave's queue a moment later; give them that
    // moment, then wait for the queue to empty.
    const auto arrival = Clock::now() + std::chrono::milliseconds(20);
    while (bytesWaiting(m_slaveProbe) == 0 && Clock::now() < arrival) {
        std::this_thread::yield();
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (bytesWaiting(m_slaveProbe) > 0) {
        ASSERT_LT(Clock::now(), deadline) << "the channel stopped reading";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PtyDevice::unplug() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

std::string replyWire(const std::string& code, const std::string& body) {
    zeph::Message reply(code, "1");
    reply.setBody(body);
    EXPECT_EQ(reply.compress(), 0);
    return reply.toString();
}

LogCursor::LogCursor() : m_start(logFiles()) {}

std::vector<std::string> LogCursor::lines() const {
    std::string text;
    for (const auto& file : logFiles()) {
        const auto known = m_start.find(file.first);
        std::ifstream in(file.first, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(known == m_start.end() ? 0 : known->second));
        text += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // "[YYYY-MM-DD.HH:MM:SS] - [level, message]"
        const size_t open = line.find("] - [");
        const size_t comma = line.find(", ", open);
        if (open == std::string::npos || comma == std::string::npos || line.back() != ']') {
            continue;
        }
        const std::string level = line.substr(open + 5, comma - open - 5);
        result.push_back(level + "|" + line.substr(comma + 2, line.size() - comma - 3));
    }
    return result;
}

int LogCursor::count(const std::string& level, const std::string& message) const {
    int found = 0;
    for (const std::string& line : lines()) {
        found += line == level + "|" + message ? 1 : 0;
    }
    return found;
}

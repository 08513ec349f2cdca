#include "serial/SerialCommChannel.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <regex.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "codec/zeph.h"
#include "log/logdebug.h"
#include "serial/serialdefs.h"

namespace serial {

namespace {

// The device's by-id link is the only line of the listing we care about; when
// several units are attached the last one listed wins.
const char* const BY_ID_COMMAND =
    "ls -l /dev/serial/by-id > /dev/null 2>&1 && "
    "ls -l /dev/serial/by-id | grep \"\\-mfc+_with_musb\" | tail -1";

const unsigned long CHUNK_SIZE = 8192;
const unsigned long READ_BUFFER_SIZE = 8192;
const unsigned int FAILURE_LIMIT = 500;
const int READ_WAIT_MS = 100;
const useconds_t PAUSE_AFTER_SEND_US = 100000;
const useconds_t CLOSED_PORT_WAIT_US = 1000000;
const useconds_t PAUSE_AFTER_WRITE_LIMIT_US = 1000000;
const std::uint64_t MAX_REPLY_BODY = 0x180000;
const int MAX_TIMEOUT_RESTARTS = 5;

// The speed travels in the control flags; no separate speed calls.
const tcflag_t LINE_CONTROL_FLAGS = CLOCAL | CREAD | B38400;
const tcflag_t LINE_LOCAL_FLAGS_OFF = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT;
static_assert(LINE_CONTROL_FLAGS == 0x88F, "the device expects exactly these control flags");
static_assert(LINE_LOCAL_FLAGS_OFF == 0x67A, "canonical mode and every echo off");

void logLine(const char* level, const std::string& message) {
    LogDebug::obtemReferencia()->saveLog(level, message);
}

long long elapsedMs(Deadline::Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Deadline::Clock::now() - since)
        .count();
}

struct GlobFree {
    void operator()(glob_t* g) const {
        globfree(g);
        delete g;
    }
};
using GlobResult = std::unique_ptr<glob_t, GlobFree>;

// The paths matching `pattern` in glob order; empty on no match or error.
GlobResult expand(const std::string& pattern) {
    GlobResult result(new glob_t());
    if (glob(pattern.c_str(), 0, nullptr, result.get()) != 0) {
        result->gl_pathc = 0;
    }
    return result;
}

// First line of a small attribute file, without its newline; nothing when
// the file cannot be opened.
std::optional<std::string> firstLine(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    char line[256] = {0};
    if (std::fgets(line, sizeof line, file) == nullptr) {
        line[0] = '\0';
    }
    std::fclose(file);
    std::string text(line);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// The sysfs directory of an ".../idVendor" attribute, with its trailing slash.
std::optional<std::string> deviceDirectory(const std::string& attributePath) {
    regex_t pattern;
    if (regcomp(&pattern, "^(.*)idVendor[ \t\n]*$", REG_EXTENDED) != 0) {
        return std::nullopt;  // a library never ends its host process
    }
    regmatch_t match[2];
    std::optional<std::string> directory;
    if (regexec(&pattern, attributePath.c_str(), 2, match, 0) == 0 && match[1].rm_eo >= 0) {
        directory = attributePath.substr(0, static_cast<size_t>(match[1].rm_eo));
    }
    regfree(&pattern);
    return directory;
}

// The first entry of `directory` not starting with '.', e.g. "ttyACM0".
std::optional<std::string> firstVisibleEntry(const char* directory) {
    DIR* dir = opendir(directory);
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> name;
    while (const struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            name = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return name;
}

// A reply body the host can take: plain (a compressed one that would not
// uncompress, e.g. announcing more than the 20 MiB cap, stays compressed) and
// no larger than the reply buffer.
bool hasUsableBody(const zeph::Message& message) {
    return message.header(zeph::HDR_CONTENT_TYPE) != zeph::HDR_CONTENT_COMPRESSED &&
           message.bodySize() <= MAX_REPLY_BODY;
}

ssize_t writeRetrying(int fd, const char* data, size_t length) {
    ssize_t written;
    do {
        written = ::write(fd, data, length);
    } while (written < 0 && errno == EINTR);
    return written;
}

ssize_t readRetrying(int fd, char* buffer, size_t length) {
    ssize_t got;
    do {
        got = ::read(fd, buffer, length);
    } while (got < 0 && errno == EINTR);
    return got;
}

// Waits until the output queued on `fd` has gone to the other end.
void drainOutput(int fd) {
    while (tcdrain(fd) != 0 && errno == EINTR) {
    }
}

// Waits at most READ_WAIT_MS for input or a hang-up. 1: something to read
// (or the line is gone), 0: nothing came, -1: poll itself failed.
int waitReadable(int fd) {
    struct pollfd watch;
    watch.fd = fd;
    watch.events = POLLIN;
    int ready;
    do {
        watch.revents = 0;
        ready = poll(&watch, 1, READ_WAIT_MS);
    } while (ready < 0 && errno == EINTR);
    return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

// A message's wire form: its header block followed by its stored body. The
// body is not copied, since a fresh copy of a large request costs more than
// sending it. Only a chunk that straddles the end of the header block is
// assembled in a scratch buffer.
class WireForm {
public:
    explicit WireForm(const zeph::Message& message)
        : m_head(message.headers()), m_body(message.body()) {}

    unsigned long size() const { return m_head.size() + m_body.size(); }

    // `length` contiguous bytes from `offset`; valid until the next call.
    const char* bytes(unsigned long offset, unsigned long length) {
        const unsigned long headSize = m_head.size();
        if (offset + length <= headSize) {
            return m_head.data() + offset;
        }
        if (offset >= headSize) {
            return m_body.data() + (offset - headSize);
        }
        m_scratch.assign(m_head, offset, headSize - offset);
        m_scratch.append(m_body, 0, length - (headSize - offset));
        return m_scratch.data();
    }

private:
    const std::string m_head;
    const std::string& m_body;
    std::string m_scratch;
};

}  // namespace

SerialCommChannel::SerialCommChannel() : m_fd(-1), m_failCount(0), m_timeRef(), m_waited() {}

SerialCommChannel::~SerialCommChannel() {
    disconnect_client();
}

std::optional<std::string> SerialCommChannel::findUsbDevice() {
    FILE* listing = popen(BY_ID_COMMAND, "r");
    if (listing == nullptr) {
        return std::nullopt;
    }
    char line[256] = {0};
    const bool gotLine = std::fgets(line, sizeof line, listing) != nullptr;
    pclose(listing);
    if (!gotLine) {
        return std::nullopt;
    }
    // The link target names the node: "... -> ../../ttyACM12". Take every
    // digit of the number: stopping at the first would name another device.
    const char* node = std::strstr(line, "ttyACM");
    if (node == nullptr) {
        return std::nullopt;
    }
    const size_t prefix = std::strlen("ttyACM");
    const size_t digits = std::strspn(node + prefix, "0123456789");
    if (digits == 0) {
        return std::nullopt;
    }
    return "/dev/" + std::string(node, prefix + digits);
}

std::optional<std::string> SerialCommChannel::findUsbDeviceByVendorId() {
    const GlobResult attributes = expand("/sys/bus/usb/devices/*/idVendor");
    const char* vendorFile = nullptr;
    for (size_t i = 0; i < attributes->gl_pathc && vendorFile == nullptr; ++i) {
        const std::optional<std::string> vendor = firstLine(attributes->gl_pathv[i]);
        if (!vendor) {
            return std::nullopt;
        }
        if (*vendor == SERIAL_VENDOR_ID) {
            vendorFile = attributes->gl_pathv[i];
        }
    }
    if (vendorFile == nullptr) {
        return std::nullopt;
    }
    const std::optional<std::string> directory = deviceDirectory(vendorFile);
    if (!directory) {
        return std::nullopt;
    }
    const GlobResult ttyDirs = expand(*directory + "*/tty/");
    if (ttyDirs->gl_pathc == 0) {
        return std::nullopt;
    }
    const std::optional<std::string> node = firstVisibleEntry(ttyDirs->gl_pathv[0]);
    if (!node) {
        return std::nullopt;
    }
    return "/dev/" + *node;
}

int SerialCommChannel::openSerial(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    // Close-on-exec: a program another thread of the host starts meanwhile
    // must not keep the line up after the exchange.
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    // isatty also fails on -1 (EBADF). A node that is no terminal stays open
    // until disconnect_client.
    if (!isatty(m_fd)) {
        return errno;
    }
    struct termios line = {};
    tcgetattr(m_fd, &line);
    line.c_cflag = LINE_CONTROL_FLAGS;
    line.c_lflag &= ~LINE_LOCAL_FLAGS_OFF;
    line.c_iflag = 0;
    line.c_oflag = 0;
    cfmakeraw(&line);
    // A read returns with whatever is there, or empty after 0.1 s.
    line.c_cc[VTIME] = 1;
    line.c_cc[VMIN] = 0;
    tcflush(m_fd, TCIOFLUSH);
    tcsetattr(m_fd, TCSANOW, &line);
    return 0;
}

int SerialCommChannel::statusErro() {
    if (m_fd >= 0) {
        return 0;
    }
    switch (errno) {
    case EFAULT:
    case ETXTBSY:
        return 7;
    case ENODEV:
        return 6;
    default:
        return 5;
    }
}

int SerialCommChannel::connect_client(int timeoutMs) {
    const std::optional<std::string> path = findUsbDevice();
    if (!path) {
        return -1;
    }
    const Deadline::Clock::time_point waitStart = Deadline::Clock::now();
    if (!m_lock.acquire(*path,
                        timeoutMs == NO_TIME_LIMIT ? Deadline::never() : Deadline(timeoutMs))) {
        logLine("error",
                "[SerialCommChannel::connect_client] Dispositivo ocupado por outra "
                "chamada ate o fim do timeout; nada foi enviado");
        return CONNECT_BUSY;
    }
    m_waited = Deadline::Clock::now() - waitStart;
    return openSerial(*path);
}

void SerialCommChannel::disconnect_client() {
    if (serialIsValid()) {
        flushSerialIn();
        flushSerialOut();
        ::close(m_fd);
        m_fd = -1;
    }
}

bool SerialCommChannel::serialIsValid() {
    if (m_fd == -1) {
        // The device expects this pause between a closed port and the next
        // attempt; callers rely on it for pacing.
        usleep(CLOSED_PORT_WAIT_US);
        return false;
    }
    return true;
}

int SerialCommChannel::flushSerialIn() {
    return tcflush(m_fd, TCIFLUSH);
}

int SerialCommChannel::flushSerialOut() {
    return tcflush(m_fd, TCOFLUSH);
}

std::string SerialCommChannel::getTimer() {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d ", local.tm_year + 1900,
                  local.tm_mday, local.tm_mon + 1, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool SerialCommChannel::closedAfterRepeatedFailure() {
    if (++m_failCount < FAILURE_LIMIT) {
        return false;
    }
    disconnect_client();
    m_failCount = 0;
    return true;
}

int SerialCommChannel::send(const char* data, unsigned int length) {
    const int written = m_fd == -1 ? -1 : static_cast<int>(writeRetrying(m_fd, data, length));
    if (written > 0) {
        m_failCount = 0;
        return written;
    }
    if (closedAfterRepeatedFailure()) {
        usleep(PAUSE_AFTER_WRITE_LIMIT_US);
    }
    flushSerialOut();
    return written;
}

int SerialCommChannel::receive(char* buffer, unsigned long length) {
    int got = -1;
    if (m_fd != -1) {
        const int ready = waitReadable(m_fd);
        if (ready == 0) {
            // Plain silence: the device may think for half an hour, so an
            // empty wait is not a failure of the line.
            return 0;
        }
        // Readable but empty means the line hung up (device unplugged).
        got = ready < 0 ? -1 : static_cast<int>(readRetrying(m_fd, buffer, length));
    }
    if (got > 0) {
        m_failCount = 0;
        return got;
    }
    closedAfterRepeatedFailure();
    return got;
}

int SerialCommChannel::send_data(zeph::Message& message) {
    // A caller that waited for the device has spent that much of its time-out.
    m_timeRef = Deadline::Clock::now() - m_waited;
    WireForm wire(message);
    const unsigned long total = wire.size();
    unsigned long pending = total;
    unsigned long offset = 0;
    int result;
    for (;;) {
        if (pending < CHUNK_SIZE) {
            // The last chunk: on a short write send exactly the rest next
            // pass; a complete one leaves its size for the log line.
            result = send(wire.bytes(offset, pending), static_cast<unsigned int>(pending));
            if (result > 0 && static_cast<unsigned long>(result) < pending) {
                pending -= static_cast<unsigned long>(result);
            }
        } else {
            result = send(wire.bytes(offset, CHUNK_SIZE), static_cast<unsigned int>(CHUNK_SIZE));
            if (result > 0) {
                pending -= static_cast<unsigned long>(result);
            }
        }
        logLine("info", "[SerialCommChannel::send_data] Bytes enviados: " +
                            std::to_string(pending) + "Bytes Totais: " + std::to_string(total));
        if (result < 0) {
            break;
        }
        // Let the chunk leave before the next one: discarding untransmitted
        // output (as a flush would) loses the request. Draining after the log
        // line lets the line be written while the bytes go out.
        if (result > 0) {
            drainOutput(m_fd);
        }
        offset += static_cast<unsigned long>(result);
        if (offset >= total) {
            break;
        }
    }
    // The device needs a moment between the end of a request and the
    // start of our reads.
    usleep(PAUSE_AFTER_SEND_US);
    if (offset < total) {
        logLine("info", "[SerialCommChannel::send_data] Falha no envio.");
    } else {
        logLine("info", "[SerialCommChannel::send_data] Enviado com sucesso");
    }
    return result;
}

int SerialCommChannel::receive_data(const char* expectedCode, zeph::Message& reply, int timeoutMs) {
    int result = STATUS_PARSE_ERROR;
    int restarts = 0;
    zeph::Message::ParserState state = zeph::Message::PARSER_IN_PROGRESS;
    zeph::Message incoming;
    std::unique_ptr<char[]> buffer(new char[READ_BUFFER_SIZE]());
    bool accepted = false;
    bool refusedOwnReply = false;

    for (;;) {
        const int got = receive(buffer.get(), READ_BUFFER_SIZE);
        unsigned long consumed = 0;
        while (got > 0 && consumed < static_cast<unsigned long>(got) && !accepted) {
            state = incoming.parse(buffer.get() + consumed,
                                   static_cast<unsigned long>(got) - consumed, &consumed);
            switch (state) {
            case zeph::Message::PARSER_SYNTAX_ERROR:
                logLine("error", "[SerialCommChannel::receive_data] PARSER_SYNTAX_ERROR");
                break;
            case zeph::Message::PARSER_CHECKSUM_ERROR:
                logLine("error", "[SerialCommChannel::receive_data] PARSER_CHECKSUM_ERROR");
                break;
            case zeph::Message::PARSER_MESSAGE_READY:
                if (incoming.isCompressed()) {
                    incoming.uncompress();
                }
                if (incoming.code() == expectedCode && hasUsableBody(incoming)) {
                    reply = incoming;
                    logLine("info", "[SerialCommChannel::receive_data] __NOERROR__");
                    result = STATUS_OK;
                    // Whatever follows the accepted reply belongs to no one.
                    accepted = true;
                    break;
                }
                refusedOwnReply = refusedOwnReply || incoming.code() == expectedCode;
                // A stale reply of an earlier command, or ours with a body we
                // cannot take: give an acceptable one a fresh time-out, a few
                // times over.
                logLine("info", "Comando invalido");
                if (restarts < MAX_TIMEOUT_RESTARTS) {
                    logLine("info", "Reinicio do timeout");
                    state = zeph::Message::PARSER_IN_PROGRESS;
                    m_timeRef = Deadline::Clock::now();
                }
                ++restarts;
                result = STATUS_WRONG_REPLY;
                break;
            case zeph::Message::PARSER_IN_PROGRESS:
                break;
            }
        }
        if (accepted) {
            break;
        }
        if (got < 0) {
            logLine("error", " [SerialCommChannel::receive_data] __READERROR__");
            result = STATUS_READ_ERROR;
            break;
        }
        // A batch that ended on a judged message or an error decides now,
        // unless it came too late; a batch still inside a message reads on.
        const bool decided = state != zeph::Message::PARSER_IN_PROGRESS;
        const long long elapsed = elapsedMs(m_timeRef);
        if (decided ? elapsed >= timeoutMs : elapsed > timeoutMs) {
            logLine("error", " [SerialCommChannel::receive_data] __TIMEOUT__");
            // The device did answer this command, with a body we refused:
            // that, not the wait, is what the host must hear of.
            result = refusedOwnReply ? STATUS_WRONG_REPLY : STATUS_TIMEOUT;
            break;
        }
        if (decided) {
            break;
        }
    }
    // Nothing queued in either direction outlives the exchange.
    tcflush(m_fd, TCIOFLUSH);
    return result;
}

}  // namespace serial

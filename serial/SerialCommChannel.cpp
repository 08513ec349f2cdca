#include "serial/SerialCommChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <utility>

#include "DeviceDiscovery.h"
#include "codec/zeph.h"
#include "common/RetryOnSignal.h"
#include "log/logdebug.h"

namespace serial {

namespace {

const unsigned long CHUNK_SIZE = 8192;
const unsigned long READ_BUFFER_SIZE = 8192;
const unsigned int FAILURE_LIMIT = 500;
const int READ_WAIT_MS = 100;
const useconds_t PAUSE_AFTER_WRITE_LIMIT_US = 1000000;
// A reply body the host can take leaves room for its NUL in the host's reply
// buffer: this is the one place where its size is judged.
const std::uint64_t MAX_REPLY_BODY = SATVARO_REPLY_BUFFER_SIZE - 1;
const int MAX_TIMEOUT_RESTARTS = 5;
// A reply announcing a body larger than any compressed one we could take is
// refused as soon as its header block is read, not collected.
const std::uint64_t MAX_ANNOUNCED_BODY = zeph::Message::compressedSizeBound(MAX_REPLY_BODY);
const std::chrono::milliseconds DRAIN_CHECK_INTERVAL(1);

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

// A reply body the host can take: plain (a compressed one that would not
// uncompress, e.g. announcing more than the 20 MiB cap, stays compressed) and
// no longer than MAX_REPLY_BODY.
bool hasUsableBody(const zeph::Message& message) {
    return message.header(zeph::HDR_CONTENT_TYPE) != zeph::HDR_CONTENT_COMPRESSED &&
           message.bodySize() <= MAX_REPLY_BODY;
}

// poll on one descriptor.
int pollOne(int fd, short events, int timeoutMs) {
    struct pollfd watch;
    watch.fd = fd;
    watch.events = events;
    return retryOnSignal([&] {
        watch.revents = 0;
        return poll(&watch, 1, timeoutMs);
    });
}

// poll's time-out for what is left of `deadline`: -1 waits for ever.
int pollTimeout(const Deadline& deadline) {
    return deadline.end() == Deadline::never().end() ? -1 : deadline.remainingMs(INT_MAX);
}

// Waits until `fd` takes more output, or `deadline` passes (false). An error
// on the line, or no line, counts as writable: the write reports it.
bool waitWritable(int fd, const Deadline& deadline) {
    return fd < 0 || pollOne(fd, POLLOUT, pollTimeout(deadline)) != 0;
}

// Waits until the output queued on `fd` has gone to the other end, or
// `deadline` passes (false). tcdrain cannot be given a time-out, so the
// queue is watched: poll wakes once little of it is left, and that little
// goes in well under a millisecond.
bool drainOutput(int fd, const Deadline& deadline) {
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
            return true;
        }
        if (deadline.passed() || !waitWritable(fd, deadline)) {
            return false;
        }
        if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
            std::this_thread::sleep_for(DRAIN_CHECK_INTERVAL);
        }
    }
}

// Writes to the line do not block while it is in place: a device that stops
// reading must not hold the host past the exchange's time-out.
class NonBlockingWrites {
public:
    explicit NonBlockingWrites(int fd) : m_fd(fd), m_flags(fcntl(fd, F_GETFL)) {
        if (m_flags >= 0) {
            fcntl(m_fd, F_SETFL, m_flags | O_NONBLOCK);
        }
    }
    ~NonBlockingWrites() {
        if (m_flags >= 0) {
            fcntl(m_fd, F_SETFL, m_flags);
        }
    }
    NonBlockingWrites(const NonBlockingWrites&) = delete;
    NonBlockingWrites& operator=(const NonBlockingWrites&) = delete;

private:
    int m_fd;
    int m_flags;
};

// Waits at most READ_WAIT_MS for input or a hang-up. 1: something to read
// (or the line is gone), 0: nothing came, -1: poll itself failed.
int waitReadable(int fd) {
    const int ready = pollOne(fd, POLLIN, READ_WAIT_MS);
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

SerialCommChannel::SerialCommChannel()
    : m_fd(-1), m_failCount(0), m_timeRef(), m_waited(), m_timeoutMs(NO_TIME_LIMIT) {}

SerialCommChannel::~SerialCommChannel() {
    disconnect_client();
}

std::optional<std::string> SerialCommChannel::findUsbDevice() {
    return findByIdNode();
}

std::optional<std::string> SerialCommChannel::findUsbDeviceByVendorId() {
    return findVendorIdNode();
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
    const std::optional<NamedDevice> named = findNamedDevice();
    if (named && !named->refusal.empty()) {
        logLine("error",
                "[SerialCommChannel::connect_client] " + named->refusal + "; nada foi enviado");
        return -1;
    }
    const std::optional<std::string> path = named ? named->path : findUsbDevice();
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
    m_timeoutMs = timeoutMs;
    const int opened = openSerial(*path);
    // A named node that cannot serve fails as a missing device does; the
    // log says why.
    if (named && opened != 0) {
        logLine("error", "[SerialCommChannel::connect_client] SATVARO_DEVICE=" + *path +
                             (opened == ENOTTY ? " nao e um terminal"
                                               : std::string(": ") + std::strerror(opened)) +
                             "; nada foi enviado");
        return -1;
    }
    return opened;
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
        usleep(REST_AFTER_CLOSE_US);
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
    const int written =
        m_fd == -1 ? -1
                   : static_cast<int>(retryOnSignal([&] { return ::write(m_fd, data, length); }));
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
        got = ready < 0
                  ? -1
                  : static_cast<int>(retryOnSignal([&] { return ::read(m_fd, buffer, length); }));
    }
    if (got > 0) {
        m_failCount = 0;
        return got;
    }
    closedAfterRepeatedFailure();
    return got;
}

// A chunk goes out whole, as a blocking write sends it, but the wait for
// room on the line ends with the exchange's time-out: then, or when a write
// fails, the chunk fails.
int SerialCommChannel::sendWithin(const char* data, unsigned long length,
                                  const Deadline& deadline) {
    unsigned long written = 0;
    while (written < length) {
        if (!waitWritable(m_fd, deadline)) {
            return -1;
        }
        const int result = send(data + written, static_cast<unsigned int>(length - written));
        if (result <= 0) {
            return result;
        }
        written += static_cast<unsigned long>(result);
    }
    return static_cast<int>(written);
}

int SerialCommChannel::send_data(zeph::Message& message) {
    // A caller that waited for the device has spent that much of its time-out.
    m_timeRef = Deadline::Clock::now() - m_waited;
    const Deadline deadline =
        m_timeoutMs == NO_TIME_LIMIT
            ? Deadline::never()
            : Deadline::at(m_timeRef + std::chrono::milliseconds(m_timeoutMs));
    const NonBlockingWrites nonBlocking(m_fd);
    WireForm wire(message);
    const unsigned long total = wire.size();
    unsigned long pending = total;
    unsigned long offset = 0;
    int result;
    for (;;) {
        if (pending < CHUNK_SIZE) {
            // The last chunk: on a short write send exactly the rest next
            // pass; a complete one leaves its size for the log line.
            result = sendWithin(wire.bytes(offset, pending), pending, deadline);
            if (result > 0 && static_cast<unsigned long>(result) < pending) {
                pending -= static_cast<unsigned long>(result);
            }
        } else {
            result = sendWithin(wire.bytes(offset, CHUNK_SIZE), CHUNK_SIZE, deadline);
            if (result > 0) {
                pending -= static_cast<unsigned long>(result);
            }
        }
        logLine("info", "[SerialCommChannel::send_data] Bytes enviados: " +
                            std::to_string(pending) + "Bytes Totais: " + std::to_string(total));
        // Let the chunk leave before the next one: discarding untransmitted
        // output (as a flush would) loses the request. Draining after the log
        // line lets the line be written while the bytes go out.
        if (result > 0 && !drainOutput(m_fd, deadline)) {
            result = -1;
        }
        if (result < 0) {
            break;
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

// What one receive_data has come to so far.
struct SerialCommChannel::Reception {
    const char* expectedCode;
    int status = SATVARO_STATUS_PARSE_ERROR;
    int restarts = 0;
    bool accepted = false;         // a reply was taken: the exchange is over
    bool gaveUp = false;           // the time-out restarts are used up
    bool refusedOwnReply = false;  // the device answered us with a body we cannot take
};

// A stale reply of an earlier command, or ours with a body we cannot take:
// an acceptable one gets a fresh time-out, a few times over. False once the
// restarts are used up.
bool SerialCommChannel::refuse(const zeph::Message& message, Reception& reception) {
    reception.refusedOwnReply =
        reception.refusedOwnReply || message.code() == reception.expectedCode;
    logLine("info", "Comando invalido");
    reception.status = SATVARO_STATUS_REFUSED;
    if (reception.restarts++ >= MAX_TIMEOUT_RESTARTS) {
        return false;
    }
    logLine("info", "Reinicio do timeout");
    m_timeRef = Deadline::Clock::now();
    return true;
}

zeph::Message::ParserState SerialCommChannel::judge(zeph::Message::ParserState parsed,
                                                    zeph::Message& incoming, zeph::Message& reply,
                                                    Reception& reception) {
    switch (parsed) {
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
        if (incoming.code() == reception.expectedCode && hasUsableBody(incoming)) {
            // Nothing is parsed after an accepted reply: it is handed over whole.
            reply = std::move(incoming);
            logLine("info", "[SerialCommChannel::receive_data] __NOERROR__");
            reception.status = SATVARO_STATUS_OK;
            reception.accepted = true;
        } else if (refuse(incoming, reception)) {
            return zeph::Message::PARSER_IN_PROGRESS;
        }
        break;
    case zeph::Message::PARSER_IN_PROGRESS:
        // Memory for one reply stays bounded whatever a device announces.
        if (incoming.pendingBodySize() > MAX_ANNOUNCED_BODY) {
            reception.gaveUp = !refuse(incoming, reception);
            incoming = zeph::Message();
        }
        break;
    }
    return parsed;
}

int SerialCommChannel::receive_data(const char* expectedCode, zeph::Message& reply, int timeoutMs) {
    Reception reception{expectedCode};
    zeph::Message::ParserState state = zeph::Message::PARSER_IN_PROGRESS;
    zeph::Message incoming;
    std::unique_ptr<char[]> buffer(new char[READ_BUFFER_SIZE]());

    for (;;) {
        const int got = receive(buffer.get(), READ_BUFFER_SIZE);
        if (got > 0) {
            zeph::parseEach(incoming, buffer.get(), static_cast<unsigned long>(got),
                            [&](zeph::Message::ParserState parsed) {
                                state = judge(parsed, incoming, reply, reception);
                                // Whatever follows the accepted reply belongs to no one.
                                return !reception.accepted;
                            });
        }
        if (reception.accepted) {
            break;
        }
        if (got < 0) {
            logLine("error", " [SerialCommChannel::receive_data] __READERROR__");
            reception.status = SATVARO_STATUS_READ_ERROR;
            break;
        }
        // A batch that ended on a judged message or an error decides now,
        // unless it came too late; a batch still inside a message reads on.
        const bool decided = reception.gaveUp || state != zeph::Message::PARSER_IN_PROGRESS;
        const long long elapsed = elapsedMs(m_timeRef);
        if (decided ? elapsed >= timeoutMs : elapsed > timeoutMs) {
            logLine("error", " [SerialCommChannel::receive_data] __TIMEOUT__");
            // The device did answer this command, with a body we refused:
            // that, not the wait, is what the host must hear of.
            reception.status =
                reception.refusedOwnReply ? SATVARO_STATUS_REFUSED : SATVARO_STATUS_TIMEOUT;
            break;
        }
        if (decided) {
            break;
        }
    }
    // Nothing queued in either direction outlives the exchange.
    tcflush(m_fd, TCIOFLUSH);
    return reception.status;
}

}  // namespace serial

#include "HttpFront.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "hub/AddressList.h"
#include "hub/HttpService.h"
#include "hub/HubLog.h"
#include "hub/LogThrottle.h"

namespace hub {

namespace {

// Lines about refused connections, in all, per minute.
constexpr std::size_t REFUSAL_LINES_PER_MINUTE = 60;
// How often answers sent are checked for the client's acknowledgement.
constexpr int CONFIRMATION_CHECK_MS = 10;

// Whether the client acknowledged every byte sent on `fd`, its connection
// alive (a write into a connection its client closed succeeds all the same).
bool acknowledged(int fd) {
    int unacknowledged = -1;
    tcp_info info{};
    socklen_t length = sizeof info;
    return ::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0 &&
           ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 &&
           info.tcpi_state != TCP_CLOSE;
}

// An IPv4 client of an IPv6 socket is named by its IPv4 address.
std::string addressText(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& ipv6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&ipv6)) {
            inet_ntop(AF_INET, &ipv6.s6_addr[12], text, sizeof text);
        } else {
            inet_ntop(AF_INET6, &ipv6, text, sizeof text);
        }
    }
    return text;
}

int listenOn(const addrinfo& candidate) {
    const int listener =
        ::socket(candidate.ai_family, candidate.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) {
        return -1;
    }
    const int on = 1;
    const int off = 0;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (candidate.ai_family == AF_INET6) {  // "::" takes IPv4 clients too
        ::setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(listener, candidate.ai_addr, candidate.ai_addrlen) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(listener);
        errno = error;
        return -1;
    }
    return listener;
}

LogThrottle& refusalLines() {
    static LogThrottle throttle(REFUSAL_LINES_PER_MINUTE);
    return throttle;
}

}  // namespace

struct HttpFront::Connection {
    int fd = -1;
    std::string address;
    HttpExchange* exchange = nullptr;
    bool hasDeadline = false;
    std::multimap<Clock::time_point, Connection*>::iterator deadline;
    // The ends of exchanges whose answers went out, told once the client
    // acknowledged every byte (or the connection ended first).
    std::vector<std::function<void(bool)>> unconfirmed;
};

// libmicrohttpd calls these on the loop's thread.
struct HttpFront::Callbacks {
    static MHD_Result admit(void* front, const sockaddr* address, socklen_t) {
        return static_cast<HttpFront*>(front)->admitted(addressText(address)) ? MHD_YES : MHD_NO;
    }

    // The request line: the exchange begins, with the target as sent.
    static void* requestLine(void* front, const char* target, MHD_Connection* connection) {
        return static_cast<HttpFront*>(front)->begin(connection, target);
    }

    static MHD_Result handle(void* front, MHD_Connection*, const char*, const char* method,
                             const char*, const char* upload, std::size_t* uploadSize,
                             void** context) {
        auto& exchange = *static_cast<HttpExchange*>(*context);
        try {
            return static_cast<HttpFront*>(front)->handle(exchange, method, upload, uploadSize)
                       ? MHD_YES
                       : MHD_NO;
        } catch (const std::exception&) {
            return MHD_NO;  // nothing may cross the library's C code: the connection ends
        }
    }

    static void ended(void* front, MHD_Connection*, void** context,
                      MHD_RequestTerminationCode reason) {
        static_cast<HttpFront*>(front)->ended(static_cast<HttpExchange*>(*context),
                                              reason == MHD_REQUEST_TERMINATED_COMPLETED_OK);
        *context = nullptr;
    }

    static void connectionEvent(void* front, MHD_Connection* connection, void** socketContext,
                                MHD_ConnectionNotificationCode event) {
        auto* const self = static_cast<HttpFront*>(front);
        if (event == MHD_CONNECTION_NOTIFY_STARTED) {
            self->opened(connection, socketContext);
        } else {
            self->closed(socketContext);
        }
    }
};

HttpFront::HttpFront(HttpService& service, const FrontLimits& limits)
    : m_service(service), m_limits(limits), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

HttpFront::~HttpFront() {
    if (m_daemon != nullptr) {
        MHD_stop_daemon(m_daemon);
    } else if (m_listener >= 0) {
        ::close(m_listener);
    }
    ::close(m_wake);
}

bool HttpFront::bind(const std::string& address, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* candidates = nullptr;
    const std::string where = "cannot listen on " + address + " port " + std::to_string(port);
    const int found =
        ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &candidates);
    if (found != 0) {
        error = where + ": " + gai_strerror(found);
        return false;
    }
    for (const addrinfo* candidate = candidates; candidate != nullptr && m_listener < 0;
         candidate = candidate->ai_next) {
        m_listener = listenOn(*candidate);
    }
    const int failure = errno;
    ::freeaddrinfo(candidates);
    if (m_listener < 0) {
        error =
            where + ": " +
            (failure == EADDRNOTAVAIL ? "not an address of this machine" : std::strerror(failure));
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                               : reinterpret_cast<sockaddr_in&>(bound).sin_port);
    return true;
}

bool HttpFront::serve(std::string& error) {
    // No MHD_USE_ERROR_LOG: its lines would be the clients' to multiply.
    m_daemon = MHD_start_daemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, &Callbacks::admit, this, &Callbacks::handle,
        this, MHD_OPTION_LISTEN_SOCKET, m_listener, MHD_OPTION_CONNECTION_LIMIT,
        m_limits.connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.headBytes,
        MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds, MHD_OPTION_NOTIFY_COMPLETED,
        &Callbacks::ended, this, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connectionEvent, this,
        MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::requestLine, this, MHD_OPTION_END);
    if (m_daemon == nullptr) {
        error = "the HTTP library cannot start";
        return false;
    }
    return runLoop(error);
}

// One thread waits for the network (libmicrohttpd's epoll set), for the
// answers other threads hand over and for the stop; then libmicrohttpd
// does what is ready, and the connections past their deadline are closed.
bool HttpFront::runLoop(std::string& error) {
    const int network = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD)->epoll_fd;
    const int loop = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event watch{};
    watch.events = EPOLLIN;
    bool ready = loop >= 0;
    for (const int source : {network, m_wake}) {
        watch.data.fd = source;
        ready = ready && ::epoll_ctl(loop, EPOLL_CTL_ADD, source, &watch) == 0;
    }
    while (ready && !(m_stopping && m_exchanges == 0)) {
        epoll_event events[2];
        if (::epoll_wait(loop, events, 2, waitMilliseconds()) < 0 && errno != EINTR) {
            break;
        }
        std::uint64_t wakes = 0;
        const ssize_t drained = ::read(m_wake, &wakes, sizeof wakes);
        (void)drained;
        // Deliveries are confirmed before new requests are read: a client
        // that sends its next request has acknowledged the last answer.
        confirmDeliveries();
        takeAnswers();
        MHD_run(m_daemon);
        suspendUnanswered();
        closeLate();
    }
    if (!(m_stopping && m_exchanges == 0)) {
        error = std::string("the HTTP front's loop failed: ") + std::strerror(errno);
    }
    if (loop >= 0) {
        ::close(loop);
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    return error.empty();
}

int HttpFront::waitMilliseconds() const {
    MHD_UNSIGNED_LONG_LONG network = 0;
    long long wait = MHD_get_timeout(m_daemon, &network) == MHD_YES
                         ? static_cast<long long>(std::min<MHD_UNSIGNED_LONG_LONG>(network, 60000))
                         : -1;
    if (!m_confirming.empty()) {
        wait = wait < 0 ? CONFIRMATION_CHECK_MS : std::min<long long>(wait, CONFIRMATION_CHECK_MS);
    }
    if (!m_deadlines.empty()) {
        const auto untilDeadline =
            std::chrono::ceil<std::chrono::milliseconds>(m_deadlines.begin()->first - Clock::now())
                .count();
        const long long deadline = std::max<long long>(untilDeadline, 0);
        wait = wait < 0 ? deadline : std::min(wait, deadline);
    }
    return static_cast<int>(wait);
}

void HttpFront::wake() {
    const std::uint64_t one = 1;
    const ssize_t written = ::write(m_wake, &one, sizeof one);
    (void)written;  // a full counter wakes the loop all the same
}

void HttpFront::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
    }
    wake();
}

void HttpFront::answer(HttpExchange& exchange, HttpAnswer answer) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_answers.emplace_back(&exchange, std::move(answer));
    }
    wake();
}

void HttpFront::takeAnswers() {
    std::vector<std::pair<HttpExchange*, HttpAnswer>> answers;
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answers.swap(m_answers);
        stop = m_stopRequested;
    }
    for (auto& [exchange, answer] : answers) {
        if (exchange->m_connection == nullptr) {  // its connection is gone
            finish(exchange, false);
            continue;
        }
        exchange->answer(std::move(answer));
        MHD_resume_connection(exchange->m_connection);
    }
    if (stop && !m_stopping) {
        beginStop();
    }
}

// A request waiting for its answer is suspended once libmicrohttpd is done
// with it for now, not from its handler: suspended from there, it would
// come back reading, and take a client's half-close for an abort.
void HttpFront::suspendUnanswered() {
    for (HttpExchange* const exchange : m_unanswered) {
        MHD_suspend_connection(exchange->m_connection);
    }
    m_unanswered.clear();
}

void HttpFront::beginStop() {
    m_stopping = true;
    const MHD_socket listener = MHD_quiesce_daemon(m_daemon);
    if (listener != MHD_INVALID_SOCKET) {
        ::close(listener);
    }
    // A connection without a request ends here; a request begun is read
    // and answered.
    for (const auto& [_, connection] : m_deadlines) {
        if (connection->exchange == nullptr) {
            ::shutdown(connection->fd, SHUT_RDWR);
        }
    }
}

bool HttpFront::admitted(const std::string& address) {
    const char* refusal = nullptr;
    if (!m_service.admits(address)) {
        refusal = "not an allowed address";
    } else if (m_open >= m_limits.connections) {
        refusal = "max_connections reached";
    } else if (!AddressList::isLoopback(address) &&
               m_perAddress[address] >= m_limits.connectionsPerAddress) {
        refusal = "max_connections_per_address reached";
    }
    if (refusal != nullptr && refusalLines().allows(address, LogThrottle::Clock::now())) {
        logLine("%s: connection closed unread: %s", address.c_str(), refusal);
    }
    return refusal == nullptr;
}

void HttpFront::opened(MHD_Connection* connection, void** socketContext) {
    const MHD_ConnectionInfo* const fd =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    const MHD_ConnectionInfo* const client =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    auto* const opened = new Connection;
    opened->fd = fd->connect_fd;
    opened->address = addressText(client->client_addr);
    *socketContext = opened;
    ++m_open;
    ++m_perAddress[opened->address];
    setDeadline(*opened, m_limits.headSeconds);
}

void HttpFront::closed(void** socketContext) {
    auto* const connection = static_cast<Connection*>(*socketContext);
    if (connection == nullptr) {
        return;
    }
    clearDeadline(*connection);
    tellDeliveries(*connection, acknowledged(connection->fd));
    const auto count = m_perAddress.find(connection->address);
    if (--count->second == 0) {
        m_perAddress.erase(count);
    }
    --m_open;
    delete connection;
    *socketContext = nullptr;
}

HttpExchange* HttpFront::begin(MHD_Connection* connection, const char* target) {
    auto& owner = *static_cast<Connection*>(
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)->socket_context);
    owner.exchange = new HttpExchange(connection, target, owner.address);
    ++m_exchanges;
    return owner.exchange;
}

HttpFront::Connection& HttpFront::connectionOf(const HttpExchange& exchange) {
    return *static_cast<Connection*>(
        MHD_get_connection_info(exchange.m_connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT)
            ->socket_context);
}

bool HttpFront::handle(HttpExchange& exchange, const char* method, const char* upload,
                       std::size_t* uploadSize) {
    Connection& connection = connectionOf(exchange);
    switch (exchange.m_stage) {
    case HttpExchange::Stage::HEAD:
        exchange.m_method = method;
        exchange.m_stage = HttpExchange::Stage::BODY;
        m_service.onHead(exchange);
        if (exchange.m_answered) {
            clearDeadline(connection);
            return send(exchange);
        }
        setDeadline(connection, m_limits.bodySeconds);
        return true;
    case HttpExchange::Stage::BODY:
        if (*uploadSize > 0) {
            exchange.take(upload, *uploadSize);
            *uploadSize = 0;
            return true;
        }
        clearDeadline(connection);
        exchange.m_stage = HttpExchange::Stage::HANDLED;
        m_service.onRequest(exchange);
        if (exchange.m_answered) {
            return send(exchange);
        }
        m_unanswered.push_back(&exchange);
        return true;
    case HttpExchange::Stage::HANDLED:
        break;
    }
    // Resumed with its answer; or called again before it was suspended.
    return !exchange.m_answered || send(exchange);
}

bool HttpFront::send(HttpExchange& exchange) {
    HttpAnswer& answer = exchange.m_answer;
    MHD_Response* const response = MHD_create_response_from_buffer(
        answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return false;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType);
    for (const auto& [name, value] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    if (answer.close || m_stopping) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    const MHD_Result queued =
        MHD_queue_response(exchange.m_connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

void HttpFront::ended(HttpExchange* exchange, bool sent) {
    if (exchange == nullptr) {
        return;
    }
    Connection& connection = connectionOf(*exchange);
    connection.exchange = nullptr;
    // The next request on the connection has its head's deadline from now.
    setDeadline(connection, m_limits.headSeconds);
    const auto unanswered = std::find(m_unanswered.begin(), m_unanswered.end(), exchange);
    if (unanswered != m_unanswered.end()) {
        // Gone before it was suspended: its answer is still to come, and
        // only then may it go.
        m_unanswered.erase(unanswered);
        exchange->m_connection = nullptr;
        return;
    }
    if (sent && exchange->m_answered && exchange->m_ended) {
        connection.unconfirmed.push_back(std::exchange(exchange->m_ended, nullptr));
        m_confirming.insert(&connection);
    }
    finish(exchange, false);
}

void HttpFront::confirmDeliveries() {
    for (auto waiting = m_confirming.begin(); waiting != m_confirming.end();) {
        Connection& connection = **waiting++;
        if (acknowledged(connection.fd)) {
            tellDeliveries(connection, true);
        }
    }
}

void HttpFront::tellDeliveries(Connection& connection, bool delivered) {
    for (const auto& told : connection.unconfirmed) {
        told(delivered);
    }
    connection.unconfirmed.clear();
    m_confirming.erase(&connection);
}

void HttpFront::finish(HttpExchange* exchange, bool delivered) {
    if (exchange->m_ended) {
        exchange->m_ended(delivered);
    }
    delete exchange;
    --m_exchanges;
}

void HttpFront::setDeadline(Connection& connection, unsigned seconds) {
    clearDeadline(connection);
    connection.deadline =
        m_deadlines.emplace(Clock::now() + std::chrono::seconds(seconds), &connection);
    connection.hasDeadline = true;
}

void HttpFront::clearDeadline(Connection& connection) {
    if (connection.hasDeadline) {
        m_deadlines.erase(connection.deadline);
        connection.hasDeadline = false;
    }
}

// Past its deadline, a connection is shut down: libmicrohttpd sees it end
// and closes it.
void HttpFront::closeLate() {
    const Clock::time_point now = Clock::now();
    while (!m_deadlines.empty() && m_deadlines.begin()->first <= now) {
        Connection& late = *m_deadlines.begin()->second;
        clearDeadline(late);
        ::shutdown(late.fd, SHUT_RDWR);
    }
}

}  // namespace hub

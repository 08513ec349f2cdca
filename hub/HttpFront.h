// The hub's HTTP front, made for untrusted networks: libmicrohttpd driven by
// one epoll loop on the thread that calls serve(). A client is judged by its
// address before a byte of it is read; connections are bounded in all and
// per address (this machine exempt); a request head must fit the memory a
// connection is given and arrive within its deadline, a body within its own;
// idle connections are closed. Answers that wait for the device hold no
// thread: their connections are suspended until answer() is called.
#ifndef SATVARO_HUB_HTTPFRONT_H
#define SATVARO_HUB_HTTPFRONT_H

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "HttpExchange.h"
#include "hub/HubConfig.h"

struct MHD_Daemon;

namespace hub {

class HttpService;

class HttpFront {
public:
    HttpFront(HttpService& service, const FrontLimits& limits);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Listens on `address` and `port` (0: any free port); false with `error`
    // set when it cannot.
    bool bind(const std::string& address, int port, std::string& error);
    int port() const { return m_port; }

    // Serves until stop() and then until every request under way has its
    // answer out (or its connection gone); false with `error` set when the
    // HTTP library cannot start.
    bool serve(std::string& error);

    // From any thread. Stops accepting; connections without a request under
    // way are closed; requests whose body is still coming are read and
    // handled; answers from here on close their connections.
    void stop();

    // From any thread: the answer of an exchange the service deferred. The
    // exchange must not be touched after this call.
    void answer(HttpExchange& exchange, HttpAnswer answer);

    // On the front's thread: tells the ends of the exchanges whose clients
    // acknowledged their answers by now (as the loop does at every turn).
    void confirmDeliveries();

private:
    using Clock = std::chrono::steady_clock;
    struct Connection;

    struct Callbacks;  // libmicrohttpd's, in HttpFront.cpp
    bool admitted(const std::string& address);
    HttpExchange* begin(MHD_Connection* connection, const char* target);
    Connection& connectionOf(const HttpExchange& exchange);
    bool handle(HttpExchange& exchange, const char* method, const char* upload,
                std::size_t* uploadSize);
    bool send(HttpExchange& exchange);
    void ended(HttpExchange* exchange, bool sent);
    void finish(HttpExchange* exchange, bool delivered);
    void tellDeliveries(Connection& connection, bool delivered);
    void suspendUnanswered();
    void opened(MHD_Connection* connection, void** socketContext);
    void closed(void** socketContext);
    void setDeadline(Connection& connection, unsigned seconds);
    void clearDeadline(Connection& connection);
    void closeLate();
    void takeAnswers();
    void beginStop();
    int waitMilliseconds() const;
    void wake();
    bool runLoop(std::string& error);

    HttpService& m_service;
    const FrontLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    int m_listener = -1;
    int m_port = -1;
    int m_wake = -1;  // an eventfd: answers and the stop are taken on the loop's thread

    std::mutex m_mutex;  // what other threads hand to the loop
    std::vector<std::pair<HttpExchange*, HttpAnswer>> m_answers;
    bool m_stopRequested = false;

    // The loop's own.
    bool m_stopping = false;
    std::size_t m_exchanges = 0;
    std::vector<HttpExchange*> m_unanswered;  // handled this round, to suspend
    std::unordered_map<std::string, unsigned> m_perAddress;
    std::multimap<Clock::time_point, Connection*> m_deadlines;
    std::unordered_set<Connection*> m_confirming;  // with answers not yet acknowledged
    std::size_t m_open = 0;
};

}  // namespace hub

#endif

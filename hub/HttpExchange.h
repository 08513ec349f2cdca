// One HTTP request and its answer, as the front hands it to the service: the
// request's head, then its body, then, once answered, whether the answer
// reached the client. The front owns it from the request line until the
// answer was sent or the connection ended.
#ifndef SATVARO_HUB_HTTPEXCHANGE_H
#define SATVARO_HUB_HTTPEXCHANGE_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct MHD_Connection;

namespace hub {

struct HttpAnswer {
    int status = 200;
    std::string body;
    const char* contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    // Ends the connection after the answer: every refusal does, so that
    // nothing left of the refused request is read as a new one.
    bool close = false;
};

class HttpExchange {
public:
    HttpExchange(MHD_Connection* connection, std::string target, std::string address);

    // What the client sent: the method, the request target as sent, the
    // path matched against the service's (percent-decoded for unreserved
    // characters only), its address.
    const std::string& method() const { return m_method; }
    const std::string& target() const { return m_target; }
    const std::string& path() const { return m_path; }
    const std::string& address() const { return m_address; }
    // A header's value, empty when the request has none; while the exchange lives.
    std::string header(const char* name) const;
    const std::string& body() const { return m_body; }

    // From the service's handling of the head: read a body of at most
    // `limit` bytes before handling it (a longer one is refused with 413).
    void expectBody(std::size_t limit) { m_bodyLimit = limit; }
    // The answer, now: while the head or the request is handled. A request
    // left unanswered by the service's onRequest is answered later through
    // HttpFront::answer.
    void answer(HttpAnswer answer);
    // The body was longer than expectBody allowed: what came past it was dropped.
    bool bodyCut() const { return m_bodyCut; }
    // Called once, when the exchange ends: `delivered` when the client's
    // machine acknowledged every byte of the answer.
    void whenEnded(std::function<void(bool delivered)> ended) { m_ended = std::move(ended); }

private:
    friend class HttpFront;
    enum class Stage { HEAD, BODY, HANDLED };

    void take(const char* bytes, std::size_t length);

    MHD_Connection* m_connection;  // null once the connection is gone
    const std::string m_target;
    const std::string m_path;
    const std::string m_address;
    std::string m_method;
    std::string m_body;
    std::size_t m_bodyLimit = 0;
    bool m_bodyCut = false;
    Stage m_stage = Stage::HEAD;
    bool m_answered = false;
    HttpAnswer m_answer;
    std::function<void(bool)> m_ended;
};

// The path of a request target: before any "?", with "%XX" decoded where it
// stands for an unreserved character (letters, digits, "-", ".", "_", "~")
// and left as sent otherwise, so that an encoded "/" or a "%00" never
// matches a path of the service.
std::string pathOf(const std::string& target);

}  // namespace hub

#endif

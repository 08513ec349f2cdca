// What the HTTP front serves: the service decides who may connect and
// answers each request, from its head (a refusal, or how much body to read)
// and then from its body. Called on the front's thread: a handler never
// waits; an answer that needs the device is deferred and given later
// through HttpFront::answer.
#ifndef SATVARO_HUB_HTTPSERVICE_H
#define SATVARO_HUB_HTTPSERVICE_H

#include <string>

namespace hub {

class HttpExchange;

class HttpService {
public:
    virtual ~HttpService() = default;

    // Whether a client at `address` may connect at all; asked before a byte
    // of it is read.
    virtual bool admits(const std::string& address) const = 0;
    // The request's head is complete: answer it (a refusal), or say how much
    // body to read.
    virtual void onHead(HttpExchange& exchange) = 0;
    // The request is complete: answer it or defer the answer.
    virtual void onRequest(HttpExchange& exchange) = 0;
};

}  // namespace hub

#endif

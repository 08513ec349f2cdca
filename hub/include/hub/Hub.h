// satvaro-hub's HTTP service: POST <base_path>/<function> with the tills'
// form fields in, the library's reply out as JSON
// {"funcao": ..., "retorno": ..., "codigo_erro": ...}. The client's address
// decides who may connect and who may call what; each request is checked in
// full, and refused with a JSON {"erro": ...}, before anything reaches the
// device.
#ifndef SATVARO_HUB_HUB_H
#define SATVARO_HUB_HUB_H

#include <memory>
#include <string>

#include "hub/DeviceQueue.h"
#include "hub/HttpService.h"
#include "hub/HubConfig.h"

namespace hub {

class ActivationCode;
class FormBody;
class HttpFront;
class HttpExchange;
class SessionNumbers;
struct HttpAnswer;
struct SatFunction;

class Hub : public HttpService {
public:
    Hub(const HubConfig& config, SessionNumbers& sessions, ActivationCode& code);
    ~Hub() override;

    // Takes the configured address and port; false with `error` set when it
    // cannot.
    bool bind(std::string& error);
    // The port it listens on (the one it was given when configured with 0).
    int port() const;

    // Serves until stop(), then until every call that reached the device has
    // its answer out; false with `error` set when serving failed.
    bool serve(std::string& error);
    // From any thread: stops accepting; the call at the device ends and is
    // answered, the queued ones are answered 503 without reaching it.
    void stop();

    bool admits(const std::string& address) const override;
    void onHead(HttpExchange& exchange) override;
    void onRequest(HttpExchange& exchange) override;

private:
    void call(HttpExchange& exchange, const SatFunction& function, const FormBody& form);
    const SatFunction* functionOf(const std::string& path) const;
    HttpAnswer refusal(const HttpExchange& exchange, int status, const std::string& reason) const;

    const HubConfig& m_config;
    SessionNumbers& m_sessions;
    ActivationCode& m_code;
    std::unique_ptr<HttpFront> m_front;
    DeviceQueue m_device;  // ended first: its last calls answer through the front
};

}  // namespace hub

#endif

// satvaro-hub's HTTP service: POST <base_path>/<function> with the tills'
// form fields in, the library's reply out as JSON {"funcao", "retorno",
// "codigo_erro", "numero_sessao"}; POST <base_path>/ultimachamada for what
// became of a till's latest call; GET /status, /status.json and /metrics for
// whoever watches the store's device. The client's address decides who may
// connect and who may call what; each request is checked in full, and
// refused with a JSON {"erro": ...}, before anything reaches the device.
// Every call is in the journal before it reaches the device; a sale a till
// sends again after losing its answer gets that answer, not a second CF-e.
#ifndef SATVARO_HUB_HUB_H
#define SATVARO_HUB_HUB_H

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hub/CallRecord.h"
#include "hub/DeviceQueue.h"
#include "hub/HttpService.h"
#include "hub/HubConfig.h"

namespace hub {

class ActivationCode;
class CallRunner;
class StatusBoard;
class FormBody;
class HttpFront;
class HttpExchange;
class Journal;
struct Arguments;
struct HttpAnswer;
struct SatFunction;

class Hub : public HttpService {
public:
    Hub(const HubConfig& config, Journal& journal, ActivationCode& code);
    ~Hub() override;

    // Takes the configured address and port; false with `error` set when it
    // cannot.
    bool bind(std::string& error);
    // The port it listens on (the one it was given when configured with 0).
    int port() const;

    // Settles the calls the journal holds as queued or at the device (a hub
    // that died left them): before serving, before any other device call.
    void settleJournal();

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
    struct Request;

    void call(HttpExchange& exchange, const SatFunction& function, const FormBody& form);
    bool answeredFromJournal(HttpExchange& exchange, const Request& request);
    void queue(HttpExchange& exchange, Request request);
    void replay(HttpExchange& exchange, const CallRecord& call);
    bool waitFor(HttpExchange& exchange, const CallRecord& call);
    void finish(HttpExchange& exchange, const CallRecord& call, const HttpAnswer& answer);
    void lastCall(HttpExchange& exchange, const FormBody& form);
    void status(HttpExchange& exchange);
    bool isStatusPath(const std::string& path) const;
    std::chrono::steady_clock::time_point askStatus();
    void deliveredMeans(HttpExchange& exchange, std::int64_t id);
    const SatFunction* functionOf(const std::string& path) const;
    HttpAnswer refusal(const HttpExchange& exchange, int status, const std::string& reason) const;

    const HubConfig& m_config;
    Journal& m_journal;
    ActivationCode& m_code;
    std::unique_ptr<StatusBoard> m_board;
    std::unique_ptr<CallRunner> m_runner;
    std::unique_ptr<HttpFront> m_front;
    // The calls queued or at the device, with the requests that wait for
    // their outcome (the same till's same chave_requisicao).
    std::mutex m_inFlightMutex;
    std::map<std::int64_t, std::vector<HttpExchange*>> m_inFlight;
    DeviceQueue m_device;  // ended first: its last calls answer through the front
};

}  // namespace hub

#endif

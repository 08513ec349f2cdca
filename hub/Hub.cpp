#include "hub/Hub.h"

#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>

#include "FormBody.h"
#include "HttpExchange.h"
#include "HttpFront.h"
#include "hub/HubLog.h"
#include "SatFunctions.h"
#include "Utf8Text.h"
#include "hub/ActivationCode.h"
#include "hub/SessionNumbers.h"

namespace hub {

namespace {

using Json = nlohmann::ordered_json;

constexpr char FORM_TYPE[] = "application/x-www-form-urlencoded";
constexpr unsigned long LAST_TILL = SessionNumbers::TILLS - 1;

// Named in the SAT interface, but the library does not export it.
constexpr char NOT_EXPORTED[] = "consultarultimasessaofiscal";

bool allowedFor(const HubConfig& config, const std::string& address, bool changesDevice) {
    if (AddressList::isLoopback(address) || config.admins.contains(address)) {
        return true;
    }
    return !changesDevice && config.allowed.contains(address);
}

bool isForm(const std::string& contentType) {
    return contentType.compare(0, sizeof FORM_TYPE - 1, FORM_TYPE) == 0 &&
           (contentType.size() == sizeof FORM_TYPE - 1 || contentType[sizeof FORM_TYPE - 1] == ';');
}

// The Content-Length a request announces; 0 without one (or a chunked body,
// which the front cuts at the limit).
std::uint64_t announcedLength(const HttpExchange& exchange) {
    const std::string length = exchange.header("Content-Length");
    return length.empty() || length.size() > 18 ||
                   length.find_first_not_of("0123456789") != std::string::npos
               ? 0
               : std::stoull(length);
}

}  // namespace

Hub::Hub(const HubConfig& config, SessionNumbers& sessions, ActivationCode& code)
    : m_config(config),
      m_sessions(sessions),
      m_code(code),
      m_front(std::make_unique<HttpFront>(*this, config.limits)),
      m_device(config.queuedCalls) {}

Hub::~Hub() = default;

bool Hub::bind(std::string& error) {
    return m_front->bind(m_config.listenAddress, m_config.port, error);
}

int Hub::port() const {
    return m_front->port();
}

bool Hub::serve(std::string& error) {
    return m_front->serve(error);
}

void Hub::stop() {
    m_device.close();
    m_front->stop();
}

bool Hub::admits(const std::string& address) const {
    return allowedFor(m_config, address, false);
}

const SatFunction* Hub::functionOf(const std::string& path) const {
    const std::string& base = m_config.basePath;
    if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 ||
        path[base.size()] != '/') {
        return nullptr;
    }
    return findSatFunction(std::string_view(path).substr(base.size() + 1));
}

// Everything that can be judged from the request's head: the path, the
// method, who may call the function, the body's type and announced size.
void Hub::onHead(HttpExchange& exchange) {
    const SatFunction* const function = functionOf(exchange.path());
    const std::string contentType = exchange.header("Content-Type");
    if (function == nullptr) {
        const bool notExported = exchange.path() == m_config.basePath + "/" + NOT_EXPORTED;
        exchange.answer(refusal(
            exchange, 404,
            notExported ? "ConsultarUltimaSessaoFiscal: the driver library does not export it"
                        : "no such function"));
    } else if (exchange.method() != "POST") {
        HttpAnswer answer = refusal(exchange, 405, "the functions are called with POST");
        answer.headers.emplace_back("Allow", "POST");
        exchange.answer(std::move(answer));
    } else if (!allowedFor(m_config, exchange.address(), function->changesDevice)) {
        exchange.answer(refusal(
            exchange, 403,
            std::string(function->exportedName) +
                " changes the device: only this machine and admin_allow addresses may call it"));
    } else if (!contentType.empty() && !isForm(contentType)) {
        exchange.answer(refusal(exchange, 415, std::string("the body must be ") + FORM_TYPE));
    } else if (announcedLength(exchange) > function->largestForm()) {
        exchange.answer(refusal(exchange, 413, "the body is larger than the function takes"));
    } else {
        exchange.expectBody(function->largestForm());
    }
}

void Hub::onRequest(HttpExchange& exchange) {
    const SatFunction& function = *functionOf(exchange.path());  // screened
    FormBody form;
    std::string problem;
    if (exchange.bodyCut()) {
        exchange.answer(refusal(exchange, 413, "the body is larger than the function takes"));
    } else if (!form.parse(exchange.body(), problem)) {
        exchange.answer(refusal(exchange, 400, problem));
    } else if (const std::string* const field = form.fieldHolding('\0')) {
        // The library takes C strings: the device would get the text cut there.
        exchange.answer(refusal(exchange, 400, *field + ": holds a NUL byte"));
    } else {
        call(exchange, function, form);
    }
}

void Hub::call(HttpExchange& exchange, const SatFunction& function, const FormBody& form) {
    unsigned long till = 0;
    Arguments arguments;
    std::string problem;
    if (!readNumber(form, "numero_caixa", 0, LAST_TILL, till, problem) ||
        !function.read(form, arguments, problem)) {
        exchange.answer(refusal(exchange, 400, problem));
        return;
    }
    if (function.shortestRequest(arguments, m_code.current().size()) > function.requestLimit) {
        exchange.answer(
            refusal(exchange, 413, "the request is larger than the driver library sends"));
        return;
    }
    const int session = m_sessions.next(static_cast<int>(till));
    if (session < 0) {
        exchange.answer(refusal(
            exchange, 500,
            "the session numbers of this till cannot be kept in the state directory"));
        return;
    }
    DeviceQueue::Call device;
    device.run = [this, &exchange, &function, arguments = std::move(arguments), session, till] {
        const std::string reply = function.call(session, arguments, m_code);
        const int status = CodigoErro();
        logLine("%s caixa %lu %s sessao %06d: codigo_erro %d", exchange.address().c_str(), till,
                function.exportedName, session, status);
        HttpAnswer answer;
        answer.body = Json{{"funcao", function.exportedName},
                           {"retorno", asUtf8(reply)},
                           {"codigo_erro", status}}
                          .dump();
        m_front->answer(exchange, std::move(answer));
    };
    device.drop = [this, &exchange] {
        m_front->answer(exchange,
                        refusal(exchange, 503, "the hub is stopping: the call never reached the device"));
    };
    const std::string address = exchange.address();  // queued, the exchange is the device's
    std::size_t ahead = 0;
    switch (m_device.submit(std::move(device), ahead)) {
        case DeviceQueue::Queued::YES:
            logLine("%s caixa %lu %s sessao %06d: queued behind %zu", address.c_str(), till,
                    function.exportedName, session, ahead);
            break;
        case DeviceQueue::Queued::FULL:
            exchange.answer(refusal(exchange, 503,
                                    "max_queued_calls calls are waiting for the device already: "
                                    "the call never reached it"));
            break;
        case DeviceQueue::Queued::CLOSED:
            exchange.answer(
                refusal(exchange, 503, "the hub is stopping: the call never reached the device"));
            break;
    }
}

// Every refusal closes its connection: what is left of the request is never
// read as another one.
HttpAnswer Hub::refusal(const HttpExchange& exchange, int status,
                        const std::string& reason) const {
    HttpAnswer answer;
    answer.status = status;
    answer.close = true;
    answer.body = Json{{"erro", asUtf8(reason)}}.dump();
    logLine("%s %s %s: %d %s", exchange.address().c_str(), logText(exchange.method()).c_str(),
            logText(exchange.target()).c_str(), status, logText(reason).c_str());
    return answer;
}

}  // namespace hub

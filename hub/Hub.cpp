#include "hub/Hub.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>

#include "FormBody.h"
#include "HubLog.h"
#include "SatFunctions.h"
#include "Utf8Text.h"
#include "hub/ActivationCode.h"
#include "hub/SessionNumbers.h"

namespace hub {

namespace {

using Json = nlohmann::ordered_json;

constexpr char FORM_TYPE[] = "application/x-www-form-urlencoded";
constexpr char JSON_TYPE[] = "application/json";
constexpr unsigned long LAST_TILL = SessionNumbers::TILLS - 1;
// Calls waiting for the device hold a worker each: room for the tills of a
// large store at once; more wait for a worker in arrival order.
constexpr std::size_t WORKERS = 16;

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

}  // namespace

void Hub::Server::widenBacklog() {
    // httplib listens with a backlog of 5: tills connecting at the same moment
    // would find the queue full and retry a second later.
    ::listen(svr_sock_, SOMAXCONN);
}

// httplib's own stop does nothing until the serving loop has begun: a stop
// signal that came first would be lost. Without its socket the loop ends, or
// never begins.
void Hub::Server::closeListener() {
    const socket_t listener = svr_sock_.exchange(INVALID_SOCKET);
    if (listener != INVALID_SOCKET) {
        ::shutdown(listener, SHUT_RDWR);
        ::close(listener);
    }
}

Hub::Hub(const HubConfig& config, SessionNumbers& sessions, ActivationCode& code)
    : m_config(config), m_sessions(sessions), m_code(code) {
    m_server.new_task_queue = [] { return new httplib::ThreadPool(WORKERS); };
    m_server.set_payload_max_length(largestFormOfAll());
    // Refusals are decided from the request's head, before its body is read.
    m_server.set_expect_100_continue_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return screen(request, response) ? 100 : response.status;
        });
    m_server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return screen(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                             : httplib::Server::HandlerResponse::Handled;
        });
    m_server.Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& content) {
        answer(request, response, content);
    });
    // The refusals httplib makes itself (a malformed request line...) in JSON too.
    m_server.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            response.set_content(Json{{"erro", "HTTP " + std::to_string(response.status)}}.dump(),
                                 JSON_TYPE);
            return httplib::Server::HandlerResponse::Handled;
        }));
    m_server.set_exception_handler(
        [this](const httplib::Request& request, httplib::Response& response, std::exception_ptr) {
            refuse(request, response, 500, "internal error");
        });
}

bool Hub::bind(std::string& error) {
    errno = 0;
    const bool bound = m_config.port == 0
                           ? (m_port = m_server.bind_to_any_port(m_config.listenAddress)) > 0
                           : m_server.bind_to_port(m_config.listenAddress, m_port = m_config.port);
    if (!bound) {
        error = "cannot listen on " + m_config.listenAddress + " port " +
                std::to_string(m_config.port) + ": " +
                (errno != 0 ? std::strerror(errno) : "not an address of this machine");
        return false;
    }
    m_server.widenBacklog();
    return true;
}

void Hub::serve() {
    m_server.listen_after_bind();
}

void Hub::stop() {
    m_server.closeListener();
}

const SatFunction* Hub::functionOf(const std::string& path) const {
    const std::string& base = m_config.basePath;
    if (path.size() <= base.size() + 1 || path.compare(0, base.size(), base) != 0 ||
        path[base.size()] != '/') {
        return nullptr;
    }
    return findSatFunction(std::string_view(path).substr(base.size() + 1));
}

// Everything that can be judged from the request's head: the caller's
// address, the path, the method, the body's type and announced size.
bool Hub::screen(const httplib::Request& request, httplib::Response& response) const {
    const std::string& address = request.remote_addr;
    const SatFunction* const function = functionOf(request.path);
    if (!allowedFor(m_config, address, false)) {
        refuse(request, response, 403, "this address is not allowed to call the hub", true);
    } else if (function == nullptr) {
        const bool notExported = request.path == m_config.basePath + "/" + NOT_EXPORTED;
        refuse(request, response, 404,
               notExported ? "ConsultarUltimaSessaoFiscal: the driver library does not export it"
                           : "no such function",
               true);
    } else if (request.method != "POST") {
        response.set_header("Allow", "POST");
        refuse(request, response, 405, "the functions are called with POST", true);
    } else if (!allowedFor(m_config, address, function->changesDevice)) {
        refuse(request, response, 403,
               std::string(function->exportedName) +
                   " changes the device: only this machine and admin_allow addresses may call it",
               true);
    } else if (request.has_header("Content-Type") &&
               !isForm(request.get_header_value("Content-Type"))) {
        refuse(request, response, 415, std::string("the body must be ") + FORM_TYPE, true);
    } else if (request.get_header_value<std::uint64_t>("Content-Length") >
               function->largestForm()) {
        refuse(request, response, 413, "the body is larger than the function takes", true);
    } else {
        return true;
    }
    return false;
}

void Hub::answer(const httplib::Request& request, httplib::Response& response,
                 const httplib::ContentReader& content) {
    const SatFunction& function = *functionOf(request.path);  // screened
    std::string body;
    bool tooLarge = false;
    const bool read = content([&](const char* data, std::size_t length) {
        tooLarge = body.size() + length > function.largestForm();
        body.append(data, tooLarge ? 0 : length);
        return !tooLarge;
    });
    if (!read) {
        refuse(
            request, response, tooLarge ? 413 : 400,
            tooLarge ? "the body is larger than the function takes" : "the body could not be read",
            true);
        return;
    }
    FormBody form;
    std::string problem;
    if (!form.parse(body, problem)) {
        refuse(request, response, 400, problem);
        return;
    }
    call(request, response, function, form);
}

void Hub::call(const httplib::Request& request, httplib::Response& response,
               const SatFunction& function, const FormBody& form) {
    unsigned long till = 0;
    Arguments arguments;
    std::string problem;
    if (!readNumber(form, "numero_caixa", 0, LAST_TILL, till, problem) ||
        !function.read(form, arguments, problem)) {
        refuse(request, response, 400, problem);
        return;
    }
    if (function.shortestRequest(arguments, m_code.current().size()) > function.requestLimit) {
        refuse(request, response, 413, "the request is larger than the driver library sends");
        return;
    }
    const int session = m_sessions.next(static_cast<int>(till));
    if (session < 0) {
        refuse(request, response, 500,
               "the session numbers of this till cannot be kept in the state directory");
        return;
    }
    const auto [reply, status] = m_device.inTurn([&] {
        const char* const text = function.call(session, arguments, m_code);
        return std::make_pair(std::string(text), CodigoErro());
    });
    response.set_content(
        Json{{"funcao", function.exportedName}, {"retorno", asUtf8(reply)}, {"codigo_erro", status}}
            .dump(),
        JSON_TYPE);
    logLine("%s caixa %lu %s sessao %06d: codigo_erro %d", request.remote_addr.c_str(), till,
            function.exportedName, session, status);
}

// A refusal made before the body was read leaves it on the connection: the
// connection must close, or its bytes would be taken for the next request.
void Hub::refuse(const httplib::Request& request, httplib::Response& response, int status,
                 const std::string& reason, bool bodyUnread) const {
    response.status = status;
    if (bodyUnread) {
        response.set_header("Connection", "close");
    }
    const std::string text = asUtf8(reason);
    response.set_content(Json{{"erro", text}}.dump(), JSON_TYPE);
    logLine("%s %s %s: %d %s", request.remote_addr.c_str(), request.method.c_str(),
            asUtf8(request.path).c_str(), status, text.c_str());
}

}  // namespace hub

#include "hub/Hub.h"

#include <ctime>
#include <memory>
#include <utility>

#include "CallAnswers.h"
#include "CallRunner.h"
#include "FormBody.h"
#include "HttpExchange.h"
#include "HttpFront.h"
#include "SatFunctions.h"
#include "StatusBoard.h"
#include "StatusPage.h"
#include "hub/ActivationCode.h"
#include "hub/HubLog.h"
#include "hub/Journal.h"

namespace hub {

namespace {

constexpr char FORM_TYPE[] = "application/x-www-form-urlencoded";
constexpr unsigned long LAST_TILL = Journal::TILLS - 1;
constexpr char LAST_CALL[] = "ultimachamada";
constexpr std::size_t LAST_CALL_FORM = 1024;
constexpr char KEY_FIELD[] = "chave_requisicao";
constexpr std::size_t LONGEST_KEY = 64;

// A sale, a cancellation or an end-to-end test sent again within this time
// of the first, which was answered but whose answer never reached its till,
// gets the first's answer.
constexpr std::int64_t RETRY_MILLISECONDS = 10 * 60 * 1000;
const std::vector<const char*> FISCAL = {"EnviarDadosVenda", "CancelarUltimaVenda", "TesteFimAFim"};
// A call with the chave_requisicao of an earlier call of its till within
// this time gets the earlier call's outcome.
constexpr std::int64_t KEY_MILLISECONDS = 24 * 60 * 60 * 1000;

// Named in the SAT interface, but the library does not export it.
constexpr char NOT_EXPORTED[] = "consultarultimasessaofiscal";

// The status, for people and for monitoring.
constexpr char STATUS_PAGE[] = "/status";
constexpr char STATUS_JSON[] = "/status.json";
constexpr char METRICS[] = "/metrics";
constexpr char METRICS_TYPE[] = "text/plain; version=0.0.4; charset=utf-8";

bool allowedFor(const HubConfig& config, const std::string& address, bool changesDevice) {
    if (AddressList::isLoopback(address) || config.admins.contains(address)) {
        return true;
    }
    return !changesDevice && config.allowed.contains(address);
}

// The local midnight that began today, in the records' milliseconds.
std::int64_t startOfToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    local.tm_hour = local.tm_min = local.tm_sec = 0;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local)) * 1000;
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

bool isKey(const std::string& key) {
    return !key.empty() && key.size() <= LONGEST_KEY &&
           key.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
               "0123456789._-") == std::string::npos;
}

bool hasReply(const CallRecord& call) {
    return call.state == CallState::ANSWERED || call.state == CallState::RECOVERED;
}

bool isFiscal(const std::string& function) {
    for (const char* const fiscal : FISCAL) {
        if (function == fiscal) {
            return true;
        }
    }
    return false;
}

}  // namespace

// A till's call as read from its form.
struct Hub::Request {
    const SatFunction* function = nullptr;
    Arguments arguments;
    CallRecord call;
};

Hub::Hub(const HubConfig& config, Journal& journal, ActivationCode& code)
    : m_config(config),
      m_journal(journal),
      m_code(code),
      m_board(std::make_unique<StatusBoard>(recordTime())),
      m_runner(std::make_unique<CallRunner>(journal, code, *m_board)),
      m_front(std::make_unique<HttpFront>(*this, config.limits)),
      m_device(config.queuedCalls) {}

Hub::~Hub() = default;

bool Hub::bind(std::string& error) {
    return m_front->bind(m_config.listenAddress, m_config.port, error);
}

int Hub::port() const {
    return m_front->port();
}

// Today's calls so far, as the journal has them, then the calls a hub that
// died left unsettled.
void Hub::settleJournal() {
    m_journal.forEachSettledSince(
        startOfToday(), [&](const CallRecord& call) { m_board->settled(call, call.answered); });
    m_runner->settleJournal();
    m_board->unknownOutcomes(m_journal.unknownOutcomes(), recordTime());
}

bool Hub::serve(std::string& error) {
    m_device.startIdleWork([this] { return askStatus(); });
    return m_front->serve(error);
}

std::chrono::steady_clock::time_point Hub::askStatus() {
    m_runner->askStatus();
    return std::chrono::steady_clock::now() + std::chrono::seconds(m_config.statusSeconds);
}

void Hub::stop() {
    m_front->stop();
    m_device.close();
}

bool Hub::admits(const std::string& address) const {
    return allowedFor(m_config, address, false) || m_config.statusReaders.contains(address);
}

bool Hub::isStatusPath(const std::string& path) const {
    return path == STATUS_PAGE || path == STATUS_JSON || path == METRICS;
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
    const bool lastCall = exchange.path() == m_config.basePath + "/" + LAST_CALL;
    const bool statusPath = isStatusPath(exchange.path());
    const SatFunction* const function = functionOf(exchange.path());
    const std::size_t largest = function != nullptr ? function->largestForm()
                                : lastCall          ? LAST_CALL_FORM
                                                    : 0;
    const std::string contentType = exchange.header("Content-Type");
    const bool get = exchange.method() == "GET" || exchange.method() == "HEAD";
    if (function == nullptr && !lastCall && !statusPath) {
        const bool notExported = exchange.path() == m_config.basePath + "/" + NOT_EXPORTED;
        exchange.answer(refusal(
            exchange, 404,
            notExported ? "ConsultarUltimaSessaoFiscal: the driver library does not export it"
                        : "no such function"));
    } else if (statusPath != get || (!statusPath && exchange.method() != "POST")) {
        HttpAnswer answer = refusal(
            exchange, 405,
            statusPath ? "the status is read with GET" : "the functions are called with POST");
        answer.headers.emplace_back("Allow", statusPath ? "GET, HEAD" : "POST");
        exchange.answer(std::move(answer));
    } else if (!statusPath && !allowedFor(m_config, exchange.address(), false)) {
        exchange.answer(refusal(exchange, 403, "this address may read the status only"));
    } else if (function != nullptr &&
               !allowedFor(m_config, exchange.address(), function->changesDevice)) {
        exchange.answer(refusal(
            exchange, 403,
            std::string(function->exportedName) +
                " changes the device: only this machine and admin_allow addresses may call it"));
    } else if (!statusPath && !contentType.empty() && !isForm(contentType)) {
        exchange.answer(refusal(exchange, 415, std::string("the body must be ") + FORM_TYPE));
    } else if (announcedLength(exchange) > largest) {
        exchange.answer(refusal(exchange, 413, "the body is larger than the function takes"));
    } else {
        exchange.expectBody(largest);
    }
}

void Hub::onRequest(HttpExchange& exchange) {
    if (isStatusPath(exchange.path())) {
        status(exchange);
        return;
    }
    const SatFunction* const function = functionOf(exchange.path());
    FormBody form;
    std::string problem;
    if (exchange.bodyCut()) {
        exchange.answer(refusal(exchange, 413, "the body is larger than the function takes"));
    } else if (!form.parse(exchange.body(), problem)) {
        exchange.answer(refusal(exchange, 400, problem));
    } else if (const std::string* const field = form.fieldHolding('\0')) {
        // The library takes C strings: the device would get the text cut there.
        exchange.answer(refusal(exchange, 400, *field + ": holds a NUL byte"));
    } else if (function == nullptr) {
        lastCall(exchange, form);
    } else {
        call(exchange, *function, form);
    }
}

void Hub::call(HttpExchange& exchange, const SatFunction& function, const FormBody& form) {
    unsigned long till = 0;
    Request request;
    std::string problem;
    const std::string* const key = form.find(KEY_FIELD);
    if (!readNumber(form, "numero_caixa", 0, LAST_TILL, till, problem) ||
        !function.read(form, request.arguments, problem)) {
        exchange.answer(refusal(exchange, 400, problem));
    } else if (key != nullptr && !isKey(*key)) {
        exchange.answer(refusal(
            exchange, 400,
            std::string(KEY_FIELD) + ": 1 to 64 characters of A-Z, a-z, 0-9, \".\", \"_\", \"-\""));
    } else if (function.requestLength(request.arguments, m_code.current()) >
               function.requestLimit) {
        exchange.answer(
            refusal(exchange, 413, "the request is larger than the driver library sends"));
    } else {
        request.function = &function;
        request.call.till = static_cast<int>(till);
        request.call.function = function.exportedName;
        request.call.digest = function.digest(request.arguments);
        request.call.requestKey = key != nullptr ? *key : "";
        request.call.newCode = function.newCode(request.arguments);
        if (!answeredFromJournal(exchange, request)) {
            queue(exchange, std::move(request));
        }
    }
}

// What the journal already knows: a keyed call's outcome, a retried sale's
// answer, a till's own past session.
bool Hub::answeredFromJournal(HttpExchange& exchange, const Request& request) {
    const CallRecord& call = request.call;
    const std::int64_t now = recordTime();
    if (!call.requestKey.empty()) {
        const auto first = m_journal.byKey(call.till, call.requestKey, now - KEY_MILLISECONDS);
        if (first && first->state != CallState::NOT_SENT) {
            if (!waitFor(exchange, *first)) {
                replay(exchange, m_journal.byId(first->id).value_or(*first));
            }
            return true;
        }
    }
    if (isFiscal(call.function)) {
        m_front->confirmDeliveries();  // a client that sends again has read what came
        const auto last = m_journal.latest(call.till, FISCAL);
        if (last && last->function == call.function && last->digest == call.digest &&
            hasReply(*last) && last->delivered == 0 && now - last->received <= RETRY_MILLISECONDS) {
            replay(exchange, *last);
            return true;
        }
    }
    if (call.function == "ConsultarNumeroSessao") {
        const int asked = static_cast<int>(request.arguments.number("numero_sessao"));
        const int owner = (asked - Journal::FIRST) / Journal::PER_TILL;
        if (asked >= Journal::FIRST && owner != call.till) {
            exchange.answer(refusal(exchange, 403,
                                    "numero_sessao: session " + std::to_string(asked) +
                                        " is one of till " + std::to_string(owner) + "'s"));
            return true;
        }
        auto held = asked >= Journal::FIRST ? m_journal.bySession(asked) : std::nullopt;
        if (held && hasReply(*held)) {
            held->function = call.function;
            exchange.answer(callAnswer(*held));
            return true;
        }
    }
    return false;
}

void Hub::replay(HttpExchange& exchange, const CallRecord& call) {
    logLine("%s caixa %d %s sessao %06d: answered from the journal (%s)",
            exchange.address().c_str(), call.till, call.function.c_str(), call.session,
            stateName(call.state));
    exchange.answer(callAnswer(call));
    deliveredMeans(exchange, call.id);
}

// A keyed call whose first is still queued or at the device waits for it.
bool Hub::waitFor(HttpExchange& exchange, const CallRecord& call) {
    std::lock_guard<std::mutex> lock(m_inFlightMutex);
    const auto first = m_inFlight.find(call.id);
    if (first == m_inFlight.end()) {
        return false;
    }
    first->second.push_back(&exchange);
    deliveredMeans(exchange, call.id);
    logLine("%s caixa %d %s: waits for sessao %06d, which has its chave_requisicao",
            exchange.address().c_str(), call.till, call.function.c_str(), call.session);
    return true;
}

void Hub::queue(HttpExchange& exchange, Request request) {
    auto queued = std::make_shared<Request>(std::move(request));
    CallRecord& call = queued->call;
    if (!m_journal.queue(call, recordTime())) {
        logLine("the journal cannot be written: %s", m_journal.frontError().c_str());
        exchange.answer(refusal(
            exchange, 503, "the journal cannot be written: the call never reached the device"));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_inFlightMutex);
        m_inFlight[call.id];
    }
    deliveredMeans(exchange, call.id);
    const std::string address = exchange.address();  // queued, the exchange is the device's
    DeviceQueue::Call device;
    device.run = [this, &exchange, queued, address] {
        CallRecord& ran = queued->call;
        m_runner->run(ran, *queued->function, queued->arguments);
        logLine("%s caixa %d %s sessao %06d: codigo_erro %d (%s)", address.c_str(), ran.till,
                ran.function.c_str(), ran.session, ran.status.value_or(-1), stateName(ran.state));
        if (ran.function == "BloquearSAT" || ran.function == "DesbloquearSAT") {
            m_device.idleWorkDue();  // the status page shows the new state
        }
        finish(exchange, ran, callAnswer(ran));
    };
    // Dropped at a stop, it stays queued in the journal: the next start
    // marks it not sent.
    device.drop = [this, &exchange, queued] {
        finish(exchange, queued->call,
               errorAnswer(503, "the hub is stopping: the call never reached the device"));
    };
    std::size_t ahead = 0;
    const DeviceQueue::Queued queuing = m_device.submit(std::move(device), ahead);
    if (queuing == DeviceQueue::Queued::YES) {
        m_board->queued(ahead, recordTime());
        logLine("%s caixa %d %s sessao %06d: queued behind %zu", address.c_str(), call.till,
                call.function.c_str(), call.session, ahead);
        return;
    }
    m_journal.markNotSent(call.id);
    finish(exchange, call,
           refusal(exchange, 503,
                   queuing == DeviceQueue::Queued::FULL
                       ? "max_queued_calls calls are waiting for the device already: the call "
                         "never reached it"
                       : "the hub is stopping: the call never reached the device"));
}

// The call's answer, and the same for the keyed calls that waited for it.
void Hub::finish(HttpExchange& exchange, const CallRecord& call, const HttpAnswer& answer) {
    std::vector<HttpExchange*> waiting;
    {
        std::lock_guard<std::mutex> lock(m_inFlightMutex);
        const auto done = m_inFlight.find(call.id);
        waiting.swap(done->second);
        m_inFlight.erase(done);
    }
    m_front->answer(exchange, answer);
    for (HttpExchange* const waiter : waiting) {
        m_front->answer(*waiter, answer);
    }
}

void Hub::lastCall(HttpExchange& exchange, const FormBody& form) {
    unsigned long till = 0;
    std::string problem;
    if (!readNumber(form, "numero_caixa", 0, LAST_TILL, till, problem)) {
        exchange.answer(refusal(exchange, 400, problem));
    } else if (const auto last = m_journal.latest(static_cast<int>(till))) {
        exchange.answer(lastCallAnswer(*last));
    } else {
        exchange.answer(refusal(exchange, 404, "this till has made no call yet"));
    }
}

// The status, as a page, as JSON or as metrics: from the board, never from
// the device.
void Hub::status(HttpExchange& exchange) {
    StatusBoard::Outside outside;
    outside.listen = m_config.listenAddress + " port " + std::to_string(port());
    outside.queued = m_device.waiting();
    outside.journalRows = m_journal.rows();
    outside.journalBytes = m_journal.sizeBytes();
    HttpAnswer answer;
    if (exchange.path() == METRICS) {
        answer.body = m_board->metrics(outside, recordTime());
        answer.contentType = METRICS_TYPE;
    } else if (exchange.path() == STATUS_JSON) {
        answer.body = m_board->json(outside, recordTime()).dump();
    } else {
        answer.body = statusPage(m_board->json(outside, recordTime()));
        answer.contentType = "text/html; charset=utf-8";
    }
    answer.headers.emplace_back("Cache-Control", "no-store");
    exchange.answer(std::move(answer));
}

// Once the answer reached its till whole, the journal says so.
void Hub::deliveredMeans(HttpExchange& exchange, std::int64_t id) {
    exchange.whenEnded([this, id](bool delivered) {
        if (delivered) {
            m_journal.markDelivered(id, recordTime());
        }
    });
}

// Every refusal closes its connection: what is left of the request is never
// read as another one.
HttpAnswer Hub::refusal(const HttpExchange& exchange, int status, const std::string& reason) const {
    logLine("%s %s %s: %d %s", exchange.address().c_str(), logText(exchange.method()).c_str(),
            logText(exchange.target()).c_str(), status, logText(reason).c_str());
    return errorAnswer(status, reason);
}

}  // namespace hub

#include "CallRunner.h"

#include <cstdio>

#include "SatFunctions.h"
#include "StatusBoard.h"
#include "hub/ActivationCode.h"
#include "hub/DeviceStatus.h"
#include "hub/HubLog.h"
#include "hub/Journal.h"
#include "satvaro.h"

namespace hub {

namespace {

// A query that fails (no reply, a reply the hub cannot place) is asked again
// this many times with each code before the call is taken for unknown.
constexpr int QUERY_ATTEMPTS = 3;
constexpr char NO_SUCH_SESSION[] = "11003";
constexpr char CODE_CHANGED[] = "18000";

// The calls after which the device may have acted, its reply lost.
bool mayHaveActed(const std::string& function) {
    for (const char* const acting :
         {"EnviarDadosVenda", "CancelarUltimaVenda", "TesteFimAFim", "TrocarCodigoDeAtivacao"}) {
        if (function == acting) {
            return true;
        }
    }
    return false;
}

std::string sessionText(int session) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", session);
    return text;
}

}  // namespace

void CallRunner::run(CallRecord& call, const SatFunction& function, const Arguments& arguments) {
    if (!m_journal.markAtDevice(call.id, recordTime())) {
        logLine("caixa %d %s sessao %06d: the journal cannot be written (%s); not sent",
                call.till, call.function.c_str(), call.session, m_journal.deviceError().c_str());
        call.state = CallState::NOT_SENT;
        keep(call);
        return;
    }
    call.sent = recordTime();
    m_board.atDevice(call.function, call.till, call.session, call.sent);
    call.reply = function.call(call.session, arguments, m_code);
    call.status = CodigoErro();
    call.state = CallState::ANSWERED;
    m_board.deviceCallEnded(*call.status, recordTime());
    if (*call.status != 0 && mayHaveActed(call.function)) {
        recover(call);
    }
    keep(call);
}

void CallRunner::askStatus() {
    const std::int64_t asked = recordTime();
    const std::string code = m_code.current();
    const auto reply = ownCall("ConsultarStatusOperacional", [&](int own) {
        return ConsultarStatusOperacional(own, code.c_str());
    });
    DeviceStatus status;
    const bool read = reply && CodigoErro() == 0 && parseDeviceStatus(*reply, asked / 1000, status);
    m_board.deviceStatus(read ? &status : nullptr, recordTime());
    m_journal.recount();
    m_board.unknownOutcomes(m_journal.unknownOutcomes(), recordTime());
}

std::optional<std::string> CallRunner::ownCall(const char* function,
                                               const std::function<const char*(int)>& call) {
    const int own = m_journal.ownSession();
    if (own < 0) {
        return std::nullopt;
    }
    m_board.atDevice(function, -1, own, recordTime());
    std::string reply = call(own);
    m_board.deviceCallEnded(CodigoErro(), recordTime());
    return reply;
}

void CallRunner::settleJournal() {
    for (CallRecord& call : m_journal.unsettled()) {
        if (call.state == CallState::QUEUED) {
            call.state = CallState::NOT_SENT;
        } else {
            recover(call);
        }
        keep(call);
    }
}

// After a code change the device may know the new code or the old one.
void CallRunner::recover(CallRecord& call) {
    std::vector<std::string> codes;
    if (!call.newCode.empty()) {
        codes.push_back(call.newCode);
    }
    codes.push_back(m_code.current());
    std::string reply;
    switch (askDevice(call.session, codes, reply)) {
    case Found::YES:
        call.reply = reply;
        call.status = 0;
        call.state = CallState::RECOVERED;
        if (!call.newCode.empty() && replyField(reply, 1) == CODE_CHANGED &&
            !m_code.replace(call.newCode)) {
            logLine("the new activation code could not be kept in the state directory");
        }
        break;
    case Found::NO:
        call.state = CallState::NOT_SENT;  // the library's own result stands
        break;
    case Found::UNKNOWN:
        call.state = CallState::UNKNOWN;
        break;
    }
    logLine("caixa %d %s sessao %06d: asked of the device: %s", call.till, call.function.c_str(),
            call.session, stateName(call.state));
}

// The device has the session when it answers with that session's reply,
// not with a result of ConsultarNumeroSessao's own.
CallRunner::Found CallRunner::askDevice(int session, const std::vector<std::string>& codes,
                                        std::string& reply) {
    const std::string wanted = sessionText(session);
    for (int attempt = 0; attempt < QUERY_ATTEMPTS; ++attempt) {
        for (const std::string& code : codes) {
            const auto answer = ownCall("ConsultarNumeroSessao", [&](int own) {
                return ConsultarNumeroSessao(own, code.c_str(), session);
            });
            if (!answer) {
                return Found::UNKNOWN;
            }
            if (CodigoErro() != 0) {
                continue;
            }
            if (replyField(*answer, 0) == wanted) {
                reply = *answer;
                return Found::YES;
            }
            if (replyField(*answer, 1) == NO_SUCH_SESSION) {
                return Found::NO;
            }
        }
    }
    return Found::UNKNOWN;
}

void CallRunner::keep(CallRecord& call) {
    call.answered = recordTime();
    m_board.settled(call, call.answered);
    if (!m_journal.settle(call, call.answered)) {
        logLine(
            "caixa %d %s sessao %06d: the journal cannot be written: its outcome (%s) is "
            "not kept",
            call.till, call.function.c_str(), call.session, stateName(call.state));
    }
}

}  // namespace hub

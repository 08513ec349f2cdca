#include "CallAnswers.h"

#include <ctime>

#include "Utf8Text.h"

namespace hub {

namespace {

using Json = nlohmann::ordered_json;

HttpAnswer jsonAnswer(int status, const Json& body) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = body.dump();
    return answer;
}

}  // namespace

HttpAnswer callAnswer(const CallRecord& call) {
    if (!call.reply) {
        return errorAnswer(503, call.state == CallState::NOT_SENT
                                    ? "the call never reached the device"
                                    : "the call may have reached the device; its outcome is "
                                      "unknown (" +
                                          std::string(stateName(call.state)) + ")");
    }
    return jsonAnswer(200, Json{{"funcao", call.function},
                                {"retorno", asUtf8(*call.reply)},
                                {"codigo_erro", call.status.value_or(0)},
                                {"numero_sessao", call.session}});
}

HttpAnswer lastCallAnswer(const CallRecord& call) {
    return jsonAnswer(200, Json{{"numero_caixa", call.till},
                                {"numero_sessao", call.session},
                                {"funcao", call.function},
                                {"estado", stateName(call.state)},
                                {"entregue", call.delivered != 0},
                                {"retorno", call.reply ? Json(asUtf8(*call.reply)) : Json()},
                                {"codigo_erro", call.status ? Json(*call.status) : Json()},
                                {"recebida", timeOrNull(call.received)},
                                {"respondida", timeOrNull(call.answered)}});
}

HttpAnswer errorAnswer(int status, const std::string& reason) {
    HttpAnswer answer = jsonAnswer(status, Json{{"erro", asUtf8(reason)}});
    answer.close = true;
    return answer;
}

std::string isoTime(std::int64_t milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string iso(text, length);
    return iso.insert(iso.size() - 2, ":");  // +hhmm as +hh:mm
}

Json timeOrNull(std::int64_t milliseconds) {
    return milliseconds != 0 ? Json(isoTime(milliseconds)) : Json();
}

}  // namespace hub

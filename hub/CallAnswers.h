// What the hub answers about a till's call, in JSON: the call's own answer,
// and its journal entry as ultimachamada gives it.
#ifndef SATVARO_HUB_CALLANSWERS_H
#define SATVARO_HUB_CALLANSWERS_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "HttpExchange.h"
#include "hub/CallRecord.h"

namespace hub {

// 200 with {"funcao", "retorno", "codigo_erro", "numero_sessao"} for a call
// that has a reply; 503 with its "erro" for one that has none (it never
// reached the device, or its outcome is unknown).
HttpAnswer callAnswer(const CallRecord& call);

// 200 with {"numero_caixa", "numero_sessao", "funcao", "estado", "entregue",
// "retorno", "codigo_erro", "recebida", "respondida"}; what is not known
// (yet) is null.
HttpAnswer lastCallAnswer(const CallRecord& call);

// A JSON answer {"erro": `reason`}.
HttpAnswer errorAnswer(int status, const std::string& reason);

// A record's time as ISO 8601 in this machine's local time, with its
// offset: "2026-12-07T08:15:30-03:00".
std::string isoTime(std::int64_t milliseconds);
// The same as JSON; null for 0, a time not known (yet).
nlohmann::ordered_json timeOrNull(std::int64_t milliseconds);

}  // namespace hub

#endif

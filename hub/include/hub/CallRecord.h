// One till's call as the journal keeps it, from the moment it was queued to
// the moment its answer reached the till (or did not).
#ifndef SATVARO_HUB_CALLRECORD_H
#define SATVARO_HUB_CALLRECORD_H

#include <cstdint>
#include <optional>
#include <string>

namespace hub {

enum class CallState {
    QUEUED,     // na_fila: waiting for the device
    AT_DEVICE,  // no_dispositivo: sent, or about to be
    ANSWERED,   // respondida: the library's reply came back
    RECOVERED,  // recuperada: the reply was lost, and asked of the device again
    NOT_SENT,   // nao_enviada: it never reached the device
    UNKNOWN,    // desconhecida: it may have reached the device; nobody can tell
};

// Now, in milliseconds since the epoch, as the records keep times.
std::int64_t recordTime();

// The state's name in the journal and in the JSON answers.
const char* stateName(CallState state);
std::optional<CallState> stateNamed(const std::string& name);

// Times are milliseconds since the epoch; 0 when not known (yet).
struct CallRecord {
    std::int64_t id = 0;
    int till = 0;
    int session = 0;
    std::string function;    // as the library exports it: "EnviarDadosVenda"
    std::string digest;      // of the request's fields, till and request key aside
    std::string requestKey;  // chave_requisicao; empty without one
    std::string newCode;     // a code change's new code, until the call is settled
    CallState state = CallState::QUEUED;
    std::int64_t received = 0;
    std::int64_t sent = 0;
    std::int64_t answered = 0;
    std::int64_t delivered = 0;
    std::optional<std::string> reply;  // the bytes the library returned
    std::optional<int> status;         // its CodigoErro
};

}  // namespace hub

#endif

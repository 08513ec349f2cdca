// The SAT command layer behind the exported C interface. Every command method
// formats its request body ("%06d" session first, then its "|"-separated
// fields), runs one exchange with the device under the command's name and
// time-out, stores the exchange status for CodigoErro, and returns g_resp
// holding the reply body as a NUL-terminated text.
//
// Contract shared by all command methods:
// - A null text argument is taken as the empty text.
// - A body longer than the command's SATVARO_MAX_REQUEST_<name> is refused:
//   nothing is sent, g_resp holds the empty text, CodigoErro() is
//   SATVARO_STATUS_REFUSED, an "error" log line names the command. Nothing
//   is ever truncated. (A reply too long for g_resp never gets here: the
//   device link refuses it.)
// - Any thread may call at any time. What a command leaves behind is the
//   calling thread's own, as errno is: its g_resp text, its CodigoErro() and
//   its Base64ToAscii() text, each valid until that thread's next call.
#ifndef SATVARO_COMMANDS_UCMANIPULADADOSSAT_H
#define SATVARO_COMMANDS_UCMANIPULADADOSSAT_H

#include <string>
#include <vector>

#include "codec/Message.h"
#include "commands/ReplyBuffer.h"
#include "commands/SatFunctionList.h"
#include "satvaro.h"

namespace manipulaDados {

// Command names, CMD_ATIVAR_SAT and so on: sent as the request's code and
// expected as the reply's.
#define SATVARO_COMMAND_NAME(name, constant, ...) inline constexpr char constant[] = #name;
SATVARO_EXPORTED_COMMANDS(SATVARO_COMMAND_NAME)
SATVARO_INTERNAL_COMMANDS(SATVARO_COMMAND_NAME)
#undef SATVARO_COMMAND_NAME

// Name of the performance record, in the working directory.
inline constexpr char ARQUIVO_DESEMPENHO[] = "teste_desempenho.csv";

struct Command;  // an entry of the command catalogue

class ManipulaDadosSat {
public:
    // One exchange: sends `body` as `command`, fills `reply`, returns the
    // exchange status. The default runs a DoTransaction on the device.
    using Exchange = int (*)(int timeoutMs, const char* command, const std::string& body,
                             zeph::Message& reply);

    ManipulaDadosSat();
    explicit ManipulaDadosSat(Exchange exchange);
    virtual ~ManipulaDadosSat();
    ManipulaDadosSat(const ManipulaDadosSat&) = delete;
    ManipulaDadosSat& operator=(const ManipulaDadosSat&) = delete;

    // One method per command of SatFunctionList.h, as AtivarSAT(int
    // numeroSessao, int subComando, const char* codigoAtivacao, ...).
#define SATVARO_COMMAND_METHOD(name, ...) \
    char* name(int numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_PLAIN_PARAMETER));
    SATVARO_EXPORTED_COMMANDS(SATVARO_COMMAND_METHOD)
    SATVARO_INTERNAL_COMMANDS(SATVARO_COMMAND_METHOD)
#undef SATVARO_COMMAND_METHOD

    void closePortSerial();  // nothing to do: the port lives inside each exchange
    int CodigoErro() const;  // status of this thread's last command; 0 before any

    // The Base64 document of this thread's last reply decoded: field 7 after
    // EnviarDadosVenda or CancelarUltimaVenda, field 6 after ExtrairLogs,
    // otherwise (or when absent or empty) the empty text. Prints the reply's
    // fields on standard output. The text stays valid until the thread's
    // next Base64ToAscii call.
    char* Base64ToAscii();

    // Expands the first "<CNPJ/>" and then the first "<CPF/>" into an
    // element pair, in place; later occurrences stay.
    static void replaceTag(std::string& body);
    // As the free split(), and prints each field on its own line.
    std::vector<std::string> split(const std::string& text, char delimiter);

    // Append one row to ARQUIVO_DESEMPENHO, created with the header row of
    // the form that creates it. The message form writes the code and the
    // six DELTA_* headers with the differences of neighbours; the value form
    // writes the value. Failures are silent.
    void gravaArquivoDesempenho(zeph::Message& mensagem);
    void gravaArquivoDesempenho(std::string valor);

private:
    char* execute(const Command& command, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    char* refuse(const Command& command);

    Exchange m_exchange;
};

}  // namespace manipulaDados

#endif

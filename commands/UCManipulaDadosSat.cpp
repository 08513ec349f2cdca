#include "commands/UCManipulaDadosSat.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include "commands/Base64.h"
#include "log/logdebug.h"
#include "transaction/DoTransaction.h"

thread_local ReplyBuffer g_resp;

char* ReplyBuffer::data() {
    if (!m_bytes) {
        m_bytes.reset(new char[SATVARO_REPLY_BUFFER_SIZE]());
    }
    return m_bytes.get();
}

namespace manipulaDados {

// What tells one command from another: its name, the time-out the device is
// given, the capacity of its working buffer (the longest body and its NUL),
// and what is done to the body before it is sent.
struct Command {
    const char* name;
    int timeoutMs;
    std::size_t bufferSize;
    void (*rework)(std::string& body);
};

namespace {

constexpr void (*AS_FORMATTED)(std::string&) = nullptr;
constexpr void (*EXPANDS_EMPTY_TAGS)(std::string&) = ManipulaDadosSat::replaceTag;

// The catalogue, COMMAND_AtivarSAT and so on.
#define SATVARO_CATALOGUE_ENTRY(name, constant, format, rework, ...)      \
    constexpr Command COMMAND_##name{constant, SATVARO_TIMEOUT_MS_##name, \
                                     std::size_t{SATVARO_MAX_REQUEST_##name} + 1, rework};
SATVARO_EXPORTED_COMMANDS(SATVARO_CATALOGUE_ENTRY)
SATVARO_INTERNAL_COMMANDS(SATVARO_CATALOGUE_ENTRY)
#undef SATVARO_CATALOGUE_ENTRY

// Which reply field holds a Base64 document, by the command that got it.
struct Base64Field {
    const char* command;
    std::size_t index;
};
constexpr Base64Field BASE64_FIELDS[] = {
    {CMD_ENVIAR_DADOS_VENDA, 6}, {CMD_CANCELA_ULTIMA_VENDA, 6}, {CMD_EXTRAIR_LOG, 5}};

// What the calling thread knows of its own last command, as with errno.
struct CallerState {
    std::string ultimoComando;  // empty before the first command
    int codigoErro = 0;
    std::string textoBase64;  // the last Base64ToAscii result
};
thread_local CallerState t_caller;

// An argument as the body takes it: a null text is the empty text.
const char* inBody(const char* text) {
    return text != nullptr ? text : "";
}
int inBody(int number) {
    return number;
}

int exchangeWithDevice(int timeoutMs, const char* command, const std::string& body,
                       zeph::Message& reply) {
    DoTransaction transaction;
    return transaction.run(timeoutMs, command, body, reply);
}

void replaceFirst(std::string& body, const std::string& from, const std::string& to) {
    const std::size_t at = body.find(from);
    if (at != std::string::npos) {
        body.replace(at, from.size(), to);
    }
}

// The performance record's columns.
const char HEADER_MENSAGEM[] =
    "\"DATA_HORA\";\"CODE\";\"DELTA_DRS\";\"PROC_DRS\";\"DELTA_DRS_CCO\";\"TRANS_DRS_CCO\";"
    "\"DELTA_CCO\";\"PROC_CCO\";\"DELTA_CSE_COM\";\"TRANS_CCO_CSE\";\"DELTA_CSE\";\"PROC_CSE\";"
    "\"DELTA_SWB\";";
const char HEADER_VALOR[] = "\"DATA_HORA\";\"DELTA_DRS\";";
// Time stamps taken along the request's path, the driver's first.
const char* const DELTA_HEADERS[] = {"DELTA_DRS",     "DELTA_DRS_CCO", "DELTA_CCO",
                                     "DELTA_CSE_COM", "DELTA_CSE",     "DELTA_SWB"};

// A header's text read as strtol does on 64-bit targets (strtoll: a 32-bit
// long would saturate), cut to 32 bits.
std::uint32_t deltaValue(const std::string& value) {
    return static_cast<std::uint32_t>(std::strtoll(value.c_str(), nullptr, 10));
}

// The difference in 32-bit signed arithmetic, wrapping instead of overflowing.
std::string difference(const std::string& minuend, const std::string& subtrahend) {
    return std::to_string(static_cast<std::int32_t>(deltaValue(minuend) - deltaValue(subtrahend)));
}

// Opens the record for appending, made when missing; an empty record first
// gets `headerRow`. A record that is there is never truncated, whatever its
// permissions.
std::FILE* openRecord(const char* headerRow) {
    std::FILE* file = std::fopen(ARQUIVO_DESEMPENHO, "ae");
    struct stat status {};
    if (file != nullptr && fstat(fileno(file), &status) == 0 && status.st_size == 0) {
        std::fprintf(file, "%s\n", headerRow);
        std::fflush(file);
    }
    return file;
}

// "DATA_HORA" of the performance record: year/day/month/hh:mm:ss. The day
// comes before the month; stored records rely on it.
std::string dataHoraDesempenho(const std::tm& when) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d/%02d:%02d:%02d", when.tm_year + 1900,
                  when.tm_mday, when.tm_mon + 1, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

void appendRecord(const char* headerRow, const std::vector<std::string>& fieldsAfterTime) {
    std::FILE* file = openRecord(headerRow);
    if (file == nullptr) {
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm when{};
    localtime_r(&now, &when);
    std::string row = dataHoraDesempenho(when) + ';';
    for (const std::string& field : fieldsAfterTime) {
        row += field + ';';
    }
    row += '\n';
    std::fputs(row.c_str(), file);
    std::fflush(file);
    std::fclose(file);
}

}  // namespace

ManipulaDadosSat::ManipulaDadosSat() : ManipulaDadosSat(exchangeWithDevice) {}

ManipulaDadosSat::ManipulaDadosSat(Exchange exchange) : m_exchange(exchange) {}

ManipulaDadosSat::~ManipulaDadosSat() = default;

// Every command takes this one path. A body is formatted whole or not at all:
// a cut-off fiscal document would be a different, corrupt document, so one
// that does not fit the command's buffer is refused rather than sent.
char* ManipulaDadosSat::execute(const Command& command, const char* format, ...) {
    t_caller.ultimoComando = command.name;

    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string body;
    if (length >= 0 && static_cast<std::size_t>(length) < command.bufferSize) {
        body.resize(static_cast<std::size_t>(length));
        std::vsnprintf(body.data(), body.size() + 1, format, arguments);
    }
    va_end(arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= command.bufferSize) {
        return refuse(command);
    }

    if (command.rework != nullptr) {
        command.rework(body);
    }
    zeph::Message reply;
    t_caller.codigoErro = m_exchange(command.timeoutMs, command.name, body, reply);

    // The device link refuses a reply with no room for its NUL here; the
    // bound only keeps the copy inside g_resp.
    const std::string& answer = reply.body();
    const std::size_t kept = std::min<std::size_t>(answer.size(), SATVARO_REPLY_BUFFER_SIZE - 1);
    char* const text = g_resp.data();
    std::memset(text, 0, SATVARO_REPLY_BUFFER_SIZE);
    std::memcpy(text, answer.data(), kept);
    return text;
}

char* ManipulaDadosSat::refuse(const Command& command) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "[ManipulaDadosSat::%s] Requisicao excede o buffer de %zu bytes", command.name,
                  command.bufferSize);
    LogDebug::obtemReferencia()->saveLog("error", line);
    t_caller.codigoErro = SATVARO_STATUS_REFUSED;
    char* const text = g_resp.data();
    std::memset(text, 0, SATVARO_REPLY_BUFFER_SIZE);
    return text;
}

#define SATVARO_BODY_ARGUMENT(kind, parameter, hubField) , inBody(parameter)
#define SATVARO_COMMAND_METHOD(name, constant, format, ...)                           \
    char* ManipulaDadosSat::name(                                                     \
        int numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_PLAIN_PARAMETER)) {         \
        return execute(COMMAND_##name, format,                                        \
                       numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_BODY_ARGUMENT)); \
    }
SATVARO_EXPORTED_COMMANDS(SATVARO_COMMAND_METHOD)
SATVARO_INTERNAL_COMMANDS(SATVARO_COMMAND_METHOD)
#undef SATVARO_COMMAND_METHOD
#undef SATVARO_BODY_ARGUMENT

void ManipulaDadosSat::closePortSerial() {}

int ManipulaDadosSat::CodigoErro() const {
    return t_caller.codigoErro;
}

char* ManipulaDadosSat::Base64ToAscii() {
    const std::vector<std::string> fields = split(g_resp.text(), '|');
    CallerState& caller = t_caller;
    caller.textoBase64.clear();
    for (const Base64Field& candidate : BASE64_FIELDS) {
        if (caller.ultimoComando == candidate.command) {
            if (candidate.index < fields.size()) {
                caller.textoBase64 = Base64::decode(fields[candidate.index]);
            }
            break;
        }
    }
    return caller.textoBase64.data();
}

// The device wants empty CNPJ and CPF elements of a cancellation written
// out as start and end tag.
void ManipulaDadosSat::replaceTag(std::string& body) {
    replaceFirst(body, "<CNPJ/>", "<CNPJ></CNPJ>");
    replaceFirst(body, "<CPF/>", "<CPF></CPF>");
}

std::vector<std::string> ManipulaDadosSat::split(const std::string& text, char delimiter) {
    std::vector<std::string> fields = ::split(text, delimiter);
    for (const std::string& field : fields) {
        std::cout << field << std::endl;
    }
    return fields;
}

void ManipulaDadosSat::gravaArquivoDesempenho(zeph::Message& mensagem) {
    std::vector<std::string> deltas;
    for (const char* name : DELTA_HEADERS) {
        deltas.push_back(mensagem.header(name));
    }
    std::vector<std::string> fields{mensagem.code(), deltas[0]};
    for (std::size_t i = 1; i < deltas.size(); ++i) {
        fields.push_back(difference(deltas[i - 1], deltas[i]));
        fields.push_back(deltas[i]);
    }
    appendRecord(HEADER_MENSAGEM, fields);
}

void ManipulaDadosSat::gravaArquivoDesempenho(std::string valor) {
    appendRecord(HEADER_VALOR, {valor});
}

}  // namespace manipulaDados

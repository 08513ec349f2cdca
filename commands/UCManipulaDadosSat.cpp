#include "commands/UCManipulaDadosSat.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "commands/Base64.h"
#include "log/logdebug.h"
#include "transaction/DoTransaction.h"

thread_local ReplyBuffer g_resp;

char* ReplyBuffer::data() {
    if (!m_bytes) {
        m_bytes.reset(new char[REPLY_BUFFER_SIZE]());
    }
    return m_bytes.get();
}

namespace manipulaDados {

// What tells one command from another: its name, the time-out the device is
// given, and the capacity of its working buffer (the body and its NUL).
struct Command {
    const char* name;
    int timeoutMs;
    std::size_t bufferSize;
    void (*rework)(std::string& body);
};

namespace {

// The three commands that carry whole documents take one the size of the
// largest reply, plus their other fields.
constexpr std::size_t SALE_BUFFER = REPLY_BUFFER_SIZE + 40;
constexpr std::size_t CANCELLATION_BUFFER = REPLY_BUFFER_SIZE + 88;

// The catalogue. The time-outs are the device's worst cases: activation,
// certificate upload and blocking talk to the tax authority, signature
// association and firmware update much longer.
constexpr Command ATIVAR_SAT{CMD_ATIVAR_SAT, 302000, 64, nullptr};
constexpr Command COMUNICAR_ICP_BRASIL{CMD_COMUNICAR_ICP_BRASIL, 302000, 2096, nullptr};
constexpr Command ENVIAR_DADOS_VENDA{CMD_ENVIAR_DADOS_VENDA, 10000, SALE_BUFFER, nullptr};
constexpr Command CANCELA_ULTIMA_VENDA{CMD_CANCELA_ULTIMA_VENDA, 7000, CANCELLATION_BUFFER,
                                       ManipulaDadosSat::replaceTag};
constexpr Command CONSULTA_SAT{CMD_CONSULTA_SAT, 6000, 16, nullptr};
constexpr Command TESTE_FIM_A_FIM{CMD_TESTE_FIM_A_FIM, 22000, SALE_BUFFER, nullptr};
constexpr Command CONSULTA_STATUS_OP{CMD_CONSULTA_STATUS_OP, 20000, 48, nullptr};
constexpr Command CONSULTA_ULTIMA_SESSAO_FISCAL{CMD_CONSULTA_ULTIMA_SESSAO_FISCAL, 22000, 48,
                                                nullptr};
constexpr Command CONSULTA_STATUS_OP_MFE{CMD_CONSULTA_STATUS_OP_MFE, 20000, 48, nullptr};
constexpr Command CONSULTAR_NUM_SESSAO{CMD_CONSULTAR_NUM_SESSAO, 22000, 48, nullptr};
constexpr Command CONFIG_REDE{CMD_CONFIG_REDE, 22000, 1072, nullptr};
constexpr Command CONFIG_REDE_MFE{CMD_CONFIG_REDE_MFE, 22000, 1072, nullptr};
constexpr Command ASSOCIAR_ASSINATURA{CMD_ASSOCIAR_ASSINATURA, 900000, 2128, nullptr};
constexpr Command ATUALIZAR_SOFTWARE{CMD_ATUALIZAR_SOFTWARE, 1800000, 48, nullptr};
constexpr Command EXTRAIR_LOG{CMD_EXTRAIR_LOG, 22000, 48, nullptr};
constexpr Command BLOQUEAR_SAT{CMD_BLOQUEAR_SAT, 302000, 48, nullptr};
constexpr Command DESBLOQUEAR_SAT{CMD_DESBLOQUEAR_SAT, 22000, 48, nullptr};
constexpr Command TROCA_COD_ATIVACAO{CMD_TROCA_COD_ATIVACAO, 22000, 112, nullptr};
constexpr Command REINICIAR_MFE{CMD_REINICIAR_MFE, 17000, 48, nullptr};
constexpr Command ENVIAR_STATUS_AC{CMD_ENVIAR_STATUS_AC, 7000, 80, nullptr};

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

const char* orEmpty(const char* argument) {
    return argument != nullptr ? argument : "";
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

std::string dataHoraDesempenho(const std::tm& when) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d/%02d:%02d:%02d", when.tm_year + 1900,
                  when.tm_mday, when.tm_mon + 1, when.tm_hour, when.tm_min, when.tm_sec);
    return text;
}

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
        return refuse(command, "Requisicao", command.bufferSize);
    }

    if (command.rework != nullptr) {
        command.rework(body);
    }
    zeph::Message reply;
    t_caller.codigoErro = m_exchange(command.timeoutMs, command.name, body, reply);

    // The caller reads g_resp as a C text: its terminating NUL must fit too.
    const std::string& answer = reply.body();
    if (answer.size() >= REPLY_BUFFER_SIZE) {
        return refuse(command, "Resposta", REPLY_BUFFER_SIZE);
    }
    char* const text = g_resp.data();
    std::memset(text, 0, REPLY_BUFFER_SIZE);
    std::memcpy(text, answer.data(), answer.size());
    return text;
}

char* ManipulaDadosSat::refuse(const Command& command, const char* what, std::size_t capacity) {
    char line[160];
    std::snprintf(line, sizeof line, "[ManipulaDadosSat::%s] %s excede o buffer de %zu bytes",
                  command.name, what, capacity);
    LogDebug::obtemReferencia()->saveLog("error", line);
    t_caller.codigoErro = SATVARO_STATUS_REFUSED;
    char* const text = g_resp.data();
    std::memset(text, 0, REPLY_BUFFER_SIZE);
    return text;
}

char* ManipulaDadosSat::AtivarSAT(int numeroSessao, int subComando, const char* codigoAtivacao,
                                  const char* cnpj, int codigoUF) {
    return execute(ATIVAR_SAT, "%06d|%01d|%s|%s|%02d", numeroSessao, subComando,
                   orEmpty(codigoAtivacao), orEmpty(cnpj), codigoUF);
}

char* ManipulaDadosSat::ComunicarCertificadoICPBRASIL(int numeroSessao, const char* codigoAtivacao,
                                                      const char* certificado) {
    return execute(COMUNICAR_ICP_BRASIL, "%06d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(certificado));
}

char* ManipulaDadosSat::EnviarDadosVenda(int numeroSessao, const char* codigoAtivacao,
                                         const char* dadosVenda) {
    return execute(ENVIAR_DADOS_VENDA, "%06d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(dadosVenda));
}

char* ManipulaDadosSat::CancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao,
                                            const char* chave, const char* dadosCancelamento) {
    return execute(CANCELA_ULTIMA_VENDA, "%06d|%s|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(chave), orEmpty(dadosCancelamento));
}

char* ManipulaDadosSat::ConsultarSAT(int numeroSessao) {
    return execute(CONSULTA_SAT, "%06d", numeroSessao);
}

char* ManipulaDadosSat::TesteFimAFim(int numeroSessao, const char* codigoAtivacao,
                                     const char* dadosVenda) {
    return execute(TESTE_FIM_A_FIM, "%06d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(dadosVenda));
}

char* ManipulaDadosSat::ConsultarStatusOperacional(int numeroSessao, const char* codigoAtivacao) {
    return execute(CONSULTA_STATUS_OP, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::ConsultarUltimaSessaoFiscal(int numeroSessao, const char* codigoAtivacao) {
    return execute(CONSULTA_ULTIMA_SESSAO_FISCAL, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::ConsultarStatusOperacionalMFE(int numeroSessao,
                                                      const char* codigoAtivacao) {
    return execute(CONSULTA_STATUS_OP_MFE, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::ConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao,
                                              int sessaoConsultada) {
    return execute(CONSULTAR_NUM_SESSAO, "%06d|%s|%06d", numeroSessao, orEmpty(codigoAtivacao),
                   sessaoConsultada);
}

char* ManipulaDadosSat::ConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                                  const char* dadosConfiguracao) {
    return execute(CONFIG_REDE, "%06d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(dadosConfiguracao));
}

char* ManipulaDadosSat::ConfigurarInterfaceDeRedeMFE(int numeroSessao, const char* codigoAtivacao,
                                                     const char* dadosConfiguracao) {
    return execute(CONFIG_REDE_MFE, "%06d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(dadosConfiguracao));
}

char* ManipulaDadosSat::AssociarAssinatura(int numeroSessao, const char* codigoAtivacao,
                                           const char* cnpjValor, const char* assinaturaCnpj) {
    return execute(ASSOCIAR_ASSINATURA, "%06d|%s|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   orEmpty(cnpjValor), orEmpty(assinaturaCnpj));
}

char* ManipulaDadosSat::AtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao) {
    return execute(ATUALIZAR_SOFTWARE, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::ExtrairLogs(int numeroSessao, const char* codigoAtivacao) {
    return execute(EXTRAIR_LOG, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::BloquearSAT(int numeroSessao, const char* codigoAtivacao) {
    return execute(BLOQUEAR_SAT, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::DesbloquearSAT(int numeroSessao, const char* codigoAtivacao) {
    return execute(DESBLOQUEAR_SAT, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::TrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao,
                                               int opcao, const char* novoCodigo,
                                               const char* confirmacaoNovoCodigo) {
    return execute(TROCA_COD_ATIVACAO, "%06d|%s|%01d|%s|%s", numeroSessao, orEmpty(codigoAtivacao),
                   opcao, orEmpty(novoCodigo), orEmpty(confirmacaoNovoCodigo));
}

char* ManipulaDadosSat::ReiniciarMFE(int numeroSessao, const char* codigoAtivacao) {
    return execute(REINICIAR_MFE, "%06d|%s", numeroSessao, orEmpty(codigoAtivacao));
}

char* ManipulaDadosSat::EnviarStatusAC(int numeroSessao, const char* primeiroCampo,
                                       const char* segundoCampo, const char* terceiroCampo) {
    return execute(ENVIAR_STATUS_AC, "%06d|%s|%s|%s", numeroSessao, orEmpty(primeiroCampo),
                   orEmpty(segundoCampo), orEmpty(terceiroCampo));
}

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

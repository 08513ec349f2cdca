#include "sim/SatDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "Base64Text.h"
#include "satvaro.h"
#include "sim/Cfe.h"

namespace satsim {

const char* const SatDevice::EMERGENCY_CODE = "00000000";
const char* const SatDevice::SERIAL = "900000001";
const char* const SatDevice::TEST_TAXPAYER_CNPJ = "34567890000130";

namespace {

// A CF-e may hold at most 1,500 KB.
const size_t LARGEST_SALE = 1500 * 1024;
// The largest reply body the driver takes: its reply buffer holds it with the
// terminating NUL.
const size_t LARGEST_REPLY = SATVARO_REPLY_BUFFER_SIZE - 1;
// The device log it hands out keeps its newest lines up to this size.
const size_t DEVICE_LOG_LIMIT = 64 * 1024;

// Result codes are the function's family (04 AtivarSAT ... 18
// TrocarCodigoDeAtivacao, 19 ConsultarUltimaSessaoFiscal) and a detail;
// detail 0 is success.
enum Family {
    ATIVAR = 4,
    CERTIFICADO,
    VENDA,
    CANCELAMENTO,
    CONSULTA,
    FIM_A_FIM,
    STATUS,
    SESSAO,
    REDE,
    ASSINATURA,
    SOFTWARE,
    LOGS,
    BLOQUEIO,
    DESBLOQUEIO,
    TROCA_CODIGO,
    SESSAO_FISCAL,
    REINICIO,
    STATUS_AC
};

std::string resultCode(int family, int detail) {
    char code[8];
    std::snprintf(code, sizeof code, "%02d%03d", family % 100, detail % 1000);
    return code;
}

std::string join(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i)
        text += (i ? "|" : "") + fields[i];
    return text;
}

// A refused sale: 06010 with the rejection's code (CCCC) and message.
std::string rejection(const std::string& session, const std::string& code,
                      const std::string& message) {
    return join({session, resultCode(VENDA, 10), code, message, "", ""});
}

// "numeroSessao|EEEEE|mensagem|cod|mensagemSEFAZ"; sales and cancellations
// carry their CCCC after EEEEE: 1999 (unidentified rejection) when the
// document was refused, 0000 otherwise.
std::string standardReply(const std::string& session, int family, int detail,
                          const std::string& message) {
    if (family != VENDA && family != CANCELAMENTO)
        return join({session, resultCode(family, detail), message, "", ""});
    bool refused = (family == VENDA && detail == 10) || (family == CANCELAMENTO && detail == 7);
    return join({session, resultCode(family, detail), refused ? "1999" : "0000", message, "", ""});
}

// The reply with the whole CF-e, or, when that would not fit a reply, with
// its items echoed compactly; "" when neither fits.
template <typename Reply>
std::string fittingReply(Reply reply) {
    for (bool compact : {false, true}) {
        std::string text = reply(compact);
        if (text.size() <= LARGEST_REPLY)
            return text;
    }
    return std::string();
}

// Splits a request body into `count` fields; the last one keeps the rest,
// bars included (sale documents may hold them). Missing fields are empty.
std::vector<std::string> splitFields(const std::string& body, size_t count) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < count) {
        size_t bar = body.find('|', start);
        if (bar == std::string::npos)
            break;
        fields.push_back(body.substr(start, bar - start));
        start = bar + 1;
    }
    fields.push_back(start <= body.size() ? body.substr(start) : std::string());
    fields.resize(count);
    return fields;
}

// Sessions are looked up by number, so "000042" and "42" are one session.
std::string sessionKey(const std::string& session) {
    char* end = nullptr;
    long number = std::strtol(session.c_str(), &end, 10);
    return end != session.c_str() && *end == '\0' ? std::to_string(number) : session;
}

std::string lastDigits(const std::string& key) {
    return key.size() > 3 && key.compare(0, 3, "CFe") == 0 ? key.substr(3) : key;
}

}  // namespace

SatDevice::SatDevice(const DeviceSettings& settings)
    : m_code(settings.activationCode),
      m_activated(settings.activated),
      m_clock(settings.clock),
      m_random(settings.seeded ? settings.seed : std::random_device()()),
      m_sessionsKept(settings.sessionsKept),
      m_clockOffsetSeconds(settings.clockOffsetSeconds),
      m_certificateIssued(settings.certificateIssued),
      m_certificateExpires(settings.certificateExpires),
      m_pendingCfe(settings.pendingCfe) {
    log("Equipamento SAT ligado");
}

// Commands that take the activation code in their second field refuse a
// wrong one before anything else, with their family's detail 1.
const std::map<std::string, SatDevice::Command>& SatDevice::catalogue() {
    static const std::map<std::string, Command> commands = {
        {"AtivarSAT", {&SatDevice::ativar, 5, 0}},
        {"ComunicarCertificadoICPBRASIL", {&SatDevice::comunicarCertificado, 3, CERTIFICADO}},
        {"EnviarDadosVenda", {&SatDevice::enviarDadosVenda, 3, VENDA}},
        {"CancelarUltimaVenda", {&SatDevice::cancelarUltimaVenda, 4, CANCELAMENTO}},
        {"ConsultarSAT", {&SatDevice::consultarSat, 1, 0}},
        {"TesteFimAFim", {&SatDevice::testeFimAFim, 3, FIM_A_FIM}},
        {"ConsultarStatusOperacional", {&SatDevice::consultarStatusOperacional, 2, STATUS}},
        {"ConsultarStatusOperacionalMFE", {&SatDevice::consultarStatusOperacional, 2, STATUS}},
        {"ConsultarNumeroSessao", {&SatDevice::consultarNumeroSessao, 3, SESSAO}},
        {"ConsultarUltimaSessaoFiscal",
         {&SatDevice::consultarUltimaSessaoFiscal, 2, SESSAO_FISCAL}},
        {"ConfigurarInterfaceDeRede", {&SatDevice::configurarRede, 3, REDE}},
        {"ConfigurarInterfaceDeRedeMFE", {&SatDevice::configurarRede, 3, REDE}},
        {"AssociarAssinatura", {&SatDevice::associarAssinatura, 4, ASSINATURA}},
        {"AtualizarSoftwareSAT", {&SatDevice::atualizarSoftware, 2, SOFTWARE}},
        {"ExtrairLogs", {&SatDevice::extrairLogs, 2, LOGS}},
        {"BloquearSAT", {&SatDevice::bloquear, 2, BLOQUEIO}},
        {"DesbloquearSAT", {&SatDevice::desbloquear, 2, DESBLOQUEIO}},
        {"TrocarCodigoDeAtivacao", {&SatDevice::trocarCodigo, 5, 0}},
        {"ReiniciarMFE", {&SatDevice::reiniciar, 2, REINICIO}},
        {"EnviarStatusAC", {&SatDevice::enviarStatusAc, 4, 0}},
    };
    return commands;
}

std::string SatDevice::answer(const std::string& command, const std::string& body) {
    auto entry = catalogue().find(command);
    if (entry == catalogue().end()) {
        log("Comando desconhecido " + command);
        return standardReply(splitFields(body, 2)[0], 99, 999, "Comando desconhecido");
    }
    const Command& known = entry->second;
    Fields fields = splitFields(body, known.fields);
    std::string reply =
        known.codeFamily != 0 && fields[1] != m_code
            ? standardReply(fields[0], known.codeFamily, 1, "Código de ativação inválido")
            : (this->*known.handler)(fields);
    if (command != "ConsultarNumeroSessao")
        remember(fields[0], reply);
    log(command + " sessao " + fields[0] + ": " + splitFields(reply, 3)[1]);
    return reply;
}

std::string SatDevice::now(const char* format) const {
    std::tm local{};
    std::time_t seconds = std::time(nullptr);
    if (!m_clock.empty()) {
        ::strptime(m_clock.c_str(), "%Y%m%d%H%M%S", &local);
        local.tm_isdst = -1;
        seconds = std::mktime(&local);
    }
    seconds += m_clockOffsetSeconds;
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

void SatDevice::remember(const std::string& session, const std::string& reply) {
    const std::string key = sessionKey(session);
    m_replies.erase(std::remove_if(m_replies.begin(), m_replies.end(),
                                   [&](const auto& kept) { return kept.first == key; }),
                    m_replies.end());
    m_replies.emplace_back(key, reply);
    while (m_replies.size() > m_sessionsKept)
        m_replies.pop_front();
}

// Like a device's own log, it keeps only its newest lines: an endless log
// would outgrow what one reply can carry, and what a long run's host holds.
void SatDevice::log(const std::string& text) {
    m_log += timestamp() + "|SAT|info|" + text + "\n";
    if (m_log.size() > DEVICE_LOG_LIMIT)
        m_log.erase(0, m_log.find('\n', m_log.size() - DEVICE_LOG_LIMIT) + 1);
}

// AtivarSAT: sub-command 1 activates with a certificate from the tax
// authority; 2 and 3 make a CSR for an ICP-Brasil certificate, which
// ComunicarCertificadoICPBRASIL then completes. The operator console sends 0
// for the tax authority's certificate, and the device takes it like 1.
std::string SatDevice::ativar(const Fields& f) {
    const std::string& session = f[0];
    if (m_activated)
        return standardReply(session, ATIVAR, 3, "SAT já ativado");
    if (f[1] != "0" && f[1] != "1" && f[1] != "2" && f[1] != "3")
        return standardReply(session, ATIVAR, 99, "Erro desconhecido na ativação");
    if (!isDigits(f[3], 14))
        return standardReply(session, ATIVAR, 2, "SEFAZ não reconhece este SAT (CNPJ inválido)");
    m_code = f[2];
    m_cnpj = f[3];
    if (isDigits(f[4], 2))
        m_uf = f[4];
    if (f[1] == "0" || f[1] == "1") {
        m_activated = true;
        return standardReply(session, ATIVAR, 0, "Ativado corretamente");
    }
    m_csrPending = true;
    std::string csr = "-----BEGIN CERTIFICATE REQUEST-----\nSAT " + std::string(SERIAL) + " CNPJ " +
                      m_cnpj + "\n-----END CERTIFICATE REQUEST-----\n";
    return standardReply(session, ATIVAR, 6, "CSR ICP-BRASIL criado com sucesso") + "|" +
           base64(csr);
}

std::string SatDevice::comunicarCertificado(const Fields& f) {
    if (f[2].empty())
        return standardReply(f[0], CERTIFICADO, 2, "Certificado inválido");
    if (m_csrPending) {
        m_csrPending = false;
        m_activated = true;
    }
    return standardReply(f[0], CERTIFICADO, 0, "Certificado transmitido com sucesso");
}

// A new CF-e's key (numbered next; cNF drawn) and time.
IssuedCfe SatDevice::nextCfe(const std::string& uf, const std::string& cnpj) {
    char numberText[8], codeText[8];
    std::snprintf(numberText, sizeof numberText, "%06u", (m_documents + 1) % 1000000);
    std::snprintf(codeText, sizeof codeText, "%06u", static_cast<unsigned>(m_random() % 1000000));
    IssuedCfe cfe;
    cfe.keyDigits = accessKeyDigits({uf, now("%y%m"), cnpj, SERIAL, numberText, codeText});
    cfe.issued = timestamp();
    return cfe;
}

// The checks a device makes that point-of-sale programs commonly trip, in
// this order; each refusal names the field.
bool SatDevice::refuses(const SaleDocument& sale, std::string& code, std::string& message) const {
    const XmlNode& info = sale.info();
    if (sale.items().empty()) {
        code = "1201";
        message = "CF-e sem itens (det)";
    } else if (info.textAt("emit/CNPJ") != m_cnpj) {
        code = "1202";
        message = "emit/CNPJ difere do CNPJ do contribuinte ativado (" + m_cnpj + ")";
    } else if (!m_acSignature.empty() && (info.textAt("ide/CNPJ") != m_acCnpj ||
                                          info.textAt("ide/signAC") != m_acSignature)) {
        code = "1203";
        message = "ide/CNPJ e ide/signAC diferem da assinatura vinculada (AssociarAssinatura)";
    } else if (!sale.valueProblem().empty()) {
        code = "1204";
        message = sale.valueProblem();
    } else if (sale.paid() < sale.total()) {
        code = "1205";
        message = "pgto/MP/vMP: pagamento de " + sale.paid().text() + " menor que o total " +
                  sale.total().text();
    } else {
        return false;
    }
    message = "Rejeição: " + message;
    return true;
}

std::string SatDevice::enviarDadosVenda(const Fields& f) {
    const std::string& session = f[0];
    if (!m_activated)
        return standardReply(session, VENDA, 2, "SAT ainda não ativado");
    if (m_blocked)
        return standardReply(session, VENDA, 6, "SAT bloqueado pelo contribuinte");
    if (f[2].size() > LARGEST_SALE)
        return standardReply(session, VENDA, 5, "Tamanho do CF-e-SAT superior a 1.500KB");
    const SaleDocument sale(f[2]);
    if (f[2].empty() || !sale.readable())
        return standardReply(session, VENDA, 10, "Erro de validação do conteúdo");
    std::string code, message;
    if (refuses(sale, code, message))
        return rejection(session, code, message);
    IssuedCfe cfe = nextCfe(m_uf, m_cnpj);
    std::string reply = fittingReply([&](bool compact) {
        std::string xml = saleCfe(sale, false, compact, cfe);
        return join({session, resultCode(VENDA, 0), "0000", "Emitido com sucesso + conteúdo notas",
                     "", "", base64(xml), cfe.issued, "CFe" + cfe.keyDigits, cfe.total, cfe.buyer,
                     cfe.qrSignature});
    });
    if (reply.empty())
        return standardReply(session, VENDA, 5, "Tamanho do CF-e-SAT superior a 1.500KB");
    ++m_documents;
    m_sales.push_back(cfe);
    m_lastFiscalReply = reply;
    return reply;
}

// Only the last sale can be cancelled, once, and only by its key.
std::string SatDevice::cancelarUltimaVenda(const Fields& f) {
    const std::string& session = f[0];
    if (m_blocked)
        return standardReply(session, CANCELAMENTO, 3, "SAT bloqueado pelo contribuinte");
    if (m_sales.empty() || m_sales.back().cancelled || lastDigits(f[2]) != m_sales.back().keyDigits)
        return standardReply(session, CANCELAMENTO, 2, "Cupom inválido");
    if (f[3].empty())
        return standardReply(session, CANCELAMENTO, 7, "Erro de validação do conteúdo");
    IssuedCfe& sale = m_sales.back();
    XmlNode request;
    XmlNode::parse(f[3], request);
    const XmlNode* given = request.child("infCFe");
    IssuedCfe cancellation = nextCfe(sale.keyDigits.substr(0, 2), sale.keyDigits.substr(6, 14));
    std::string xml = cancellationCfe(sale, given != nullptr ? *given : XmlNode(), cancellation);
    sale.cancelled = true;
    ++m_documents;
    m_lastFiscalReply = join({session, resultCode(CANCELAMENTO, 0), "0000",
                              "Cupom cancelado com sucesso + conteúdo CF-e-SAT cancelado", "", "",
                              base64(xml), cancellation.issued, "CFe" + cancellation.keyDigits,
                              cancellation.total, cancellation.buyer, cancellation.qrSignature});
    return m_lastFiscalReply;
}

std::string SatDevice::consultarSat(const Fields& f) {
    return standardReply(f[0], CONSULTA, 0, "SAT em Operação");
}

// The test's CF-e is built like a sale's, without the sale's checks, and
// takes no number of its own.
std::string SatDevice::testeFimAFim(const Fields& f) {
    const std::string& session = f[0];
    if (!m_activated)
        return standardReply(session, FIM_A_FIM, 2, "SAT ainda não ativado");
    const SaleDocument sale(f[2]);
    IssuedCfe cfe = nextCfe(m_uf, m_cnpj);
    std::string reply = fittingReply([&](bool compact) {
        std::string xml = saleCfe(sale, true, compact, cfe);
        return join({session, resultCode(FIM_A_FIM, 0), "Emitido com sucesso", "", "", base64(xml),
                     cfe.issued, cfe.keyDigits.substr(31, 6), "CFe" + cfe.keyDigits});
    });
    return reply.empty() ? standardReply(session, FIM_A_FIM, 99, "Erro desconhecido") : reply;
}

// The CF-e held untransmitted run from LISTA_INICIAL to LISTA_FINAL; none
// unless told otherwise, every CF-e transmitted as it is issued.
std::string SatDevice::consultarStatusOperacional(const Fields& f) {
    const std::string last = m_sales.empty() ? "" : m_sales.back().keyDigits;
    const std::string lastIssued = m_sales.empty() ? "" : m_sales.back().issued;
    const std::string current = timestamp();
    const bool pending = m_pendingCfe > 0;
    return join({f[0],
                 resultCode(STATUS, 0),
                 "Resposta com Sucesso",
                 "",
                 "",
                 SERIAL,
                 m_lanType,
                 "192.168.000.100",
                 "00:0a:56:00:00:01",
                 "255.255.255.000",
                 "192.168.000.001",
                 "192.168.000.001",
                 "000.000.000.000",
                 "CONECTADO",
                 "ALTO",
                 "4 GB",
                 std::to_string(m_sales.size() * 4) + " KB",
                 current,
                 "01.00.00",
                 "00.08",
                 last,
                 pending ? pendingKey(m_pendingCfe - 1) : "",
                 pending ? pendingKey(0) : "",
                 lastIssued,
                 pending ? "20240101000000" : current,
                 m_certificateIssued,
                 certificateExpiry(),
                 m_blocked ? "2" : "0"});
}

std::string SatDevice::certificateExpiry() const {
    if (m_certificateExpires.empty() || m_certificateExpires[0] != '+')
        return m_certificateExpires;
    std::tm day{};
    ::strptime(now("%Y%m%d").c_str(), "%Y%m%d", &day);
    day.tm_mday += std::atoi(m_certificateExpires.c_str() + 1);
    day.tm_hour = 12;  // away from a change of summer time
    day.tm_isdst = -1;
    std::mktime(&day);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &day);
    return text;
}

// A key of the device's numbering, `fromLast` CF-e before the last one
// (numbered from the last sale, or from 1 before any).
std::string SatDevice::pendingKey(long fromLast) const {
    const long last = std::max<long>(static_cast<long>(m_documents), m_pendingCfe);
    char number[24];
    std::snprintf(number, sizeof number, "%06ld", last - fromLast);
    return m_uf + now("%y%m") + m_cnpj + "59" + SERIAL + number + "0000000";
}

// The reply once given to a past session, as it was.
std::string SatDevice::consultarNumeroSessao(const Fields& f) {
    if (!m_activated)
        return standardReply(f[0], SESSAO, 2, "SAT ainda não ativado");
    const std::string key = sessionKey(f[2]);
    const auto past = std::find_if(m_replies.begin(), m_replies.end(),
                                   [&](const auto& kept) { return kept.first == key; });
    if (past == m_replies.end())
        return standardReply(f[0], SESSAO, 3, "Sessão não existe");
    return past->second;
}

std::string SatDevice::consultarUltimaSessaoFiscal(const Fields& f) {
    if (!m_activated)
        return standardReply(f[0], SESSAO_FISCAL, 2, "SAT ainda não ativado");
    if (m_lastFiscalReply.empty())
        return standardReply(f[0], SESSAO_FISCAL, 3, "Não existe sessão fiscal");
    return m_lastFiscalReply;
}

std::string SatDevice::configurarRede(const Fields& f) {
    if (f[2].empty())
        return standardReply(f[0], REDE, 2, "Dados fora do padrão a ser informado");
    XmlNode configuration;
    const XmlNode* lanType =
        XmlNode::parse(f[2], configuration) ? configuration.findAnywhere("tipoLan") : nullptr;
    if (lanType != nullptr && !lanType->text.empty())
        m_lanType = lanType->text;
    return standardReply(f[0], REDE, 0, "Rede Configurada com Sucesso");
}

std::string SatDevice::associarAssinatura(const Fields& f) {
    if (f[3].empty())
        return standardReply(f[0], ASSINATURA, 3, "Assinatura fora do padrão especificado");
    if (!isDigits(f[2], 28))
        return standardReply(f[0], ASSINATURA, 4, "Erro de validação do conteúdo");
    m_acCnpj = f[2].substr(0, 14);
    m_acSignature = f[3];
    return standardReply(f[0], ASSINATURA, 0, "Assinatura do AC Registrada");
}

std::string SatDevice::atualizarSoftware(const Fields& f) {
    return standardReply(f[0], SOFTWARE, 0, "Software Atualizado com Sucesso");
}

std::string SatDevice::extrairLogs(const Fields& f) {
    return standardReply(f[0], LOGS, 0, "Transferência completa") + "|" + base64(m_log);
}

std::string SatDevice::bloquear(const Fields& f) {
    if (m_blocked)
        return standardReply(f[0], BLOQUEIO, 2, "Equipamento SAT já está bloqueado");
    m_blocked = true;
    return standardReply(f[0], BLOQUEIO, 0, "Equipamento SAT bloqueado com sucesso.");
}

std::string SatDevice::desbloquear(const Fields& f) {
    if (!m_blocked)
        return standardReply(f[0], DESBLOQUEIO, 5, "SAT ja desbloqueado");
    m_blocked = false;
    return standardReply(f[0], DESBLOQUEIO, 0, "Equipamento SAT desbloqueado com sucesso.");
}

// Option 1 proves the current code, option 2 the emergency code.
std::string SatDevice::trocarCodigo(const Fields& f) {
    const std::string& session = f[0];
    if (f[2] == "1" && f[1] != m_code)
        return standardReply(session, TROCA_CODIGO, 1, "Código de ativação inválido");
    if (f[2] == "2" && f[1] != EMERGENCY_CODE)
        return standardReply(session, TROCA_CODIGO, 2,
                             "Código de ativação de emergência Incorreto");
    if (f[2] != "1" && f[2] != "2")
        return standardReply(session, TROCA_CODIGO, 99, "Erro desconhecido");
    if (f[3].empty() || f[3] != f[4])
        return standardReply(session, TROCA_CODIGO, 3,
                             "Código de ativação novo e confirmação não conferem");
    m_code = f[3];
    return standardReply(session, TROCA_CODIGO, 0, "Código de ativação alterado com sucesso");
}

std::string SatDevice::reiniciar(const Fields& f) {
    return standardReply(f[0], REINICIO, 0, "Equipamento reiniciado");
}

std::string SatDevice::enviarStatusAc(const Fields& f) {
    return standardReply(f[0], STATUS_AC, 0, "Status do AC recebido");
}

}  // namespace satsim

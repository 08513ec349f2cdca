#include "SatFunctions.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "FormBody.h"
#include "hub/HubLog.h"
#include "hub/ActivationCode.h"

namespace hub {

namespace {

// Percent-encoding writes a byte as three; the field names, "=" and "&"
// fit in the rest.
constexpr std::size_t ENCODING_FACTOR = 3;
constexpr std::size_t FIELD_NAMES_ROOM = 1024;

constexpr std::size_t LONGEST_CODE = 32;
constexpr unsigned long USHORT_MAX = 65535;
constexpr unsigned long REGULAR_OPTION = 1;
constexpr unsigned long EMERGENCY_OPTION = 2;
constexpr char CODE_CHANGED[] = "18000";

FormField text(const char* name) {
    return {name, FieldKind::TEXT, 0, 0, false};
}

FormField number(const char* name, unsigned long lowest, unsigned long highest) {
    return {name, FieldKind::NUMBER, lowest, highest, false};
}

FormField code(const char* name, bool optional) {
    return {name, FieldKind::CODE, 0, 0, optional};
}

std::size_t decimalDigits(unsigned long value) {
    std::size_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

bool isCode(const std::string& text) {
    return !text.empty() && text.size() <= LONGEST_CODE &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= ' ' && c <= '~' && c != '|'; });
}

const char* needsEmergencyCode(const Arguments& arguments) {
    return arguments.numbers[1] == EMERGENCY_OPTION && arguments.texts[2].empty()
               ? "codigo_emergencia: missing, and needed with opcao 2"
               : nullptr;
}

// The regular option proves the change with the current code, the emergency
// one with the emergency code; once the device took it, the hub keeps the
// new code.
const char* changeCode(int session, const Arguments& arguments, ActivationCode& code) {
    const std::string& fresh = arguments.texts[0];
    const std::string proof =
        arguments.numbers[1] == EMERGENCY_OPTION ? arguments.texts[2] : code.current();
    const char* const reply = TrocarCodigoDeAtivacao(session, proof.c_str(), arguments.ushort(1),
                                                     fresh.c_str(), fresh.c_str());
    if (CodigoErro() == 0 && replyField(reply, 1) == CODE_CHANGED && !code.replace(fresh)) {
        logLine(
            "the new activation code could not be kept in the state directory: it is used "
            "until the hub stops, then the configured code again");
    }
    return reply;
}

// The library's calls by their shape: the session, the code, then texts.
template <char* (*F)(int, const char*)>
const char* withCode(int session, const Arguments&, ActivationCode& code) {
    return F(session, code.current().c_str());
}

template <char* (*F)(int, const char*, const char*)>
const char* withCodeAndText(int session, const Arguments& arguments, ActivationCode& code) {
    return F(session, code.current().c_str(), arguments.text(0));
}

template <char* (*F)(int, const char*, const char*, const char*)>
const char* withCodeAndTwoTexts(int session, const Arguments& arguments, ActivationCode& code) {
    return F(session, code.current().c_str(), arguments.text(0), arguments.text(1));
}

const char* activate(int session, const Arguments& arguments, ActivationCode& code) {
    return AtivarSAT(session, arguments.ushort(0), code.current().c_str(), arguments.text(1),
                     arguments.ushort(2));
}

const char* query(int session, const Arguments&, ActivationCode&) {
    return ConsultarSAT(session);
}

const char* querySession(int session, const Arguments& arguments, ActivationCode& code) {
    return ConsultarNumeroSessao(session, code.current().c_str(),
                                 static_cast<int>(arguments.numbers[0]));
}

constexpr bool CHANGES = true;
constexpr bool QUERIES = false;
constexpr bool CODE = true;
constexpr bool NO_CODE = false;

// The limits are the library's, for the whole request body.
const std::vector<SatFunction>& functions() {
    // clang-format off
    static const std::vector<SatFunction> table = {
        {"ativarsat", "AtivarSAT", CHANGES, 63, CODE,
         {number("tipo_certificado", 0, USHORT_MAX), text("cnpj"), number("codigo_uf", 0, USHORT_MAX)},
         nullptr, activate},
        {"comunicarcertificadoicpbrasil", "ComunicarCertificadoICPBRASIL", CHANGES, 2095, CODE,
         {text("certificado")}, nullptr, withCodeAndText<ComunicarCertificadoICPBRASIL>},
        {"enviardadosvenda", "EnviarDadosVenda", QUERIES, 1572903, CODE,
         {text("dados_venda")}, nullptr, withCodeAndText<EnviarDadosVenda>},
        {"cancelarultimavenda", "CancelarUltimaVenda", QUERIES, 1572951, CODE,
         {text("chave_cfe"), text("dados_cancelamento")}, nullptr,
         withCodeAndTwoTexts<CancelarUltimaVenda>},
        {"consultarsat", "ConsultarSAT", QUERIES, 47, NO_CODE, {}, nullptr, query},
        {"testefimafim", "TesteFimAFim", QUERIES, 1572903, CODE,
         {text("dados_venda")}, nullptr, withCodeAndText<TesteFimAFim>},
        {"consultarstatusoperacional", "ConsultarStatusOperacional", QUERIES, 47, CODE,
         {}, nullptr, withCode<ConsultarStatusOperacional>},
        {"consultarnumerosessao", "ConsultarNumeroSessao", QUERIES, 47, CODE,
         {number("numero_sessao", 0, 999999)}, nullptr, querySession},
        {"configurarinterfacederede", "ConfigurarInterfaceDeRede", CHANGES, 1071, CODE,
         {text("configuracao")}, nullptr, withCodeAndText<ConfigurarInterfaceDeRede>},
        {"associarassinatura", "AssociarAssinatura", CHANGES, 2127, CODE,
         {text("sequencia_cnpj"), text("assinatura_ac")}, nullptr,
         withCodeAndTwoTexts<AssociarAssinatura>},
        {"atualizarsoftwaresat", "AtualizarSoftwareSAT", CHANGES, 47, CODE,
         {}, nullptr, withCode<AtualizarSoftwareSAT>},
        {"extrairlogs", "ExtrairLogs", QUERIES, 47, CODE, {}, nullptr, withCode<ExtrairLogs>},
        {"bloquearsat", "BloquearSAT", CHANGES, 47, CODE, {}, nullptr, withCode<BloquearSAT>},
        {"desbloquearsat", "DesbloquearSAT", CHANGES, 47, CODE, {}, nullptr, withCode<DesbloquearSAT>},
        {"trocarcodigodeativacao", "TrocarCodigoDeAtivacao", CHANGES, 111, CODE,
         {code("novo_codigo_ativacao", false), number("opcao", REGULAR_OPTION, EMERGENCY_OPTION),
          code("codigo_emergencia", true)},
         needsEmergencyCode, changeCode},
    };
    // clang-format on
    return table;
}

}  // namespace

std::string replyField(std::string_view reply, int index) {
    for (; index > 0; --index) {
        const std::string_view::size_type bar = reply.find('|');
        if (bar == std::string_view::npos) {
            return "";
        }
        reply.remove_prefix(bar + 1);
    }
    return std::string(reply.substr(0, reply.find('|')));
}

bool readNumber(const FormBody& form, const char* name, unsigned long lowest, unsigned long highest,
                unsigned long& number, std::string& problem) {
    const std::string* const value = form.find(name);
    if (value == nullptr) {
        problem = std::string(name) + ": missing";
        return false;
    }
    if (value->empty() || value->find_first_not_of("0123456789") != std::string::npos) {
        problem = std::string(name) + ": not a number";
        return false;
    }
    const std::string::size_type first = std::min(value->find_first_not_of('0'), value->size() - 1);
    number = value->size() - first <= 9 ? std::stoul(value->substr(first)) : highest + 1;
    if (number < lowest || number > highest) {
        problem = std::string(name) + ": out of range (" + std::to_string(lowest) + " to " +
                  std::to_string(highest) + ")";
        return false;
    }
    return true;
}

bool SatFunction::read(const FormBody& form, Arguments& arguments, std::string& problem) const {
    arguments.texts.assign(fields.size(), std::string());
    arguments.numbers.assign(fields.size(), 0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const FormField& field = fields[i];
        if (field.kind == FieldKind::NUMBER) {
            if (!readNumber(form, field.name, field.lowest, field.highest, arguments.numbers[i],
                            problem)) {
                return false;
            }
            continue;
        }
        const std::string* const value = form.find(field.name);
        if (value == nullptr && field.optional) {
            continue;
        }
        if (value == nullptr) {
            problem = std::string(field.name) + ": missing";
            return false;
        }
        if (field.kind == FieldKind::CODE && !isCode(*value)) {
            problem = std::string(field.name) +
                      ": not an activation code (1 to 32 printable characters, no \"|\")";
            return false;
        }
        arguments.texts[i] = *value;
    }
    const char* const disagreement = agree != nullptr ? agree(arguments) : nullptr;
    if (disagreement != nullptr) {
        problem = disagreement;
        return false;
    }
    return true;
}

std::size_t SatFunction::shortestRequest(const Arguments& arguments, std::size_t codeLength) const {
    std::size_t length = 6 + (takesCode ? 1 + codeLength : 0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        length += 1 + (fields[i].kind == FieldKind::NUMBER ? decimalDigits(arguments.numbers[i])
                                                           : arguments.texts[i].size());
    }
    return length;
}

std::size_t SatFunction::largestForm() const {
    return ENCODING_FACTOR * requestLimit + FIELD_NAMES_ROOM;
}

std::string SatFunction::newCode(const Arguments& arguments) const {
    return call == changeCode ? arguments.texts[0] : "";
}

std::string SatFunction::digest(const Arguments& arguments) const {
    std::string fieldsText = exportedName;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fieldsText += '\0';
        fieldsText += fields[i].name;
        fieldsText += '=';
        fieldsText += fields[i].kind == FieldKind::NUMBER ? std::to_string(arguments.numbers[i])
                                                          : arguments.texts[i];
    }
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(fieldsText.data(), fieldsText.size(), sum, &length, EVP_sha256(), nullptr);
    std::string hex;
    char digits[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", sum[i]);
        hex += digits;
    }
    return hex;
}

const SatFunction* findSatFunction(std::string_view name) {
    for (const SatFunction& function : functions()) {
        if (name == function.name) {
            return &function;
        }
    }
    return nullptr;
}

std::size_t largestFormOfAll() {
    std::size_t largest = 0;
    for (const SatFunction& function : functions()) {
        largest = std::max(largest, function.largestForm());
    }
    return largest;
}

}  // namespace hub

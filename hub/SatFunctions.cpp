#include "SatFunctions.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "FormBody.h"
#include "commands/SatFunctionList.h"
#include "hub/ActivationCode.h"
#include "hub/HubLog.h"

namespace hub {

namespace {

// Percent-encoding writes a byte as three; the field names, "=" and "&"
// fit in the rest.
constexpr std::size_t ENCODING_FACTOR = 3;
constexpr std::size_t FIELD_NAMES_ROOM = 1024;

constexpr std::size_t LONGEST_CODE = 32;
constexpr unsigned long USHORT_MAX = 65535;
constexpr unsigned long LARGEST_SESSION = 999999;
constexpr char CODE_CHANGED[] = "18000";

// A code change proves itself with the current code (opcao 1) or with the
// emergency code the till gives (opcao 2); the new code is given once and
// sent twice, as the library's new code and its confirmation.
constexpr char OPTION[] = "opcao";
constexpr unsigned long REGULAR_OPTION = 1;
constexpr unsigned long EMERGENCY_OPTION = 2;
constexpr char EMERGENCY_CODE[] = "codigo_emergencia";
constexpr char NEW_CODE[] = "novo_codigo_ativacao";

enum Effect { CHANGES_DEVICE, QUERIES_DEVICE };
enum ArgumentKind { INT, USHORT, TEXT, CODE };

struct ListedArgument {
    ArgumentKind kind;
    const char* field;
};

// What the hub asks of a field beyond its kind in the library.
FormField formField(const ListedArgument& argument) {
    const std::string name = argument.field;
    if (name == OPTION) {
        return {name, FieldKind::NUMBER, REGULAR_OPTION, EMERGENCY_OPTION, false};
    }
    if (name == NEW_CODE) {
        return {name, FieldKind::CODE, 0, 0, false};
    }
    switch (argument.kind) {
    case INT:
        return {name, FieldKind::NUMBER, 0, LARGEST_SESSION, false};
    case USHORT:
        return {name, FieldKind::NUMBER, 0, USHORT_MAX, false};
    case TEXT:
    case CODE:
        break;
    }
    return {name, FieldKind::TEXT, 0, 0, false};
}

// The form fields of the library's arguments in order, each once; the
// activation code is the hub's own.
std::vector<FormField> formFields(std::initializer_list<ListedArgument> arguments) {
    std::vector<FormField> fields;
    for (const ListedArgument& argument : arguments) {
        const bool seen = std::any_of(fields.begin(), fields.end(), [&](const FormField& field) {
            return field.name == argument.field;
        });
        if (argument.kind != CODE && !seen) {
            fields.push_back(formField(argument));
        }
        if (argument.field == std::string(OPTION)) {
            fields.push_back({EMERGENCY_CODE, FieldKind::CODE, 0, 0, true});
        }
    }
    return fields;
}

bool isCode(const std::string& text) {
    return !text.empty() && text.size() <= LONGEST_CODE &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= ' ' && c <= '~' && c != '|'; });
}

// The code a call proves itself with.
std::string proofOf(const Arguments& arguments, const std::string& current) {
    return arguments.number(OPTION) == EMERGENCY_OPTION ? arguments.text(EMERGENCY_CODE) : current;
}

// Once the device took a new code, the hub keeps it.
void keepNewCode(const char* reply, const Arguments& arguments, ActivationCode& code) {
    const auto fresh = arguments.texts.find(NEW_CODE);
    if (fresh != arguments.texts.end() && CodigoErro() == 0 &&
        replyField(reply, 1) == CODE_CHANGED && !code.replace(fresh->second)) {
        logLine(
            "the new activation code could not be kept in the state directory: it is used "
            "until the hub stops, then the configured code again");
    }
}

// An argument, as the library takes it and as its format measures it.
#define HUB_LISTED_ARGUMENT(kind, parameter, field) ListedArgument{kind, field},
#define HUB_ARGUMENT(kind, parameter, field) , HUB_ARGUMENT_##kind(field)
#define HUB_ARGUMENT_INT(field) static_cast<int>(arguments.number(field))
#define HUB_ARGUMENT_USHORT(field) static_cast<SATVARO_USHORT>(arguments.number(field))
#define HUB_ARGUMENT_TEXT(field) arguments.text(field)
#define HUB_ARGUMENT_CODE(field) proof.c_str()
#define HUB_MEASURED(kind, parameter, field) , HUB_MEASURED_##kind(field)
#define HUB_MEASURED_INT(field) HUB_ARGUMENT_INT(field)
#define HUB_MEASURED_USHORT(field) static_cast<int>(arguments.number(field))
#define HUB_MEASURED_TEXT(field) HUB_ARGUMENT_TEXT(field)
#define HUB_MEASURED_CODE(field) proof.c_str()

// clang-format off
#define HUB_FUNCTION(name, constant, format, rework, path, effect, wrapper)                       \
    SatFunction{path, #name, effect == CHANGES_DEVICE, SATVARO_MAX_REQUEST_##name,                 \
        formFields({SATVARO_ARGUMENTS_##name(HUB_LISTED_ARGUMENT)}),                               \
        [](int session, [[maybe_unused]] const Arguments& arguments,                               \
           [[maybe_unused]] ActivationCode& code) -> const char* {                                 \
            [[maybe_unused]] const std::string proof = proofOf(arguments, code.current());        \
            const char* const reply = name(session SATVARO_ARGUMENTS_##name(HUB_ARGUMENT));        \
            keepNewCode(reply, arguments, code);                                                   \
            return reply;                                                                          \
        },                                                                                         \
        [](const Arguments& arguments, const std::string& current) {                               \
            [[maybe_unused]] const std::string proof = proofOf(arguments, current);               \
            return static_cast<std::size_t>(                                                       \
                std::snprintf(nullptr, 0, format, 0 SATVARO_ARGUMENTS_##name(HUB_MEASURED)));       \
        }},
// clang-format on

const std::vector<SatFunction>& functions() {
    static const std::vector<SatFunction> table = {SATVARO_EXPORTED_COMMANDS(HUB_FUNCTION)};
    return table;
}

}  // namespace

const char* Arguments::text(std::string_view field) const {
    const auto value = texts.find(field);
    return value != texts.end() ? value->second.c_str() : "";
}

unsigned long Arguments::number(std::string_view field) const {
    const auto value = numbers.find(field);
    return value != numbers.end() ? value->second : 0;
}

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
    arguments = Arguments();
    for (const FormField& field : fields) {
        if (field.kind == FieldKind::NUMBER) {
            if (!readNumber(form, field.name.c_str(), field.lowest, field.highest,
                            arguments.numbers[field.name], problem)) {
                return false;
            }
            continue;
        }
        const std::string* const value = form.find(field.name);
        if (value == nullptr && field.optional) {
            continue;
        }
        if (value == nullptr) {
            problem = field.name + ": missing";
            return false;
        }
        if (field.kind == FieldKind::CODE && !isCode(*value)) {
            problem =
                field.name + ": not an activation code (1 to 32 printable characters, no \"|\")";
            return false;
        }
        arguments.texts[field.name] = *value;
    }
    if (arguments.number(OPTION) == EMERGENCY_OPTION &&
        arguments.texts.count(EMERGENCY_CODE) == 0) {
        problem = std::string(EMERGENCY_CODE) + ": missing, and needed with opcao 2";
        return false;
    }
    return true;
}

std::size_t SatFunction::largestForm() const {
    return ENCODING_FACTOR * requestLimit + FIELD_NAMES_ROOM;
}

std::string SatFunction::newCode(const Arguments& arguments) const {
    return arguments.text(NEW_CODE);
}

std::string SatFunction::digest(const Arguments& arguments) const {
    std::string fieldsText = exportedName;
    for (const FormField& field : fields) {
        fieldsText += '\0';
        fieldsText += field.name;
        fieldsText += '=';
        fieldsText += field.kind == FieldKind::NUMBER ? std::to_string(arguments.number(field.name))
                                                      : arguments.text(field.name);
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

}  // namespace hub

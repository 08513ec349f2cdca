// The SAT functions the hub serves, made from the driver's list of them
// (commands/SatFunctionList.h): each under its path's name, with the form
// fields it takes besides numero_caixa, whether it changes the device, the
// library's limit for its request, and its call of the library.
#ifndef SATVARO_HUB_SATFUNCTIONS_H
#define SATVARO_HUB_SATFUNCTIONS_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "satvaro.h"

namespace hub {

class ActivationCode;
class FormBody;

enum class FieldKind {
    TEXT,    // passed on as it is
    NUMBER,  // decimal digits, within [lowest, highest]
    CODE,    // an activation code: 1 to 32 printable ASCII characters, no "|"
};

struct FormField {
    std::string name;
    FieldKind kind;
    unsigned long lowest;
    unsigned long highest;
    bool optional;  // needed only with some values of other fields
};

// A request's fields by name; an optional field the form leaves out is absent.
struct Arguments {
    std::map<std::string, std::string, std::less<>> texts;
    std::map<std::string, unsigned long, std::less<>> numbers;

    const char* text(std::string_view field) const;
    unsigned long number(std::string_view field) const;  // 0 when absent
};

struct SatFunction {
    const char* name;
    const char* exportedName;
    bool changesDevice;
    std::size_t requestLimit;
    std::vector<FormField> fields;
    // Calls the library; the reply is the library's own buffer. Runs in the
    // device's turn.
    const char* (*call)(int session, const Arguments& arguments, ActivationCode& code);
    // The length of the request body the library makes of these arguments
    // and `code` (it refuses one longer than requestLimit).
    std::size_t (*requestLength)(const Arguments& arguments, const std::string& code);

    // Reads the fields from `form`; false with `problem` naming the field and
    // saying what is wrong.
    bool read(const FormBody& form, Arguments& arguments, std::string& problem) const;

    // The longest form body worth reading for this function: every byte of
    // the largest request it takes percent-encoded, plus the field names.
    std::size_t largestForm() const;

    // The activation code the call would make the device's; empty for a
    // function that changes none.
    std::string newCode(const Arguments& arguments) const;

    // A digest (SHA-256, in hexadecimal) of the fields' names and values:
    // equal for equal requests.
    std::string digest(const Arguments& arguments) const;
};

// The function served under `name`; null when there is none.
const SatFunction* findSatFunction(std::string_view name);

// Field `index` ("|"-separated) of a reply; empty when it has none.
std::string replyField(std::string_view reply, int index);

// Reads a number field: false with `problem` set when it is missing, not
// made of decimal digits, or outside [lowest, highest].
bool readNumber(const FormBody& form, const char* name, unsigned long lowest, unsigned long highest,
                unsigned long& number, std::string& problem);

}  // namespace hub

#endif

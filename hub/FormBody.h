// The fields of an application/x-www-form-urlencoded request body, decoded:
// "name=value" parts joined by "&", "+" standing for a space and "%XX" for
// the byte XX.
#ifndef SATVARO_HUB_FORMBODY_H
#define SATVARO_HUB_FORMBODY_H

#include <map>
#include <string>
#include <string_view>

namespace hub {

class FormBody {
public:
    // Reads `body`; false, with `error` saying what is wrong, when it is not a
    // well-formed form: a "%" without two hexadecimal digits after it, a part
    // without "=", an empty name, a name given twice. Empty parts ("a=1&&b=2",
    // a trailing "&") are skipped.
    bool parse(std::string_view body, std::string& error);

    // The field's value; null when the form does not have the field.
    const std::string* find(const std::string& name) const;

    // The name of the first field whose value holds `byte`; null when none does.
    const std::string* fieldHolding(char byte) const;

private:
    std::map<std::string, std::string, std::less<>> m_fields;
};

// The value of a hexadecimal digit; -1 for any other character.
int hexDigitValue(char digit);

}  // namespace hub

#endif

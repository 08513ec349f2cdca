#include "FormBody.h"

namespace hub {

namespace {

bool decode(std::string_view text, std::string& decoded) {
    decoded.clear();
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            const int high = i + 2 < text.size() ? hexDigitValue(text[i + 1]) : -1;
            const int low = high < 0 ? -1 : hexDigitValue(text[i + 2]);
            if (low < 0) {
                return false;
            }
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return true;
}

}  // namespace

int hexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

bool FormBody::parse(std::string_view body, std::string& error) {
    m_fields.clear();
    while (!body.empty()) {
        const std::string_view part = body.substr(0, body.find('&'));
        body.remove_prefix(part.size() < body.size() ? part.size() + 1 : part.size());
        if (part.empty()) {
            continue;
        }
        const std::string_view::size_type equals = part.find('=');
        std::string name;
        std::string value;
        if (equals == std::string_view::npos || equals == 0) {
            error = "malformed form: a part without a name and \"=\"";
            return false;
        }
        if (!decode(part.substr(0, equals), name) || !decode(part.substr(equals + 1), value)) {
            error = "malformed form: \"%\" must be followed by two hexadecimal digits";
            return false;
        }
        if (!m_fields.emplace(name, std::move(value)).second) {
            error = "malformed form: " + name + " given twice";
            return false;
        }
    }
    return true;
}

const std::string* FormBody::find(const std::string& name) const {
    const auto field = m_fields.find(name);
    return field == m_fields.end() ? nullptr : &field->second;
}

const std::string* FormBody::fieldHolding(char byte) const {
    for (const auto& [name, value] : m_fields) {
        if (value.find(byte) != std::string::npos) {
            return &name;
        }
    }
    return nullptr;
}

}  // namespace hub

#include "HttpExchange.h"

#include <microhttpd.h>

#include <algorithm>

#include "FormBody.h"

namespace hub {

namespace {

bool unreserved(int byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

std::string pathOf(const std::string& target) {
    const std::string raw = target.substr(0, target.find('?'));
    std::string path;
    path.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const int high = raw[i] == '%' && i + 2 < raw.size() ? hexDigitValue(raw[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexDigitValue(raw[i + 2]);
        if (low >= 0 && unreserved(high * 16 + low)) {
            path += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            path += raw[i];
        }
    }
    return path;
}

HttpExchange::HttpExchange(MHD_Connection* connection, std::string target, std::string address)
    : m_connection(connection),
      m_target(std::move(target)),
      m_path(pathOf(m_target)),
      m_address(std::move(address)) {}

std::string HttpExchange::header(const char* name) const {
    const char* const value = MHD_lookup_connection_value(m_connection, MHD_HEADER_KIND, name);
    return value != nullptr ? value : "";
}

void HttpExchange::answer(HttpAnswer answer) {
    m_answer = std::move(answer);
    m_answered = true;
}

void HttpExchange::take(const char* bytes, std::size_t length) {
    const std::size_t room = m_bodyLimit - m_body.size();
    m_bodyCut = m_bodyCut || length > room;
    m_body.append(bytes, std::min(length, room));
}

}  // namespace hub

#include "sim/Cfe.h"

#include <cstdint>

#include "commands/Base64.h"

namespace satsim {

namespace {

const char* const MODEL = "59";

// Positions of the fields inside the 44 digits of a key.
const size_t KEY_UF = 0, KEY_CNPJ = 6, KEY_SERIAL = 22, KEY_NUMBER = 31, KEY_CODE = 37,
             KEY_CHECK = 43;

bool endsName(char c) {
    return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Finds element `name` inside xml[from, to); its text is [begin, end).
bool findElement(const std::string& xml, const std::string& name, size_t from, size_t to,
                 size_t& begin, size_t& end) {
    const std::string open = "<" + name;
    for (size_t at = xml.find(open, from); at != std::string::npos && at < to;
         at = xml.find(open, at + 1)) {
        size_t after = at + open.size();
        if (after >= to || !endsName(xml[after]))
            continue;
        size_t close = xml.find('>', after);
        if (close == std::string::npos || close >= to)
            return false;
        if (xml[close - 1] == '/') {
            begin = end = close + 1;
            return true;
        }
        begin = close + 1;
        end = xml.find("</" + name + ">", begin);
        return end != std::string::npos && end <= to;
    }
    return false;
}

std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + text + "</" + name + ">";
}

}  // namespace

int mod11CheckDigit(const std::string& digits) {
    int sum = 0;
    int weight = 2;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    int digit = 11 - sum % 11;
    return digit >= 10 ? 0 : digit;
}

std::string accessKeyDigits(const KeyParts& parts) {
    std::string digits =
        parts.uf + parts.yearMonth + parts.cnpj + MODEL + parts.serial + parts.number + parts.code;
    return digits + std::to_string(mod11CheckDigit(digits));
}

std::string xmlText(const std::string& xml, const std::string& path) {
    size_t from = 0, to = xml.size(), begin = 0, end = 0;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        std::string name =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!findElement(xml, name, from, to, begin, end))
            return std::string();
        from = begin;
        to = end;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return xml.substr(begin, end - begin);
}

bool isDigits(const std::string& text, size_t count) {
    if (text.size() != count)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string cfeXml(const CfeFacts& facts) {
    const std::string& key = facts.keyDigits;
    std::string root = facts.cancellation ? "CFeCanc" : "CFe";
    std::string id = " Id=\"CFe" + key + "\"";
    if (facts.cancellation)
        id += " chCanc=\"CFe" + facts.cancelledKeyDigits + "\"";
    std::string buyer;
    if (facts.buyer.size() == 11)
        buyer = element("CPF", facts.buyer);
    else if (!facts.buyer.empty())
        buyer = element("CNPJ", facts.buyer);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root + "><infCFe" + id +
           " versao=\"0.08\" versaoDadosEnt=\"0.08\" versaoSB=\"010000\"><ide>" +
           element("cUF", key.substr(KEY_UF, 2)) + element("cNF", key.substr(KEY_CODE, 6)) +
           element("mod", MODEL) + element("nserieSAT", key.substr(KEY_SERIAL, 9)) +
           element("nCFe", key.substr(KEY_NUMBER, 6)) + element("dEmi", facts.issued.substr(0, 8)) +
           element("hEmi", facts.issued.substr(8, 6)) + element("cDV", key.substr(KEY_CHECK, 1)) +
           "</ide>" + element("emit", element("CNPJ", key.substr(KEY_CNPJ, 14))) +
           element("dest", buyer) + element("total", element("vCFe", facts.total)) + "</infCFe></" +
           root + ">";
}

std::string qrSignature(const std::string& keyDigits) {
    std::uint64_t state = 1469598103934665603ULL;  // FNV-1a of the key seeds xorshift
    for (char c : keyDigits)
        state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes += static_cast<char>(state & 0xFF);
    }
    return Base64::encode(bytes);
}

}  // namespace satsim

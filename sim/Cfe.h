// The fiscal documents the device issues: access keys with their mod-11
// check digit, the few fields read from a sale document, and the CF-e XML
// handed back in Base64.
#ifndef SATVARO_SIM_CFE_H
#define SATVARO_SIM_CFE_H

#include <string>

namespace satsim {

// The parts of an access key, each already of its width in digits.
struct KeyParts {
    std::string uf;         // cUF, 2
    std::string yearMonth;  // AAMM, 4
    std::string cnpj;       // 14
    std::string serial;     // device serial, 9
    std::string number;     // nCF, 6
    std::string code;       // cNF, 6
};

// Mod-11 check digit of a string of digits: weights 2..9 from the right,
// 11 - (sum mod 11), and 0 where that gives 10 or 11.
int mod11CheckDigit(const std::string& digits);

// The 44 digits: cUF, AAMM, CNPJ, model "59", serial, nCF, cNF, check digit.
std::string accessKeyDigits(const KeyParts& parts);

// Text of the element at `path` ("emit/CNPJ": the CNPJ inside emit), or ""
// when absent. Attributes are allowed; nesting of the same name is not.
std::string xmlText(const std::string& xml, const std::string& path);

// True when `text` is exactly `count` decimal digits.
bool isDigits(const std::string& text, size_t count);

// What an issued CF-e carries.
struct CfeFacts {
    std::string keyDigits;
    std::string issued;  // YYYYMMDDhhmmss
    std::string buyer;   // CPF or CNPJ, may be empty
    std::string total;
    bool cancellation = false;
    std::string cancelledKeyDigits;  // for a cancellation
};

std::string cfeXml(const CfeFacts& facts);

// A QR-code signature stand-in: 256 bytes derived from the key, in Base64.
std::string qrSignature(const std::string& keyDigits);

}  // namespace satsim

#endif

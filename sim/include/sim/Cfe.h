// The fiscal documents the device issues: access keys with their mod-11
// check digit, the authorised CF-e of a sale (the sale document completed
// with what the device computes and adds, signed) and the CF-e of its
// cancellation.
#ifndef SATVARO_SIM_CFE_H
#define SATVARO_SIM_CFE_H

#include <string>

#include "sim/SaleDocument.h"
#include "sim/XmlNode.h"

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

// True when `text` is exactly `count` decimal digits.
bool isDigits(const std::string& text, size_t count);

// What the device keeps of a CF-e it issued.
struct IssuedCfe {
    std::string keyDigits;
    std::string issued;         // YYYYMMDDhhmmss
    std::string total;          // vCFe
    std::string buyer;          // CPF or CNPJ, "" for an anonymous buyer
    std::string softwareHouse;  // ide/CNPJ
    std::string signAC;
    std::string cashRegister;       // numeroCaixa
    std::string stateRegistration;  // emit/IE
    std::string qrSignature;        // assinaturaQRCODE
    bool cancelled = false;
};

// What the QR code of a CF-e encodes, and assinaturaQRCODE signs:
// "key|AAAAMMDDHHMMSS|vCFe|buyer's CPF or CNPJ, or nothing|signAC".
std::string qrCodeData(const IssuedCfe& cfe);

// The signed CF-e of a sale, under the key and time already in `cfe`, whose
// other fields it fills in. A test's CF-e (TesteFimAFim) is marked by
// tpAmb 2. A compact one echoes of each item only its product's identity
// and values: for sales whose whole CF-e would outgrow a reply.
std::string saleCfe(const SaleDocument& sale, bool test, bool compact, IssuedCfe& cfe);

// The signed CF-e cancelling `sale`, under the key and time already in
// `cancellation`; the cancellation document's ide (CNPJ, signAC,
// numeroCaixa) replaces the sale's where it gives them.
std::string cancellationCfe(const IssuedCfe& sale, const XmlNode& request, IssuedCfe& cancellation);

}  // namespace satsim

#endif

#include "sim/Cfe.h"

#include <utility>

#include "CfeSigner.h"

namespace satsim {

namespace {

const char* const MODEL = "59";
const char* const LAYOUT_VERSION = "0.08";
const char* const BASIC_SOFTWARE_VERSION = "010000";
const char* const PRODUCTION = "1";
const char* const TESTING = "2";

// Positions of the fields inside the 44 digits of a key.
const size_t KEY_UF = 0, KEY_CNPJ = 6, KEY_SERIAL = 22, KEY_NUMBER = 31, KEY_CODE = 37,
             KEY_CHECK = 43;

// The taxpayer the simulator plays, whatever CNPJ it was activated for: a
// test company at no real address. Its state registration is the sale's
// when the sale gives one.
const char* const TAXPAYER_NAME = "CONTRIBUINTE DE TESTE LTDA";
const char* const TAXPAYER_TRADE_NAME = "LOJA DE TESTE";
const std::pair<const char*, const char*> TAXPAYER_ADDRESS[] = {{"xLgr", "RUA DOS TESTES"},
                                                                {"nro", "100"},
                                                                {"xBairro", "CENTRO"},
                                                                {"xMun", "SAO PAULO"},
                                                                {"CEP", "01001000"}};
const char* const TAXPAYER_STATE_REGISTRATION = "111111111111";
const char* const TAX_REGIME = "3";  // cRegTrib: the normal regime

// Fields of a product that the device computes, whatever the sale says.
bool computedByDevice(const std::string& name) {
    return name == "vProd" || name == "vItem" || name == "vRatDesc" || name == "vRatAcr";
}

bool keptWhenCompact(const std::string& name) {
    for (const char* kept :
         {"cProd", "xProd", "uCom", "qCom", "vUnCom", "indRegra", "vDesc", "vOutro"})
        if (name == kept)
            return true;
    return false;
}

std::string givenOr(const std::string& given, const std::string& fallback) {
    return given.empty() ? fallback : given;
}

XmlNode identification(const IssuedCfe& cfe, const char* environment) {
    const std::string& key = cfe.keyDigits;
    XmlNode ide("ide");
    ide.add("cUF", key.substr(KEY_UF, 2));
    ide.add("cNF", key.substr(KEY_CODE, 6));
    ide.add("mod", MODEL);
    ide.add("nserieSAT", key.substr(KEY_SERIAL, 9));
    ide.add("nCFe", key.substr(KEY_NUMBER, 6));
    ide.add("dEmi", cfe.issued.substr(0, 8));
    ide.add("hEmi", cfe.issued.substr(8, 6));
    ide.add("cDV", key.substr(KEY_CHECK, 1));
    ide.add("tpAmb", environment);
    ide.add("CNPJ", cfe.softwareHouse);
    ide.add("signAC", cfe.signAC);
    ide.add("assinaturaQRCODE", cfe.qrSignature);
    ide.add("numeroCaixa", cfe.cashRegister);
    return ide;
}

// The taxpayer; a sale's CF-e also carries what the sale gives of its
// registrations and regimes.
XmlNode issuer(const IssuedCfe& cfe, const XmlNode* given) {
    XmlNode emit("emit");
    emit.add("CNPJ", cfe.keyDigits.substr(KEY_CNPJ, 14));
    emit.add("xNome", TAXPAYER_NAME);
    emit.add("xFant", TAXPAYER_TRADE_NAME);
    XmlNode& address = emit.add(XmlNode("enderEmit"));
    for (const auto& field : TAXPAYER_ADDRESS)
        address.add(field.first, field.second);
    emit.add("IE", cfe.stateRegistration);
    if (given == nullptr)
        return emit;
    if (const XmlNode* municipal = given->child("IM"))
        emit.add(*municipal);
    emit.add("cRegTrib", TAX_REGIME);
    if (const XmlNode* regime = given->child("cRegTribISSQN"))
        emit.add(*regime);
    emit.add("indRatISSQN", givenOr(given->textAt("indRatISSQN"), "N"));
    return emit;
}

XmlNode buyerOf(const std::string& buyer) {
    XmlNode dest("dest");
    if (!buyer.empty())
        dest.add(buyer.size() == 11 ? "CPF" : "CNPJ", buyer);
    return dest;
}

// vProd right after vUnCom; vItem and the item's share of a sub-total
// adjustment after the values the sale gives, before the tax office's notes.
XmlNode product(const SaleDocument& sale, const SaleDocument::Item& item, bool compact) {
    static const XmlNode none;
    const XmlNode* given = item.det->child("prod");
    XmlNode prod("prod");
    bool valuesWritten = false;
    auto writeValues = [&]() {
        prod.add("vItem", item.vItem.text());
        if (sale.info().find("total/DescAcrEntr/vDescSubtot") != nullptr)
            prod.add("vRatDesc", item.vRatDesc.text());
        if (sale.info().find("total/DescAcrEntr/vAcresSubtot") != nullptr)
            prod.add("vRatAcr", item.vRatAcr.text());
        valuesWritten = true;
    };
    for (const XmlNode& field : (given != nullptr ? *given : none).children) {
        if (computedByDevice(field.name) || (compact && !keptWhenCompact(field.name)))
            continue;
        if (field.name == "obsFiscoDet" && !valuesWritten)
            writeValues();
        prod.add(field);
        if (field.name == "vUnCom")
            prod.add("vProd", item.vProd.text());
    }
    if (!valuesWritten)
        writeValues();
    return prod;
}

// A copy of `given` where each taxed group ends with its computed value.
XmlNode withTaxValues(const XmlNode& given, const std::vector<SaleDocument::TaxValue>& taxes) {
    XmlNode copy(given.name, given.text);
    copy.attributes = given.attributes;
    const SaleDocument::TaxValue* computed = nullptr;
    for (const auto& tax : taxes)
        if (tax.group == &given)
            computed = &tax;
    for (const XmlNode& child : given.children)
        if (computed == nullptr || child.name != computed->name)
            copy.add(withTaxValues(child, taxes));
    if (computed != nullptr)
        copy.add(computed->name, computed->value.text());
    return copy;
}

XmlNode itemOf(const SaleDocument& sale, std::size_t index, bool compact) {
    const SaleDocument::Item& item = sale.items()[index];
    XmlNode det("det");
    det.attributes.emplace_back("nItem",
                                givenOr(item.det->attribute("nItem"), std::to_string(index + 1)));
    det.add(product(sale, item, compact));
    for (const XmlNode& part : item.det->children) {
        if (part.name != "prod" && !compact)
            det.add(part.name == "imposto" ? withTaxValues(part, item.taxes) : part);
    }
    return det;
}

XmlNode totals(const SaleDocument& sale) {
    XmlNode total("total");
    XmlNode& icms = total.add(XmlNode("ICMSTot"));
    for (const char* name :
         {"vICMS", "vProd", "vDesc", "vPIS", "vCOFINS", "vPISST", "vCOFINSST", "vOutro"})
        icms.add(name, sale.sum(name).text());
    total.add("vCFe", sale.total().text());
    if (const XmlNode* adjustment = sale.info().find("total/DescAcrEntr"))
        total.add(*adjustment);
    if (!sale.taxBurden().empty())
        total.add("vCFeLei12741", sale.taxBurden());
    return total;
}

XmlNode payment(const SaleDocument& sale) {
    XmlNode pgto("pgto");
    if (const XmlNode* given = sale.info().child("pgto")) {
        for (const XmlNode& entry : given->children)
            if (entry.name == "MP")
                pgto.add(entry);
    }
    Amount change = sale.paid() - sale.total();
    pgto.add("vTroco", (change.isNegative() ? Amount() : change).text());
    return pgto;
}

std::string signedDocument(const char* root, const XmlNode& info) {
    XmlNode document(root);
    document.add(info);
    document.add(CfeSigner::simulator().signatureOf(info));
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + document.canonical();
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

bool isDigits(const std::string& text, size_t count) {
    if (text.size() != count)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string qrCodeData(const IssuedCfe& cfe) {
    return cfe.keyDigits + "|" + cfe.issued + "|" + cfe.total + "|" + cfe.buyer + "|" + cfe.signAC;
}

std::string saleCfe(const SaleDocument& sale, bool test, bool compact, IssuedCfe& cfe) {
    const XmlNode& given = sale.info();
    cfe.total = sale.total().text();
    cfe.buyer = sale.buyer();
    cfe.softwareHouse = given.textAt("ide/CNPJ");
    cfe.signAC = given.textAt("ide/signAC");
    cfe.cashRegister = given.textAt("ide/numeroCaixa");
    cfe.stateRegistration = givenOr(given.textAt("emit/IE"), TAXPAYER_STATE_REGISTRATION);
    cfe.qrSignature = CfeSigner::simulator().signBase64(qrCodeData(cfe));

    XmlNode info("infCFe");
    info.attributes = {
        {"Id", "CFe" + cfe.keyDigits},
        {"versao", LAYOUT_VERSION},
        {"versaoDadosEnt", givenOr(given.attribute("versaoDadosEnt"), LAYOUT_VERSION)},
        {"versaoSB", BASIC_SOFTWARE_VERSION}};
    info.add(identification(cfe, test ? TESTING : PRODUCTION));
    info.add(issuer(cfe, given.child("emit")));
    const XmlNode* dest = given.child("dest");
    info.add(dest != nullptr ? *dest : XmlNode("dest"));
    if (const XmlNode* delivery = given.child("entrega"))
        info.add(*delivery);
    for (std::size_t i = 0; i < sale.items().size(); ++i)
        info.add(itemOf(sale, i, compact));
    info.add(totals(sale));
    info.add(payment(sale));
    if (const XmlNode* notes = given.child("infAdic"))
        info.add(*notes);
    return signedDocument("CFe", info);
}

// The cancellation names the sale (chCanc) and carries its emission time
// (dEmi, hEmi before ide) and total; ide has the cancellation's own.
std::string cancellationCfe(const IssuedCfe& sale, const XmlNode& request,
                            IssuedCfe& cancellation) {
    cancellation.total = sale.total;
    cancellation.buyer = sale.buyer;
    cancellation.stateRegistration = sale.stateRegistration;
    cancellation.softwareHouse = givenOr(request.textAt("ide/CNPJ"), sale.softwareHouse);
    cancellation.signAC = givenOr(request.textAt("ide/signAC"), sale.signAC);
    cancellation.cashRegister = givenOr(request.textAt("ide/numeroCaixa"), sale.cashRegister);
    cancellation.qrSignature = CfeSigner::simulator().signBase64(qrCodeData(cancellation));

    XmlNode info("infCFe");
    info.attributes = {{"Id", "CFe" + cancellation.keyDigits},
                       {"chCanc", "CFe" + sale.keyDigits},
                       {"versao", LAYOUT_VERSION}};
    info.add("dEmi", sale.issued.substr(0, 8));
    info.add("hEmi", sale.issued.substr(8, 6));
    info.add(identification(cancellation, PRODUCTION));
    info.add(issuer(cancellation, nullptr));
    info.add(buyerOf(sale.buyer));
    info.add(XmlNode("total")).add("vCFe", sale.total);
    return signedDocument("CFeCanc", info);
}

}  // namespace satsim

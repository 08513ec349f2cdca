// A sale document as a point-of-sale program sends it (CFe/infCFe with the
// items, payments and what the program fills in), read, with what the
// device computes from it: each item's values, the taxes the document gives
// rates for, the totals, the payment and the change.
#ifndef SATVARO_SIM_SALEDOCUMENT_H
#define SATVARO_SIM_SALEDOCUMENT_H

#include <map>
#include <string>
#include <vector>

#include "sim/Amount.h"
#include "sim/XmlNode.h"

namespace satsim {

class SaleDocument {
public:
    // A tax value computed for one tax group of an item (vICMS of its
    // ICMS00, vPIS of its PISAliq...).
    struct TaxValue {
        const XmlNode* group;
        std::string name;
        Amount value;
    };

    struct Item {
        const XmlNode* det;
        Amount vProd, vDesc, vOutro, vItem, vRatDesc, vRatAcr;
        std::vector<TaxValue> taxes;
    };

    explicit SaleDocument(const std::string& text);
    SaleDocument(const SaleDocument&) = delete;
    SaleDocument& operator=(const SaleDocument&) = delete;

    // False when the text is not well-formed XML.
    bool readable() const { return m_readable; }
    // infCFe (an empty element when the document has none).
    const XmlNode& info() const { return m_info ? *m_info : m_empty; }
    const std::vector<Item>& items() const { return m_items; }

    // The first value the device could not compute with, with the field it
    // came from ("det[2]/prod/qCom não é um número"); "" when none.
    const std::string& valueProblem() const { return m_problem; }

    // Sums over the items: vProd, vDesc, vOutro, vICMS, vPIS, vCOFINS,
    // vPISST, vCOFINSST.
    Amount sum(const std::string& name) const;
    Amount total() const { return m_total; }  // vCFe
    Amount paid() const { return m_paid; }
    // vCFeLei12741 as the document gives it, or summed from its items'
    // vItem12741; "" when neither gives it.
    const std::string& taxBurden() const { return m_taxBurden; }
    // The buyer's CPF or CNPJ, "" for an anonymous one.
    std::string buyer() const;

private:
    bool amount(const XmlNode& node, const std::string& path, const std::string& field,
                Amount& value);
    void computeItem(const XmlNode& det, std::size_t position);
    void computeTaxes(Item& item, const std::string& field);
    void spreadSubtotalAdjustment();
    void sumTaxBurden();
    void computePayment();

    XmlNode m_root;
    const XmlNode* m_info = nullptr;
    XmlNode m_empty;
    bool m_readable;
    std::vector<Item> m_items;
    std::map<std::string, Amount> m_sums;
    Amount m_total, m_paid;
    std::string m_taxBurden;
    std::string m_problem;
};

}  // namespace satsim

#endif

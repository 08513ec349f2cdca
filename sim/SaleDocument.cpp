#include "sim/SaleDocument.h"

namespace satsim {

namespace {

// Values a CF-e writes have at most 13 digits before the point.
const int VALUE_DIGITS = 13;

// The taxes computed from a base and a rate (or a quantity and a value per
// unit): the element under imposto, whether it holds its group in a child
// of its own (PIS/PISAliq) or is the group (PISST), the names of the rate
// and of the value computed, and the name of its total in ICMSTot.
struct TaxKind {
    const char* tax;
    bool grouped;
    const char* rate;
    const char* value;
    const char* total;
};

const TaxKind CONTRIBUTIONS[] = {
    {"PIS", true, "pPIS", "vPIS", "vPIS"},
    {"PISST", false, "pPIS", "vPIS", "vPISST"},
    {"COFINS", true, "pCOFINS", "vCOFINS", "vCOFINS"},
    {"COFINSST", false, "pCOFINS", "vCOFINS", "vCOFINSST"},
};

const XmlNode* firstChild(const XmlNode* node) {
    return node != nullptr && !node->children.empty() ? &node->children.front() : nullptr;
}

}  // namespace

SaleDocument::SaleDocument(const std::string& text) : m_readable(XmlNode::parse(text, m_root)) {
    m_info = m_readable ? m_root.child("infCFe") : nullptr;
    std::size_t position = 0;
    for (const XmlNode& node : info().children)
        if (node.name == "det")
            computeItem(node, ++position);
    spreadSubtotalAdjustment();
    for (std::size_t i = 0; i < m_items.size(); ++i)
        computeTaxes(m_items[i], "det[" + std::to_string(i + 1) + "]/imposto/");
    sumTaxBurden();
    computePayment();
}

Amount SaleDocument::sum(const std::string& name) const {
    auto found = m_sums.find(name);
    return found != m_sums.end() ? found->second : Amount();
}

std::string SaleDocument::buyer() const {
    std::string cpf = info().textAt("dest/CPF");
    return cpf.empty() ? info().textAt("dest/CNPJ") : cpf;
}

// An absent value counts as zero (false); one that is not a number counts as
// zero and is the document's problem, unless an earlier one is.
bool SaleDocument::amount(const XmlNode& node, const std::string& path, const std::string& field,
                          Amount& value) {
    value = Amount();
    const XmlNode* element = node.find(path);
    if (element == nullptr)
        return false;
    if (!Amount::parse(element->text, value) && m_problem.empty())
        m_problem = field + " não é um número";
    return true;
}

// vProd = qCom x vUnCom, rounded to cents (truncated where indRegra is T);
// vItem = vProd - vDesc + vOutro.
void SaleDocument::computeItem(const XmlNode& det, std::size_t position) {
    const std::string field = "det[" + std::to_string(position) + "]/prod/";
    Item item{&det, {}, {}, {}, {}, {}, {}, {}};
    Amount quantity, unitValue;
    for (const char* required : {"qCom", "vUnCom"}) {
        if (!amount(det, std::string("prod/") + required, field + required,
                    required[0] == 'q' ? quantity : unitValue) &&
            m_problem.empty())
            m_problem = field + required + " ausente";
    }
    item.vProd = quantity.timesToCents(unitValue, det.textAt("prod/indRegra") == "T");
    amount(det, "prod/vDesc", field + "vDesc", item.vDesc);
    amount(det, "prod/vOutro", field + "vOutro", item.vOutro);
    // Out of range values are set aside, so that no sum can overflow.
    if (!item.vProd.fits(VALUE_DIGITS) || !item.vOutro.fits(VALUE_DIGITS)) {
        if (m_problem.empty())
            m_problem = field + "vProd fora da faixa de valores";
        item.vProd = item.vOutro = Amount();
    }
    item.vItem = item.vProd - item.vDesc + item.vOutro;
    if (item.vItem.isNegative() && m_problem.empty())
        m_problem = field + "vDesc maior que o valor do item";
    m_sums["vProd"] += item.vProd;
    m_sums["vDesc"] += item.vDesc;
    m_sums["vOutro"] += item.vOutro;
    m_items.push_back(item);
}

// A discount or increase on the sub-total changes vCFe and is spread over
// the items in proportion to their values (vRatDesc, vRatAcr).
void SaleDocument::spreadSubtotalAdjustment() {
    const std::string adjustment = "total/DescAcrEntr/";
    Amount discount, increase, items;
    amount(info(), adjustment + "vDescSubtot", adjustment + "vDescSubtot", discount);
    amount(info(), adjustment + "vAcresSubtot", adjustment + "vAcresSubtot", increase);
    std::vector<Amount> weights;
    for (const Item& item : m_items) {
        items += item.vItem;
        weights.push_back(item.vItem.isNegative() ? Amount() : item.vItem);
    }
    m_total = items - discount + increase;
    if (m_total.isNegative() && m_problem.empty())
        m_problem = adjustment + "vDescSubtot maior que o total dos itens";
    std::vector<Amount> discounts = discount.spread(weights);
    std::vector<Amount> increases = increase.spread(weights);
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        m_items[i].vRatDesc = discounts[i];
        m_items[i].vRatAcr = increases[i];
    }
}

// ICMS at its rate in percent over the item's share of the total;
// contributions at their rate over the base the document gives, or at their
// value per unit over the quantity it gives.
void SaleDocument::computeTaxes(Item& item, const std::string& field) {
    const XmlNode* taxes = item.det->child("imposto");
    if (taxes == nullptr)
        return;
    Amount rate, base, quantity;
    if (const XmlNode* icms = firstChild(taxes->child("ICMS"))) {
        if (amount(*icms, "pICMS", field + "ICMS/" + icms->name + "/pICMS", rate)) {
            Amount value = (item.vItem - item.vRatDesc + item.vRatAcr).percentToCents(rate);
            item.taxes.push_back({icms, "vICMS", value});
            m_sums["vICMS"] += value;
        }
    }
    for (const TaxKind& kind : CONTRIBUTIONS) {
        const XmlNode* tax = taxes->child(kind.tax);
        const XmlNode* group = kind.grouped ? firstChild(tax) : tax;
        if (group == nullptr)
            continue;
        const std::string at = field + kind.tax + "/" + (kind.grouped ? group->name + "/" : "");
        Amount value;
        bool hasBase = amount(*group, "vBC", at + "vBC", base);
        if (amount(*group, kind.rate, at + kind.rate, rate) && hasBase)
            value = base.timesToCents(rate);
        else if (amount(*group, "qBCProd", at + "qBCProd", quantity) &&
                 amount(*group, "vAliqProd", at + "vAliqProd", rate))
            value = quantity.timesToCents(rate);
        else
            continue;
        item.taxes.push_back({group, kind.value, value});
        m_sums[kind.total] += value;
    }
}

void SaleDocument::sumTaxBurden() {
    m_taxBurden = info().textAt("total/vCFeLei12741");
    Amount burden, share;
    bool itemsGiveIt = false;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        std::string field = "det[" + std::to_string(i + 1) + "]/imposto/vItem12741";
        itemsGiveIt |= amount(*m_items[i].det, "imposto/vItem12741", field, share);
        burden += share;
    }
    if (m_taxBurden.empty() && itemsGiveIt)
        m_taxBurden = burden.text();
}

void SaleDocument::computePayment() {
    std::size_t position = 0;
    Amount paid;
    if (const XmlNode* payments = info().child("pgto")) {
        for (const XmlNode& payment : payments->children) {
            if (payment.name != "MP")
                continue;
            std::string field = "pgto/MP[" + std::to_string(++position) + "]/vMP";
            if (!amount(payment, "vMP", field, paid) && m_problem.empty())
                m_problem = field + " ausente";
            m_paid += paid;
        }
    }
}

}  // namespace satsim

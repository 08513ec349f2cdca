// What the console takes from a sale document (the first two CNPJ elements
// and the signAC), from the device's reply to it (the "|CFe..." key), and
// what it builds from them: the cancellation document and the end-to-end
// test document rewritten from its template.
//
// Input: sale document, NUL, reply, NUL, template (missing parts are empty).
// Every value taken is the text of an element of its source, or the value
// kept from before. The template is rewritten as it comes (anything goes, as
// long as nothing breaks) and also laid out like the shipped one, from its
// "|"-separated pieces stripped of markup: there the rewrite must put each
// markup-free value in its element and leave the rest alone.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/DadosVenda.h"

namespace {

const std::string CNPJ_OPEN = "<CNPJ>";
const std::string CNPJ_CLOSE = "</CNPJ>";
const std::string SIGN_AC_OPEN = "<signAC>";
const std::string SIGN_AC_CLOSE = "</signAC>";

// The next part of the input, up to a NUL or the end.
std::string nextPart(const std::string& input, std::size_t& at) {
    if (at > input.size()) {
        return std::string();
    }
    const std::size_t end = std::min(input.find('\0', at), input.size());
    std::string part = input.substr(at, end - at);
    at = end + 1;
    return part;
}

bool contains(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
}

bool freeOfMarkup(const std::string& text) {
    return text.find_first_of("<>") == std::string::npos;
}

void expectElementTextOrKept(const std::string& source, const std::string& open,
                             const std::string& close, const std::string& kept,
                             const std::string& value) {
    if (value != kept && (!contains(source, open + value + close) || contains(value, close))) {
        std::abort();
    }
}

// ide's CNPJ and signAC, then emit's CNPJ, around six markup-free pieces.
std::string shippedLayout(const std::vector<std::string>& pieces, const std::string& ide,
                          const std::string& signAC, const std::string& emit) {
    return pieces[0] + CNPJ_OPEN + ide + CNPJ_CLOSE + pieces[1] + SIGN_AC_OPEN + signAC +
           SIGN_AC_CLOSE + pieces[2] + CNPJ_OPEN + emit + CNPJ_CLOSE + pieces[3];
}

std::vector<std::string> markupFreePieces(std::string text) {
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == '<' || c == '>'; }),
        text.end());
    std::vector<std::string> pieces(7);
    std::size_t start = 0;
    for (std::size_t i = 0; i < pieces.size() && start <= text.size(); ++i) {
        const std::size_t end =
            i + 1 == pieces.size() ? text.size() : std::min(text.find('|', start), text.size());
        pieces[i] = text.substr(start, end - start);
        start = end + 1;
    }
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t at = 0;
    const std::string document = nextPart(input, at);
    const std::string reply = nextPart(input, at);
    const std::string model = nextPart(input, at);

    const DadosVenda before{"ide", "emit", "sign", "CFe0"};
    DadosVenda sale = before;
    sale.extraiDoDocumento(document);
    sale.extraiChave(reply);
    expectElementTextOrKept(document, CNPJ_OPEN, CNPJ_CLOSE, before.cnpjIde, sale.cnpjIde);
    expectElementTextOrKept(document, CNPJ_OPEN, CNPJ_CLOSE, before.cnpjEmit, sale.cnpjEmit);
    expectElementTextOrKept(document, SIGN_AC_OPEN, SIGN_AC_CLOSE, before.assinaturaAC,
                            sale.assinaturaAC);
    if (sale.chaveVenda != before.chaveVenda &&
        (sale.chaveVenda.compare(0, 3, "CFe") != 0 || contains(sale.chaveVenda, "|") ||
         !contains(reply, "|" + sale.chaveVenda + "|"))) {
        std::abort();
    }
    if (!contains(sale.documentoCancelamento(), "chCanc=\"" + sale.chaveVenda + "\"")) {
        std::abort();
    }

    std::string anyTemplate = model;
    sale.adaptaTesteFimAFim(anyTemplate);

    const std::vector<std::string> pieces = markupFreePieces(model);
    std::string shipped = shippedLayout(pieces, pieces[4], pieces[5], pieces[6]);
    sale.adaptaTesteFimAFim(shipped);
    if (freeOfMarkup(sale.cnpjIde) && freeOfMarkup(sale.cnpjEmit) &&
        freeOfMarkup(sale.assinaturaAC) &&
        shipped != shippedLayout(pieces, sale.cnpjIde, sale.assinaturaAC, sale.cnpjEmit)) {
        std::abort();
    }
    return 0;
}

// DadosVenda: what the console keeps of the last sale of the run, and the
// documents it derives from it.
//
// A sale document is scanned for its first two CNPJ elements (the software
// house's, in ide, then the issuer's, in emit) and its signAC element; the
// device's reply to the sale gives the sale's key, the field that begins with
// "CFe". A value whose markers are missing keeps what it had, so a failed sale
// leaves the previous sale cancellable.
#ifndef SATVARO_CONSOLE_DADOSVENDA_H
#define SATVARO_CONSOLE_DADOSVENDA_H

#include <string>

struct DadosVenda {
    std::string cnpjIde;
    std::string cnpjEmit;
    std::string assinaturaAC;
    std::string chaveVenda;

    // Takes the CNPJs and signAC of a sale document about to be sent.
    void extraiDoDocumento(const std::string& documento);

    // Takes the key from the device's reply to the sale ("...|CFe<digits>|...").
    void extraiChave(const std::string& retorno);

    // The cancellation document of the last sale (cashier 001); built also
    // when no sale was made, with empty values.
    std::string documentoCancelamento() const;

    // Puts this sale's CNPJs and signAC into the end-to-end test template, in
    // place of the first two CNPJ elements' text and the signAC's text.
    void adaptaTesteFimAFim(std::string& modelo) const;
};

#endif

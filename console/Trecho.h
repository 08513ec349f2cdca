// Trecho: the text between two markers, as the console finds it in sale
// documents ("<CNPJ>"..."</CNPJ>") and in device replies ("|CFe..."..."|").
// The closing marker is searched after the opening one; positions are offsets
// into the text.
#ifndef SATVARO_CONSOLE_TRECHO_H
#define SATVARO_CONSOLE_TRECHO_H

#include <cstddef>
#include <optional>
#include <string>

struct Trecho {
    std::size_t inicio;  // first character after the opening marker
    std::size_t fim;     // position of the closing marker
};

// The first trecho whose opening marker starts at or after `desde`.
std::optional<Trecho> procuraTrecho(const std::string& texto, const std::string& abre,
                                    const std::string& fecha, std::size_t desde = 0);

// Copies the first trecho found into `valor`; leaves `valor` as it was when
// either marker is missing. Returns the trecho found.
std::optional<Trecho> extraiTrecho(const std::string& texto, const std::string& abre,
                                   const std::string& fecha, std::string& valor,
                                   std::size_t desde = 0);

// Replaces the first trecho found with `valor`. Returns the trecho as it is
// after the replacement (its closing marker moved by the change of length).
std::optional<Trecho> substituiTrecho(std::string& texto, const std::string& abre,
                                      const std::string& fecha, const std::string& valor,
                                      std::size_t desde = 0);

#endif

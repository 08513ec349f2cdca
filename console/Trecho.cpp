#include "Trecho.h"

std::optional<Trecho> procuraTrecho(const std::string& texto, const std::string& abre,
                                    const std::string& fecha, std::size_t desde) {
    const std::size_t posAbre = texto.find(abre, desde);
    if (posAbre == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t inicio = posAbre + abre.size();
    const std::size_t fim = texto.find(fecha, inicio);
    if (fim == std::string::npos) {
        return std::nullopt;
    }
    return Trecho{inicio, fim};
}

std::optional<Trecho> extraiTrecho(const std::string& texto, const std::string& abre,
                                   const std::string& fecha, std::string& valor,
                                   std::size_t desde) {
    const auto trecho = procuraTrecho(texto, abre, fecha, desde);
    if (trecho) {
        valor = texto.substr(trecho->inicio, trecho->fim - trecho->inicio);
    }
    return trecho;
}

std::optional<Trecho> substituiTrecho(std::string& texto, const std::string& abre,
                                      const std::string& fecha, const std::string& valor,
                                      std::size_t desde) {
    const auto trecho = procuraTrecho(texto, abre, fecha, desde);
    if (!trecho) {
        return std::nullopt;
    }
    texto.replace(trecho->inicio, trecho->fim - trecho->inicio, valor);
    return Trecho{trecho->inicio, trecho->inicio + valor.size()};
}

#include "console/DadosVenda.h"

#include "Trecho.h"

namespace {

const std::string CNPJ_ABRE = "<CNPJ>";
const std::string CNPJ_FECHA = "</CNPJ>";
const std::string SIGN_AC_ABRE = "<signAC>";
const std::string SIGN_AC_FECHA = "</signAC>";
const std::string CAMPO_CHAVE = "|CFe";
const std::string SEPARADOR = "|";

constexpr char CANCELAMENTO_INICIO[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFeCanc><infCFe chCanc=\"";
constexpr char CANCELAMENTO_IDE[] = "\"><ide><CNPJ>";
constexpr char CANCELAMENTO_SIGN_AC[] = "</CNPJ><signAC>";
constexpr char CANCELAMENTO_FIM[] =
    "</signAC><numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";

}  // namespace

void DadosVenda::extraiDoDocumento(const std::string& documento) {
    if (const auto ide = extraiTrecho(documento, CNPJ_ABRE, CNPJ_FECHA, cnpjIde)) {
        extraiTrecho(documento, CNPJ_ABRE, CNPJ_FECHA, cnpjEmit, ide->fim);
    }
    extraiTrecho(documento, SIGN_AC_ABRE, SIGN_AC_FECHA, assinaturaAC);
}

void DadosVenda::extraiChave(const std::string& retorno) {
    const std::size_t campo = retorno.find(CAMPO_CHAVE);
    if (campo != std::string::npos) {
        extraiTrecho(retorno, SEPARADOR, SEPARADOR, chaveVenda, campo);
    }
}

std::string DadosVenda::documentoCancelamento() const {
    return CANCELAMENTO_INICIO + chaveVenda + CANCELAMENTO_IDE + cnpjIde + CANCELAMENTO_SIGN_AC +
           assinaturaAC + CANCELAMENTO_FIM;
}

// The emit CNPJ is searched after the ide CNPJ as it stands once replaced: an
// offset taken before the replacement would point elsewhere when the lengths
// differ, and could skip the emit element.
void DadosVenda::adaptaTesteFimAFim(std::string& modelo) const {
    if (const auto ide = substituiTrecho(modelo, CNPJ_ABRE, CNPJ_FECHA, cnpjIde)) {
        substituiTrecho(modelo, CNPJ_ABRE, CNPJ_FECHA, cnpjEmit, ide->fim);
    }
    substituiTrecho(modelo, SIGN_AC_ABRE, SIGN_AC_FECHA, assinaturaAC);
}

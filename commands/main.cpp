// The library's exported C interface: each function forwards to the command
// object. Only the names listed in satvaro.map are visible to the loader.
//
// The library is built with SATVARO_USHORT as unsigned int: the 16-bit
// parameters arrive as a full register here and are narrowed below, since
// callers built by some compilers (clang among them) rely on the caller
// having extended them, and callers that look the functions up with int
// parameters do not.
#include "satvaro.h"

#include "commands/UCManipulaDadosSat.h"
#include "common/DriverVersion.h"

manipulaDados::ManipulaDadosSat objManipulaDadosSat;

namespace {

int low16(unsigned int value) {
    return static_cast<unsigned short>(value);
}

}  // namespace

extern "C" {

SATVARO_API char* getVersion(void) {
    return const_cast<char*>(satvaro::DRIVER_VERSION);
}

SATVARO_API int CodigoErro(void) {
    return objManipulaDadosSat.CodigoErro();
}

SATVARO_API void CloseSerial(void) {
    objManipulaDadosSat.closePortSerial();
}

SATVARO_API char* Base64ToAscii(void) {
    return objManipulaDadosSat.Base64ToAscii();
}

SATVARO_API char* AtivarSAT(int numeroSessao, unsigned int subComando, const char* codigoAtivacao,
                            const char* cnpj, unsigned int codigoUF) {
    return objManipulaDadosSat.AtivarSAT(numeroSessao, low16(subComando), codigoAtivacao, cnpj,
                                         low16(codigoUF));
}

SATVARO_API char* ComunicarCertificadoICPBRASIL(int numeroSessao, const char* codigoAtivacao,
                                                const char* certificado) {
    return objManipulaDadosSat.ComunicarCertificadoICPBRASIL(numeroSessao, codigoAtivacao,
                                                             certificado);
}

SATVARO_API char* EnviarDadosVenda(int numeroSessao, const char* codigoAtivacao,
                                   const char* dadosVenda) {
    return objManipulaDadosSat.EnviarDadosVenda(numeroSessao, codigoAtivacao, dadosVenda);
}

SATVARO_API char* CancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao,
                                      const char* chave, const char* dadosCancelamento) {
    return objManipulaDadosSat.CancelarUltimaVenda(numeroSessao, codigoAtivacao, chave,
                                                   dadosCancelamento);
}

SATVARO_API char* ConsultarSAT(int numeroSessao) {
    return objManipulaDadosSat.ConsultarSAT(numeroSessao);
}

SATVARO_API char* TesteFimAFim(int numeroSessao, const char* codigoAtivacao,
                               const char* dadosVenda) {
    return objManipulaDadosSat.TesteFimAFim(numeroSessao, codigoAtivacao, dadosVenda);
}

SATVARO_API char* ConsultarStatusOperacional(int numeroSessao, const char* codigoAtivacao) {
    return objManipulaDadosSat.ConsultarStatusOperacional(numeroSessao, codigoAtivacao);
}

SATVARO_API char* ExtrairLogs(int numeroSessao, const char* codigoAtivacao) {
    return objManipulaDadosSat.ExtrairLogs(numeroSessao, codigoAtivacao);
}

SATVARO_API char* BloquearSAT(int numeroSessao, const char* codigoAtivacao) {
    return objManipulaDadosSat.BloquearSAT(numeroSessao, codigoAtivacao);
}

SATVARO_API char* DesbloquearSAT(int numeroSessao, const char* codigoAtivacao) {
    return objManipulaDadosSat.DesbloquearSAT(numeroSessao, codigoAtivacao);
}

SATVARO_API char* ConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao,
                                        int sessaoConsultada) {
    return objManipulaDadosSat.ConsultarNumeroSessao(numeroSessao, codigoAtivacao,
                                                     sessaoConsultada);
}

SATVARO_API char* ConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                            const char* dadosConfiguracao) {
    return objManipulaDadosSat.ConfigurarInterfaceDeRede(numeroSessao, codigoAtivacao,
                                                         dadosConfiguracao);
}

SATVARO_API char* AssociarAssinatura(int numeroSessao, const char* codigoAtivacao,
                                     const char* cnpjValor, const char* assinaturaCnpj) {
    return objManipulaDadosSat.AssociarAssinatura(numeroSessao, codigoAtivacao, cnpjValor,
                                                  assinaturaCnpj);
}

SATVARO_API char* AtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao) {
    return objManipulaDadosSat.AtualizarSoftwareSAT(numeroSessao, codigoAtivacao);
}

SATVARO_API char* TrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao,
                                         unsigned int opcao, const char* novoCodigo,
                                         const char* confirmacaoNovoCodigo) {
    return objManipulaDadosSat.TrocarCodigoDeAtivacao(numeroSessao, codigoAtivacao, low16(opcao),
                                                      novoCodigo, confirmacaoNovoCodigo);
}

}  // extern "C"

#include "DriverSat.h"

#include <dlfcn.h>

#include <cstdio>

// The entry points are called through the types the public header gives them,
// never declared again here; the console still does not link the library (the
// header is read for its types only). Its three 16-bit parameters are seen as
// the library itself declares them, unsigned int: the operator's number
// reaches the library whole, and the library keeps its low 16 bits, as it does
// for a host that passes an int.
#define SATVARO_USHORT unsigned int
#include "satvaro.h"

namespace {

constexpr char NOME_BIBLIOTECA[] = "libsatvaro.so";

constexpr char MSG_ERRO_DLL[] =
    "Não foi possível carregar o Driver SAT\n"
    "Será que você o instalou?\n"
    "Por favor, verifique se o Driver SAT\n"
    "foi instalado corretamente.";

}  // namespace

void DriverSat::loadDLL() {
    if (m_handle != nullptr) {
        return;
    }
    m_handle = dlopen(NOME_BIBLIOTECA, RTLD_LAZY);
    if (m_handle == nullptr) {
        const char* erro = dlerror();
        if (erro != nullptr) {
            std::fputs(erro, stderr);
        }
    }
}

const char* DriverSat::msgErroDll() {
    return MSG_ERRO_DLL;
}

// The name is looked up at every call: a library that lacks a function (an
// older driver, or one without the MFE extensions) still serves the others.
// The MFE functions are not in the public header: each takes what its plain
// counterpart takes (ReiniciarMFE, as ExtrairLogs, only the activation code).
template <typename Funcao, typename... Args>
const char* DriverSat::chama(const char* nome, Args... args) {
    loadDLL();
    if (m_handle == nullptr) {
        return msgErroDll();
    }
    void* simbolo = dlsym(m_handle, nome);
    if (simbolo == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Funcao>(simbolo)(args...);
}

const char* DriverSat::funcGetVersion() {
    return chama<decltype(&::getVersion)>("getVersion");
}

const char* DriverSat::funcAtivarSAT(int numeroSessao, int subComando, const char* codigoAtivacao,
                                     const char* cnpj, int codigoUF) {
    return chama<decltype(&::AtivarSAT)>("AtivarSAT", numeroSessao, subComando, codigoAtivacao,
                                         cnpj, codigoUF);
}

const char* DriverSat::funcComunicarCertificadoICPBRASIL(int numeroSessao,
                                                         const char* codigoAtivacao,
                                                         const char* certificado) {
    return chama<decltype(&::ComunicarCertificadoICPBRASIL)>(
        "ComunicarCertificadoICPBRASIL", numeroSessao, codigoAtivacao, certificado);
}

const char* DriverSat::funcEnviarDadosVenda(int numeroSessao, const char* codigoAtivacao,
                                            const char* dadosVenda) {
    return chama<decltype(&::EnviarDadosVenda)>("EnviarDadosVenda", numeroSessao, codigoAtivacao,
                                                dadosVenda);
}

const char* DriverSat::funcCancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao,
                                               const char* chave, const char* dadosCancelamento) {
    return chama<decltype(&::CancelarUltimaVenda)>("CancelarUltimaVenda", numeroSessao,
                                                   codigoAtivacao, chave, dadosCancelamento);
}

const char* DriverSat::funcConsultar(int numeroSessao) {
    return chama<decltype(&::ConsultarSAT)>("ConsultarSAT", numeroSessao);
}

const char* DriverSat::funcTesteFimAFim(int numeroSessao, const char* codigoAtivacao,
                                        const char* dadosVenda) {
    return chama<decltype(&::TesteFimAFim)>("TesteFimAFim", numeroSessao, codigoAtivacao,
                                            dadosVenda);
}

const char* DriverSat::funcConsultarStatusOP(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::ConsultarStatusOperacional)>("ConsultarStatusOperacional",
                                                          numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcConsultarStatusOPMFE(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::ConsultarStatusOperacional)>("ConsultarStatusOperacionalMFE",
                                                          numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao,
                                                 int sessaoConsultada) {
    return chama<decltype(&::ConsultarNumeroSessao)>("ConsultarNumeroSessao", numeroSessao,
                                                     codigoAtivacao, sessaoConsultada);
}

const char* DriverSat::funcConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                                     const char* dadosConfiguracao) {
    return chama<decltype(&::ConfigurarInterfaceDeRede)>("ConfigurarInterfaceDeRede", numeroSessao,
                                                         codigoAtivacao, dadosConfiguracao);
}

const char* DriverSat::funcConfigurarInterfaceDeRedeMFE(int numeroSessao,
                                                        const char* codigoAtivacao,
                                                        const char* dadosConfiguracao) {
    return chama<decltype(&::ConfigurarInterfaceDeRede)>(
        "ConfigurarInterfaceDeRedeMFE", numeroSessao, codigoAtivacao, dadosConfiguracao);
}

const char* DriverSat::funcAssociarAssinatura(int numeroSessao, const char* codigoAtivacao,
                                              const char* cnpjValor, const char* assinaturaCnpj) {
    return chama<decltype(&::AssociarAssinatura)>("AssociarAssinatura", numeroSessao,
                                                  codigoAtivacao, cnpjValor, assinaturaCnpj);
}

const char* DriverSat::funcAtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::AtualizarSoftwareSAT)>("AtualizarSoftwareSAT", numeroSessao,
                                                    codigoAtivacao);
}

const char* DriverSat::funcExtrairLogs(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::ExtrairLogs)>("ExtrairLogs", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcBloquear(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::BloquearSAT)>("BloquearSAT", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcDesbloquear(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::DesbloquearSAT)>("DesbloquearSAT", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcTrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao,
                                                  int opcao, const char* novoCodigo,
                                                  const char* confirmacaoNovoCodigo) {
    return chama<decltype(&::TrocarCodigoDeAtivacao)>("TrocarCodigoDeAtivacao", numeroSessao,
                                                      codigoAtivacao, opcao, novoCodigo,
                                                      confirmacaoNovoCodigo);
}

const char* DriverSat::funcReiniciarMFE(int numeroSessao, const char* codigoAtivacao) {
    return chama<decltype(&::ExtrairLogs)>("ReiniciarMFE", numeroSessao, codigoAtivacao);
}

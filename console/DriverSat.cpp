#include "DriverSat.h"

#include <dlfcn.h>

#include <cstdio>

namespace {

constexpr char NOME_BIBLIOTECA[] = "libsatvaro.so";

constexpr char MSG_ERRO_DLL[] =
    "Não foi possível carregar o Driver SAT\n"
    "Será que você o instalou?\n"
    "Por favor, verifique se o Driver SAT\n"
    "foi instalado corretamente.";

// The library's exported signatures. The three 16-bit parameters are declared
// as the library declares them, so the call matches the callee exactly.
using FnVersao = char* (*)();
using FnSessao = char* (*)(int);
using FnCodigo = char* (*)(int, const char*);
using FnTexto = char* (*)(int, const char*, const char*);
using FnDoisTextos = char* (*)(int, const char*, const char*, const char*);
using FnAtivar = char* (*)(int, unsigned short, const char*, const char*, unsigned short);
using FnNumeroSessao = char* (*)(int, const char*, int);
using FnTrocarCodigo = char* (*)(int, const char*, unsigned short, const char*, const char*);

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
    return chama<FnVersao>("getVersion");
}

const char* DriverSat::funcAtivarSAT(int numeroSessao, int subComando, const char* codigoAtivacao,
                                     const char* cnpj, int codigoUF) {
    return chama<FnAtivar>("AtivarSAT", numeroSessao, static_cast<unsigned short>(subComando),
                           codigoAtivacao, cnpj, static_cast<unsigned short>(codigoUF));
}

const char* DriverSat::funcComunicarCertificadoICPBRASIL(int numeroSessao,
                                                         const char* codigoAtivacao,
                                                         const char* certificado) {
    return chama<FnTexto>("ComunicarCertificadoICPBRASIL", numeroSessao, codigoAtivacao,
                          certificado);
}

const char* DriverSat::funcEnviarDadosVenda(int numeroSessao, const char* codigoAtivacao,
                                            const char* dadosVenda) {
    return chama<FnTexto>("EnviarDadosVenda", numeroSessao, codigoAtivacao, dadosVenda);
}

const char* DriverSat::funcCancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao,
                                               const char* chave, const char* dadosCancelamento) {
    return chama<FnDoisTextos>("CancelarUltimaVenda", numeroSessao, codigoAtivacao, chave,
                               dadosCancelamento);
}

const char* DriverSat::funcConsultar(int numeroSessao) {
    return chama<FnSessao>("ConsultarSAT", numeroSessao);
}

const char* DriverSat::funcTesteFimAFim(int numeroSessao, const char* codigoAtivacao,
                                        const char* dadosVenda) {
    return chama<FnTexto>("TesteFimAFim", numeroSessao, codigoAtivacao, dadosVenda);
}

const char* DriverSat::funcConsultarStatusOP(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("ConsultarStatusOperacional", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcConsultarStatusOPMFE(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("ConsultarStatusOperacionalMFE", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao,
                                                 int sessaoConsultada) {
    return chama<FnNumeroSessao>("ConsultarNumeroSessao", numeroSessao, codigoAtivacao,
                                 sessaoConsultada);
}

const char* DriverSat::funcConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                                     const char* dadosConfiguracao) {
    return chama<FnTexto>("ConfigurarInterfaceDeRede", numeroSessao, codigoAtivacao,
                          dadosConfiguracao);
}

const char* DriverSat::funcConfigurarInterfaceDeRedeMFE(int numeroSessao,
                                                        const char* codigoAtivacao,
                                                        const char* dadosConfiguracao) {
    return chama<FnTexto>("ConfigurarInterfaceDeRedeMFE", numeroSessao, codigoAtivacao,
                          dadosConfiguracao);
}

const char* DriverSat::funcAssociarAssinatura(int numeroSessao, const char* codigoAtivacao,
                                              const char* cnpjValor, const char* assinaturaCnpj) {
    return chama<FnDoisTextos>("AssociarAssinatura", numeroSessao, codigoAtivacao, cnpjValor,
                               assinaturaCnpj);
}

const char* DriverSat::funcAtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("AtualizarSoftwareSAT", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcExtrairLogs(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("ExtrairLogs", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcBloquear(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("BloquearSAT", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcDesbloquear(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("DesbloquearSAT", numeroSessao, codigoAtivacao);
}

const char* DriverSat::funcTrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao,
                                                  int opcao, const char* novoCodigo,
                                                  const char* confirmacaoNovoCodigo) {
    return chama<FnTrocarCodigo>("TrocarCodigoDeAtivacao", numeroSessao, codigoAtivacao,
                                 static_cast<unsigned short>(opcao), novoCodigo,
                                 confirmacaoNovoCodigo);
}

const char* DriverSat::funcReiniciarMFE(int numeroSessao, const char* codigoAtivacao) {
    return chama<FnCodigo>("ReiniciarMFE", numeroSessao, codigoAtivacao);
}

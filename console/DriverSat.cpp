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
// older driver) still serves the others.
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

#define SATVARO_WRAPPER(name, constant, format, rework, hubPath, effect, wrapper) \
    const char* DriverSat::wrapper(                                               \
        int numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_PLAIN_PARAMETER)) {     \
        return chama<decltype(&::name)>(                                          \
            #name, numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_ARGUMENT_NAME)); \
    }
SATVARO_EXPORTED_COMMANDS(SATVARO_WRAPPER)
#undef SATVARO_WRAPPER

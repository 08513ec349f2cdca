// DriverSat: binds the SAT driver library at run time.
//
// The console does not link against the driver: the library "libsatvaro.so" is
// opened with the dynamic loader at the first wrapper call and each function is
// looked up by its exported name at every call. Each wrapper returns:
//   - the exported function's result (a text owned by the library, overwritten by
//     its next call: copy it before calling again);
//   - the text of msgErroDll() when the library cannot be loaded (the loader's
//     error text is then written to standard error, with no newline);
//   - null when the library does not export that name.
// Integer arguments are passed on as they are; the library takes the low 16 bits
// of the sub-command, state code and option.
#ifndef SATVARO_CONSOLE_DRIVERSAT_H
#define SATVARO_CONSOLE_DRIVERSAT_H

#include "commands/SatFunctionList.h"

class DriverSat {
public:
    DriverSat() = default;
    DriverSat(const DriverSat&) = delete;
    DriverSat& operator=(const DriverSat&) = delete;

    // Loads the library unless it is loaded already; a failed load is retried by
    // the next call.
    void loadDLL();

    // Four-line UTF-8 text given back instead of a reply while the library
    // cannot be loaded; static, valid for the whole run.
    const char* msgErroDll();

    const char* funcGetVersion();
    // One wrapper per exported command, named in SatFunctionList.h:
    // funcConsultar(int numeroSessao), funcAtivarSAT(int numeroSessao,
    // int subComando, const char* codigoAtivacao, ...) and so on.
#define SATVARO_WRAPPER(name, constant, format, rework, hubPath, effect, wrapper) \
    const char* wrapper(int numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_PLAIN_PARAMETER));
    SATVARO_EXPORTED_COMMANDS(SATVARO_WRAPPER)
#undef SATVARO_WRAPPER

private:
    template <typename Funcao, typename... Args>
    const char* chama(const char* nome, Args... args);

    void* m_handle = nullptr;  // never closed
};

#endif

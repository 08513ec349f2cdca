// The library's exported C interface, made from the list of SAT functions:
// each function forwards to the command object. Only the names of the version
// script made from the same list (satvaro.map.in) are visible to the loader.
//
// The library is built with SATVARO_USHORT as unsigned int: the 16-bit
// parameters arrive as a full register here and are narrowed below, since
// callers built by some compilers (clang among them) rely on the caller
// having extended them, and callers that look the functions up with int
// parameters do not.
#include "satvaro.h"

#include <type_traits>

#include "commands/SatFunctionList.h"
#include "commands/UCManipulaDadosSat.h"
#include "common/DriverVersion.h"

manipulaDados::ManipulaDadosSat objManipulaDadosSat;

namespace {

// A C argument as the command method takes it: a 16-bit one keeps its low
// 16 bits.
int forMethod(int number) {
    return number;
}
int forMethod(unsigned int value) {
    return static_cast<unsigned short>(value);
}
const char* forMethod(const char* text) {
    return text;
}

}  // namespace

// satvaro.h declares every function of the list as the list gives it.
#define SATVARO_DECLARED_EXPORT(name, result) \
    static_assert(std::is_same_v<decltype(&::name), result (*)()>, "satvaro.h: " #name);
#define SATVARO_DECLARED_COMMAND(name, ...)                                                \
    static_assert(                                                                         \
        std::is_same_v<decltype(&::name),                                                  \
                       char* (*)(int SATVARO_ARGUMENTS_##name(SATVARO_C_PARAMETER_TYPE))>, \
        "satvaro.h: " #name);
SATVARO_OTHER_EXPORTS(SATVARO_DECLARED_EXPORT)
SATVARO_EXPORTED_COMMANDS(SATVARO_DECLARED_COMMAND)
#undef SATVARO_DECLARED_EXPORT
#undef SATVARO_DECLARED_COMMAND

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

// Every command: its method on the command object.
#define SATVARO_METHOD_ARGUMENT(kind, parameter, hubField) , forMethod(parameter)
#define SATVARO_FORWARDER(name, ...)                                                         \
    SATVARO_API char* name(int numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_C_PARAMETER)) { \
        return objManipulaDadosSat.name(                                                     \
            numeroSessao SATVARO_ARGUMENTS_##name(SATVARO_METHOD_ARGUMENT));                 \
    }
SATVARO_EXPORTED_COMMANDS(SATVARO_FORWARDER)
#undef SATVARO_FORWARDER
#undef SATVARO_METHOD_ARGUMENT

}  // extern "C"

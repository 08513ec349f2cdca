// Prints the exported functions of the list of SAT functions, one a line, for
// the checks of what documents or declares them: the name, the result type,
// the time-out in milliseconds and the request limit ("-" for the functions
// that send nothing), then the kinds of the arguments, the session's first.
#include <cstdio>

#include "commands/SatFunctionList.h"
#include "satvaro.h"

#define KIND(kind, parameter, hubField) " " #kind
#define OTHER_EXPORT(name, result) std::printf("%s %s - -\n", #name, #result);
#define COMMAND(name, ...)                                                  \
    std::printf("%s char* %d %d INT%s\n", #name, SATVARO_TIMEOUT_MS_##name, \
                SATVARO_MAX_REQUEST_##name, "" SATVARO_ARGUMENTS_##name(KIND));

int main() {
    SATVARO_OTHER_EXPORTS(OTHER_EXPORT)
    SATVARO_EXPORTED_COMMANDS(COMMAND)
}

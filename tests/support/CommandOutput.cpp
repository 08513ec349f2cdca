#include "CommandOutput.h"

#include <cstdio>

CommandOutput runCommand(const std::string& command) {
    CommandOutput output;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.text.append(chunk, got);
    output.status = ::pclose(pipe);
    return output;
}

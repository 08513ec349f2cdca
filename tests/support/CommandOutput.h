// A shell command run to its end, with what it wrote on standard output.
#ifndef SATVARO_TESTS_SUPPORT_COMMANDOUTPUT_H
#define SATVARO_TESTS_SUPPORT_COMMANDOUTPUT_H

#include <string>

struct CommandOutput {
    int status = -1;   // as pclose gives it; -1 when the command could not start
    std::string text;  // its standard output
};

// Runs `command` with /bin/sh and waits for it.
CommandOutput runCommand(const std::string& command);

#endif

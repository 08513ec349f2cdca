// What the calling process holds, as /proc shows it: sampled by the programs
// that make many driver calls, to see that the calls give back what they take.
#ifndef SATVARO_BENCH_PROCESSRESOURCES_H
#define SATVARO_BENCH_PROCESSRESOURCES_H

#include <filesystem>
#include <fstream>
#include <string>

// Resident memory in kB; -1 when unknown.
inline long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Open descriptors, the one that lists them included.
inline long openDescriptors() {
    long count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

#endif

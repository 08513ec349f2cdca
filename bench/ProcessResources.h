// What a process holds, as /proc shows it: sampled by the programs that make
// many driver calls, to see that the calls give back what they take, and by
// the hub's benchmarks.
#ifndef SATVARO_BENCH_PROCESSRESOURCES_H
#define SATVARO_BENCH_PROCESSRESOURCES_H

#include <filesystem>
#include <fstream>
#include <string>

// A field of /proc/<pid>/status, e.g. "VmRSS" (kB) or "Threads"; -1 when
// unknown.
inline long statusField(const std::string& field, const std::string& pid = "self") {
    std::ifstream status("/proc/" + pid + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

// Resident memory in kB; -1 when unknown.
inline long residentKb() {
    return statusField("VmRSS");
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

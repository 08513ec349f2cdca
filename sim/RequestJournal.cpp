#include "RequestJournal.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "sim/Files.h"

namespace satsim {

RequestJournal::RequestJournal(const std::string& stateDir) : m_dir(stateDir + "/requests") {}

std::string journalEntryName(unsigned number) {
    char name[16];
    std::snprintf(name, sizeof name, "%06u", number);
    return name;
}

bool RequestJournal::open(std::string& error) {
    if (::mkdir(m_dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create " + m_dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool RequestJournal::record(const Request& request) {
    const auto received = std::chrono::steady_clock::now().time_since_epoch();
    std::string name = journalEntryName(++m_count);
    std::string building = m_dir + "/." + name;
    bool written = ::mkdir(building.c_str(), 0755) == 0 &&
                   writeFile(building + "/received",
                             std::to_string(std::chrono::nanoseconds(received).count())) &&
                   writeFile(building + "/code", request.code) &&
                   writeFile(building + "/body", request.body) &&
                   writeFile(building + "/wire", request.wire) &&
                   std::rename(building.c_str(), (m_dir + "/" + name).c_str()) == 0;
    if (!written)
        std::fprintf(stderr, "satvaro-sim: cannot record request %s: %s\n", name.c_str(),
                     std::strerror(errno));
    return written;
}

}  // namespace satsim

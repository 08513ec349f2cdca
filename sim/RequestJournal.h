// What reached the device: every request is recorded under
// DIR/requests/NNNNNN/ (code, body, wire, and received: when its last byte
// came, in nanoseconds of the system's monotonic clock), renamed into place
// only once complete so that a reader never sees half a record.
#ifndef SATVARO_SIM_REQUESTJOURNAL_H
#define SATVARO_SIM_REQUESTJOURNAL_H

#include <string>

#include "RequestReader.h"

namespace satsim {

class RequestJournal {
public:
    explicit RequestJournal(const std::string& stateDir);

    bool open(std::string& error);  // creates DIR/requests
    bool record(const Request& request);

private:
    std::string m_dir;
    unsigned m_count = 0;
};

// "000042" for the 42nd request.
std::string journalEntryName(unsigned number);

}  // namespace satsim

#endif

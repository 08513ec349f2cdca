// A pseudo-terminal pair with its slave in raw mode: the wire a serial
// device would be, with the device side on the master.
#ifndef SATVARO_SIM_PTY_H
#define SATVARO_SIM_PTY_H

#include <string>

namespace satsim {

struct PtyEnds {
    int master = -1;        // non-blocking, close-on-exec
    int slave = -1;         // raw 8-bit, no echo, close-on-exec
    std::string slavePath;  // e.g. /dev/pts/3
};

// Opens a fresh pair; on failure returns false with `error` set and
// nothing left open.
bool openRawPty(PtyEnds& ends, std::string& error);

// Closes whatever of the pair is open and marks it closed.
void closePty(PtyEnds& ends);

}  // namespace satsim

#endif

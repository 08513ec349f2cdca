#include "sim/Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace satsim {

namespace {

bool fail(PtyEnds& ends, std::string& error, const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    closePty(ends);
    return false;
}

}  // namespace

bool openRawPty(PtyEnds& ends, std::string& error) {
    ends.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ends.master < 0)
        return fail(ends, error, "posix_openpt");
    if (::grantpt(ends.master) != 0 || ::unlockpt(ends.master) != 0)
        return fail(ends, error, "grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(ends.master, name, sizeof name) != 0)
        return fail(ends, error, "ptsname");
    ends.slavePath = name;
    ends.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ends.slave < 0)
        return fail(ends, error, "open slave");
    // Raw from the start: with the default echo the line would send every
    // reply straight back to the device before a program configures it.
    termios settings{};
    if (::tcgetattr(ends.slave, &settings) != 0)
        return fail(ends, error, "tcgetattr");
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(ends.slave, TCSANOW, &settings) != 0)
        return fail(ends, error, "tcsetattr");
    int flags = ::fcntl(ends.master, F_GETFL);
    if (flags < 0 || ::fcntl(ends.master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(ends, error, "fcntl");
    return true;
}

void closePty(PtyEnds& ends) {
    if (ends.slave >= 0)
        ::close(ends.slave);
    if (ends.master >= 0)
        ::close(ends.master);
    ends.slave = -1;
    ends.master = -1;
}

}  // namespace satsim

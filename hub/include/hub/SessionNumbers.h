// The session numbers the hub gives the tills' calls. Till n (0 to 999) draws
// from a range of its own, 900 six-digit numbers from 100000 + 900 n, in turn:
// no two tills ever share a number, and a till's number comes back only after
// 900 of its calls. Where each till stands survives restarts (one file per
// till in a directory); a restart continues after its last number, never
// repeating any recent one.
#ifndef SATVARO_HUB_SESSIONNUMBERS_H
#define SATVARO_HUB_SESSIONNUMBERS_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace hub {

class SessionNumbers {
public:
    static constexpr int TILLS = 1000;
    static constexpr int PER_TILL = 900;
    static constexpr int FIRST = 100000;

    // Keeps the tills' positions in `directory`, which must exist.
    explicit SessionNumbers(std::string directory);

    // The next number of `till` (0 <= till < TILLS); -1 when where the till
    // stands could not be read or kept (nothing is handed out then).
    int next(int till);

private:
    struct Position {
        bool known = false;
        std::uint64_t next = 0;      // calls the till has made, ever
        std::uint64_t reserved = 0;  // the count kept on disk, ahead of `next`
    };

    bool load(int till, Position& position) const;
    bool reserve(int till, Position& position) const;
    std::string fileOf(int till) const;

    std::string m_directory;
    std::mutex m_mutex;
    std::vector<Position> m_positions;
};

}  // namespace hub

#endif

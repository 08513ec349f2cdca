#include "hub/SessionNumbers.h"

#include <cerrno>
#include <cstdio>

#include "StateFile.h"

namespace hub {

namespace {

// The disk holds a count ahead of the calls, written once per block: most
// calls write nothing. A restart goes on from that count, skipping at most a
// block's unused numbers, so a till's numbers come back only after
// PER_TILL - RESERVED_BLOCK (850) calls: the last 100 are never repeated.
constexpr std::uint64_t RESERVED_BLOCK = 50;

bool parseCount(const std::string& text, std::uint64_t& count) {
    count = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        if (digits == 18) {
            return false;
        }
        count = count * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    }
    return digits > 0 && (digits == text.size() || text.substr(digits) == "\n");
}

}  // namespace

SessionNumbers::SessionNumbers(std::string directory)
    : m_directory(std::move(directory)), m_positions(TILLS) {}

int SessionNumbers::next(int till) {
    if (till < 0 || till >= TILLS) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    Position& position = m_positions[till];
    if (!position.known && !load(till, position)) {
        return -1;
    }
    if (position.next == position.reserved && !reserve(till, position)) {
        return -1;
    }
    const std::uint64_t call = position.next++;
    return FIRST + PER_TILL * till + static_cast<int>(call % PER_TILL);
}

bool SessionNumbers::load(int till, Position& position) const {
    std::string text;
    std::uint64_t count = 0;
    if (readStateFile(fileOf(till), text)) {
        if (!parseCount(text, count)) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    position.next = position.reserved = count;
    position.known = true;
    return true;
}

bool SessionNumbers::reserve(int till, Position& position) const {
    const std::uint64_t until = position.next + RESERVED_BLOCK;
    if (!replaceStateFile(fileOf(till), std::to_string(until) + "\n")) {
        return false;
    }
    position.reserved = until;
    return true;
}

std::string SessionNumbers::fileOf(int till) const {
    char name[8];
    std::snprintf(name, sizeof name, "/%03d", till);
    return m_directory + name;
}

}  // namespace hub

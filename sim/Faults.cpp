#include "Faults.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "sim/Files.h"

namespace satsim {

namespace {

bool toNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || number < low || number > high)
        return false;
    value = number;
    return true;
}

bool toInt(const std::string& text, int& value) {
    long number = 0;
    if (!toNumber(text, 0, INT_MAX, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

// "\n" becomes a line feed and "\\" a backslash; other text is kept.
std::string unescape(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            plain += text[i + 1] == 'n' ? '\n' : '\\';
            ++i;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

std::string trimRight(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// Splits "name rest of line" at the first blank.
void splitFirst(const std::string& line, std::string& first, std::string& rest) {
    size_t blank = line.find_first_of(" \t");
    first = line.substr(0, blank);
    rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

}  // namespace

bool applyFault(const std::string& fault, Faults& faults, std::string& error) {
    std::string name, rest;
    splitFirst(fault, name, rest);
    std::istringstream words(rest);
    std::vector<std::string> args;
    for (std::string word; words >> word;)
        args.push_back(word);
    auto count = [&](size_t wanted) { return args.size() == wanted; };
    auto flag = [&](bool& target) { return count(0) && (target = true); };

    // Applied to a copy: a line that turns out invalid changes nothing.
    Faults f = faults;
    bool ok = true;
    if (name == "delay") {
        ok = count(1) && toInt(args[0], f.delayMs);
    } else if (name == "pieces") {
        ok = count(2) && toInt(args[0], f.pieces) && f.pieces > 0 && toInt(args[1], f.piecesGapMs);
    } else if (name == "dribble") {
        ok = count(1) && toInt(args[0], f.dribbleMs);
    } else if (name == "noise") {
        ok = count(1) && toInt(args[0], f.noise);
    } else if (name == "stale") {
        ok = count(1);
        f.staleCode = ok ? args[0] : f.staleCode;
    } else if (name == "wrongcode") {
        ok = count(1) && toInt(args[0], f.wrongCodes);
    } else if (name == "badcrc") {
        ok = flag(f.badCrc);
    } else if (name == "syntax") {
        ok = flag(f.syntax);
    } else if (name == "crnolf") {
        ok = flag(f.crNoLf);
    } else if (name == "headerbytes") {
        ok = count(1) && toNumber(args[0], 0, LONG_MAX, f.headerBytes);
    } else if (name == "contentsize") {
        ok = !rest.empty();
        f.hasContentSize = true;
        f.contentSize = rest;
    } else if (name == "silence") {
        ok = flag(f.silence);
    } else if (name == "unplug") {
        ok = count(1) && toNumber(args[0], 0, LONG_MAX, f.unplugAfter);
    } else if (name == "plain") {
        ok = flag(f.plain);
    } else if (name == "body") {
        f.hasBody = true;
        f.body = unescape(rest);
    } else if (name == "bodysize") {
        ok = count(1) && toNumber(args[0], 0, LONG_MAX, f.bodySize);
    } else if (name == "bomb") {
        ok = flag(f.bomb);
    } else if (name == "delta") {
        ok = count(6);
        for (size_t i = 0; ok && i < 6; ++i)
            f.delta[i] = args[i];
        f.hasDelta = true;
    } else if (name == "apart") {
        ok = flag(f.apart);
    } else if (name == "stall") {
        long ignored = 0;  // read by stallAfter, while a request arrives
        ok = count(1) && toNumber(args[0], 0, LONG_MAX, ignored);
    } else if (name == "hold") {
        ok = count(0);  // read by holding, while a reply waits
    } else if (name == "trailing") {
        ok = count(1) && toInt(args[0], f.trailing);
    } else {
        error = "unknown fault \"" + name + "\"";
        return false;
    }
    if (!ok) {
        error = "bad arguments for \"" + name + "\": \"" + rest + "\"";
        return false;
    }
    faults = f;
    return true;
}

FaultFile::FaultFile(const std::string& stateDir) : m_path(stateDir + "/faults") {}

Faults FaultFile::forRequest(const std::string& command) {
    Faults faults;
    std::string text;
    if (!readFile(m_path, text))
        return faults;

    std::istringstream lines(text);
    std::string kept;
    bool consumedNext = false;
    for (std::string line; std::getline(lines, line);) {
        std::string scope, fault;
        splitFirst(trimRight(line), scope, fault);
        bool isNext = scope == "next";
        if (isNext)
            consumedNext = true;
        else
            kept += line + "\n";
        if (scope.empty() || scope[0] == '#' || !(isNext || scope == "*" || scope == command))
            continue;
        std::string error;
        if (!applyFault(fault, faults, error))
            std::fprintf(stderr, "satvaro-sim: faults: %s\n", error.c_str());
    }
    if (consumedNext && !writeFileAtomically(m_path, kept))
        std::fprintf(stderr, "satvaro-sim: cannot rewrite %s\n", m_path.c_str());
    return faults;
}

StandingFaults FaultFile::standing() const {
    StandingFaults faults;
    std::string text;
    if (!readFile(m_path, text))
        return faults;
    bool stallSeen = false;
    bool holdSeen = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::string scope, fault, name, argument;
        splitFirst(trimRight(line), scope, fault);
        splitFirst(fault, name, argument);
        if (scope != "*")
            continue;
        long bytes = 0;
        if (name == "stall" && !std::exchange(stallSeen, true))
            faults.stallAfter = toNumber(argument, 0, LONG_MAX, bytes) ? bytes : -1;
        if (name == "hold" && !std::exchange(holdSeen, true))
            faults.holding = argument.empty();
    }
    return faults;
}

}  // namespace satsim

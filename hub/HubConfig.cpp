#include "hub/HubConfig.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace hub {

namespace {

constexpr std::size_t LONGEST_CODE = 32;

std::string trimmed(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool readList(const std::string& value, AddressList& list, std::string& error) {
    std::string entries = value;
    for (char& c : entries) {
        c = c == ',' ? ' ' : c;
    }
    std::istringstream words(entries);
    std::string entry;
    while (words >> entry) {
        if (!list.add(entry)) {
            error = "\"" + entry + "\" is not an IP address or network";
            return false;
        }
    }
    return true;
}

// A whole number from `lowest` to `highest`.
template <typename Number>
bool readCount(const std::string& value, Number lowest, Number highest, Number& number,
               std::string& error) {
    const bool digits = !value.empty() && value.size() <= 9 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long long parsed = digits ? std::stoull(value) : 0;
    if (!digits || parsed < static_cast<unsigned long long>(lowest) ||
        parsed > static_cast<unsigned long long>(highest)) {
        error = "\"" + value + "\" is not a number from " + std::to_string(lowest) + " to " +
                std::to_string(highest);
        return false;
    }
    number = static_cast<Number>(parsed);
    return true;
}

bool readCode(const std::string& value, std::string& code, std::string& error) {
    for (const char c : value) {
        if (c < ' ' || c > '~' || c == '|') {
            error =
                "the activation code holds a character that cannot be sent (\"|\" or not "
                "printable ASCII)";
            return false;
        }
    }
    if (value.size() > LONGEST_CODE) {
        error = "the activation code is longer than 32 characters";
        return false;
    }
    code = value;
    return true;
}

bool readAbsolute(const std::string& value, std::string& path, std::string& error) {
    if (value.empty() || value[0] != '/') {
        error = "\"" + value + "\" is not an absolute path";
        return false;
    }
    path = value;
    return true;
}

bool setLimit(const std::string& key, const std::string& value, HubConfig& config,
              std::string& error);

bool setValue(const std::string& key, const std::string& value, HubConfig& config,
              std::string& error) {
    if (key == "activation_code") {
        return readCode(value, config.activationCode, error);
    }
    if (key == "listen") {
        config.listenAddress = value;
        return true;
    }
    if (key == "port") {
        return readCount(value, 0, 65535, config.port, error);
    }
    if (key == "base_path") {
        return readAbsolute(value, config.basePath, error);
    }
    if (key == "allow") {
        return readList(value, config.allowed, error);
    }
    if (key == "admin_allow") {
        return readList(value, config.admins, error);
    }
    if (key == "status_allow") {
        return readList(value, config.statusReaders, error);
    }
    if (key == "state_dir") {
        return readAbsolute(value, config.stateDir, error);
    }
    if (key == "work_dir") {
        return readAbsolute(value, config.workDir, error);
    }
    return setLimit(key, value, config, error);
}

bool setLimit(const std::string& key, const std::string& value, HubConfig& config,
              std::string& error) {
    FrontLimits& limits = config.limits;
    if (key == "max_connections") {
        return readCount(value, 1u, 1000000u, limits.connections, error);
    }
    if (key == "max_connections_per_address") {
        return readCount(value, 1u, 1000000u, limits.connectionsPerAddress, error);
    }
    if (key == "request_head_bytes") {
        return readCount<std::size_t>(value, 4096, 1048576, limits.headBytes, error);
    }
    if (key == "head_timeout") {
        return readCount(value, 1u, 3600u, limits.headSeconds, error);
    }
    if (key == "body_timeout") {
        return readCount(value, 1u, 3600u, limits.bodySeconds, error);
    }
    if (key == "idle_timeout") {
        return readCount(value, 1u, 3600u, limits.idleSeconds, error);
    }
    if (key == "max_queued_calls") {
        return readCount(value, 1u, 100000u, config.queuedCalls, error);
    }
    if (key == "status_interval") {
        return readCount(value, 1u, 86400u, config.statusSeconds, error);
    }
    error = "unknown key \"" + key + "\"";
    return false;
}

// The file gives the device's activation code and decides who reaches the
// device: nobody but its owner (and group) may read it, nobody else write it.
bool guarded(std::ifstream& file, const std::string& path, std::string& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !file) {
        error = std::string("cannot read it: ") + std::strerror(errno);
        return false;
    }
    if ((status.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        error =
            "every user may read or write it, and it holds the activation code: "
            "chmod 0600 it (owned by the user the hub runs as)";
        return false;
    }
    return true;
}

}  // namespace

bool loadHubConfig(const std::string& path, HubConfig& config, std::string& error) {
    std::ifstream file(path);
    std::string problem;
    if (!guarded(file, path, problem)) {
        error = path + ": " + problem;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string::size_type equals = line.find('=');
        if (equals == std::string::npos) {
            error = path + ":" + std::to_string(number) + ": not a \"key = value\" line";
            return false;
        }
        if (!setValue(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), config,
                      problem)) {
            error = path + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    if (config.activationCode.empty()) {
        error = path + ": no activation_code: the hub holds the device's code for the tills";
        return false;
    }
    return true;
}

}  // namespace hub

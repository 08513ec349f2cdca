// The hub's configuration file: "key = value" lines, comment lines starting
// with "#", lists separated by commas or blanks. Read once at start (see satvaro-hub(8)).
#ifndef SATVARO_HUB_HUBCONFIG_H
#define SATVARO_HUB_HUBCONFIG_H

#include <cstddef>
#include <string>

#include "hub/AddressList.h"

namespace hub {

// What clients may take of the HTTP front (the keys in satvaro-hub(8)).
struct FrontLimits {
    unsigned connections = 1024;          // max_connections
    unsigned connectionsPerAddress = 64;  // max_connections_per_address; this machine exempt
    std::size_t headBytes = 32768;        // request_head_bytes: a connection's memory for a head
    unsigned headSeconds = 10;            // head_timeout: from the connection or the last answer
    unsigned bodySeconds = 60;            // body_timeout: from the head's end
    unsigned idleSeconds = 5;             // idle_timeout: no byte in or out
};

struct HubConfig {
    std::string activationCode;                     // activation_code (required)
    std::string listenAddress = "127.0.0.1";        // listen
    int port = 8088;                                // port; 0 takes any free port
    std::string basePath = "/hub/v1";               // base_path
    AddressList allowed;                            // allow: tills besides this machine
    AddressList admins;                             // admin_allow: may also change the device
    AddressList statusReaders;                      // status_allow: may read the status only
    std::string stateDir = "/var/lib/satvaro-hub";  // state_dir
    std::string workDir = "/var/log/satvaro-hub";   // work_dir: the library's logsDrs lands here
    FrontLimits limits;
    unsigned queuedCalls = 256;    // max_queued_calls: more get 503 at once
    unsigned statusSeconds = 300;  // status_interval: between status queries
};

// Reads the file at `path` into `config`; false with `error` saying what is
// wrong (an unknown key, a bad value, no activation code, a file every user
// may read or write).
bool loadHubConfig(const std::string& path, HubConfig& config, std::string& error);

}  // namespace hub

#endif

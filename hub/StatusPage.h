// The status page: one self-contained HTML page (no script, no external
// asset, its icon inline) made on the server from the status board's data,
// readable on a phone, refreshing itself every few seconds. The alerts come
// first.
#ifndef SATVARO_HUB_STATUSPAGE_H
#define SATVARO_HUB_STATUSPAGE_H

#include <nlohmann/json.hpp>
#include <string>

namespace hub {

std::string statusPage(const nlohmann::ordered_json& status);

}  // namespace hub

#endif

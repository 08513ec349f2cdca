// Small file helpers of the simulator: whole-file reads and writes that a
// concurrent reader never sees half done.
#ifndef SATVARO_SIM_FILES_H
#define SATVARO_SIM_FILES_H

#include <string>

namespace satsim {

// Reads the whole file into `content`; false when it cannot be read.
bool readFile(const std::string& path, std::string& content);

// Writes `content` to a temporary name beside `path`, then renames it over
// `path`: readers see the old file or the new one, never a partial one.
bool writeFileAtomically(const std::string& path, const std::string& content);

// Writes `content` to `path` (created or truncated); false on any failure.
bool writeFile(const std::string& path, const std::string& content);

}  // namespace satsim

#endif

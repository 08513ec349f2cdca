// The small files of the hub's state directory (a changed activation code;
// the former files of the tills' session numbers, read once): read whole,
// and replaced whole so that a crash or a power cut leaves either the old
// content or the new.
#ifndef SATVARO_HUB_STATEFILE_H
#define SATVARO_HUB_STATEFILE_H

#include <string>

namespace hub {

// Reads the whole file into `content`; false when it cannot (errno says why,
// ENOENT for a file that does not exist yet).
bool readStateFile(const std::string& path, std::string& content);

// Writes `content` to a new file beside `path` (mode 0600), flushes it to the
// disk, renames it over `path` and flushes the directory. False on any failure,
// `path` then being unchanged.
bool replaceStateFile(const std::string& path, const std::string& content);

}  // namespace hub

#endif

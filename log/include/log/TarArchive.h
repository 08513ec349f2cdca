// The gzip-compressed tar archive of one closed log file, made by the
// system's tar.
#ifndef SATVARO_LOG_TARARCHIVE_H
#define SATVARO_LOG_TARARCHIVE_H

#include <string>

// Runs "tar -zcvf <archive> <member>" (its listing goes to standard output)
// with the first executable of /usr/bin/tar and /bin/tar, never one found
// through the host's PATH. True when the archive was made: tar exited with
// 0, or, when the host's SIGCHLD setup hides tar's status from us, the
// archive reads back whole. False when there is no tar.
bool packWithTar(const std::string& archive, const std::string& member);

// True when `archive` is a complete gzip stream holding a complete tar
// archive (its end blocks reached) with an entry named `member`.
bool archiveReadsBack(const std::string& archive, const std::string& member);

#endif

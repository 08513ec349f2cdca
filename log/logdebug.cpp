#include "log/logdebug.h"
#include "log/LogClock.h"

#include "common/DriverVersion.h"
#include "log/TarArchive.h"

#include <err.h>
#include <fcntl.h>
#include <fts.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

LogDebug* LogDebug::m_log = nullptr;

// Where dates and stamps come from; tests move it across midnight.
std::time_t (*g_clock)(std::time_t*) = ::time;

namespace {

constexpr mode_t LOG_DIR_MODE = 0775;
constexpr std::size_t LOG_HEADER_SIZE = 32;
constexpr std::size_t LOG_LINE_SIZE = 512;  // 511 bytes of text, then the LF
constexpr std::size_t LOG_FILES_KEPT = 7;
const char LOG_SUFFIX[] = ".log";
const char ARCHIVE_SUFFIX[] = ".tar.gz";

std::string formatLocalTime(std::time_t now, const char* format) {
    struct tm local {};
    char text[80] = "";
    if (localtime_r(&now, &local))
        std::strftime(text, sizeof text, format, &local);
    return text;
}

// The existence test of the log: the file can be opened for update without
// being created or truncated.
bool canUpdate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool endsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// "logsDrs/logDrsYYYYMMDD.log" is archived as "logsDrs/logDrsYYYYMMDD.tar.gz".
std::string archiveName(const std::string& logName) {
    std::string stem = logName;
    if (endsWith(stem, LOG_SUFFIX))
        stem.resize(stem.size() - std::strlen(LOG_SUFFIX));
    return stem + ARCHIVE_SUFFIX;
}

void printProgress(const char* what, const std::string& detail) {
    std::printf("[removeLastDays] %s %s\n", what, detail.c_str());
    std::fflush(stdout);
}

// Today's file, opened for appending and made when missing: a file that is
// there is never truncated, whatever its permissions. Someone may have
// removed the directory since the writer made it; it is made again rather
// than losing every line until a restart.
std::FILE* openLogFile(const std::string& dir, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (!file && errno == ENOENT) {
        ::mkdir(dir.c_str(), LOG_DIR_MODE);
        file = std::fopen(path.c_str(), "ae");
    }
    return file;
}

bool isEmpty(std::FILE* file) {
    struct stat status {};
    return ::fstat(fileno(file), &status) == 0 && status.st_size == 0;
}

void writeHeader(std::FILE* file) {
    char header[LOG_HEADER_SIZE];
    std::snprintf(header, sizeof header, "DRS Version: %s", satvaro::DRIVER_VERSION);
    std::fputs(header, file);
    std::fputc('\n', file);
    std::fflush(file);
}

// Text from the device or the caller cannot start a line of its own or
// drive a terminal that shows the log: CR, LF and the other control bytes
// are written as escapes. Printable text, Latin-1 and UTF-8 pass unchanged.
std::string escapeControlBytes(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char byte : text) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= 0x20) {
            escaped += byte;
        } else if (byte == '\r') {
            escaped += "\\r";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", code);
            escaped += hex;
        }
    }
    return escaped;
}

// A symbolic link met by the physical walk: a link to a regular file counts
// as that file, but only the link is ever removed.
bool isLinkToRegularFile(const FTSENT* entry) {
    struct stat target {};
    return entry->fts_info == FTS_SL && ::stat(entry->fts_accpath, &target) == 0 &&
           S_ISREG(target.st_mode);
}

}  // namespace

LogDebug::LogDebug() : m_dirLog("logsDrs") {
    ::mkdir(m_dirLog.c_str(), LOG_DIR_MODE);
}

LogDebug* LogDebug::obtemReferencia() {
    static std::once_flag created;
    std::call_once(created, [] { m_log = new LogDebug; });
    return m_log;
}

void setLogClock(std::time_t (*clock)(std::time_t*)) {
    g_clock = clock;
}

std::string LogDebug::currentDate() {
    return formatLocalTime(g_clock(nullptr), "%Y%m%d");
}

std::string LogDebug::currentDateTime() {
    return formatLocalTime(g_clock(nullptr), "%Y-%m-%d.%X");
}

// The date is compared at every line, so the first line after local midnight
// is the one that archives yesterday's file. A process's first line hands an
// empty path to compress, which ignores it.
std::string LogDebug::getFileNameLog() {
    const std::string today = currentDate();
    if (today == m_dataLog)
        return m_arquivoLog;
    compress(m_arquivoLog);
    m_arquivoLog = m_dirLog + "/logDrs" + today + LOG_SUFFIX;
    m_dataLog = today;
    return m_arquivoLog;
}

// Every line opens and closes the file, so nothing is lost in a buffer when the
// host dies, and a file removed during the day is noticed at the next line.
// A file is started when it is empty, or could not be opened at all.
// The host's threads write one line at a time, and one of them archives.
void LogDebug::saveLog(const std::string& level, const std::string& message) {
    static std::mutex oneLineAtATime;
    const std::lock_guard<std::mutex> guard(oneLineAtATime);
    const std::string path = getFileNameLog();
    std::FILE* file = openLogFile(m_dirLog, path);
    const bool started = !file || isEmpty(file);
    if (file && started)
        writeHeader(file);
    if (started)
        removeLastDays(m_dirLog.data());
    if (!file)
        return;

    char line[LOG_LINE_SIZE];
    std::snprintf(line, sizeof line, "[%s] - [%s, %s]", currentDateTime().c_str(),
                  escapeControlBytes(level).c_str(), escapeControlBytes(message).c_str());
    std::fputs(line, file);
    std::fputc('\n', file);
    std::fflush(file);
    std::fclose(file);
}

// The log goes only once its archive is under its final name: a tar that is
// missing or fails (disk full) must not cost the day's log. sync() follows every
// change so that a power cut loses neither the log nor its archive.
void LogDebug::compress(const std::string& fileName) {
    if (!canUpdate(fileName))
        return;
    const std::string archive = fileName + ARCHIVE_SUFFIX;

    printProgress("file to zip", fileName);
    ::sync();

    printProgress("cmd to zip", "tar -zcvf " + archive + " " + fileName);
    const bool archived = packWithTar(archive, fileName);
    ::sync();

    const std::string finalName = archiveName(fileName);
    printProgress("erase", finalName);
    const bool renamed = std::rename(archive.c_str(), finalName.c_str()) == 0;
    if (renamed)
        std::puts("File successfully renamed");
    else
        std::perror("Error renaming file");
    ::sync();

    if (archived && renamed) {
        std::remove(fileName.c_str());
        ::sync();
    }
}

// File names carry the date, so the smallest path is the oldest day (and a
// day's ".log" sorts before its ".tar.gz"). Subdirectories are searched, but
// the walk is physical: whoever can write into the directory must not be able
// to lead it, through a link, to files elsewhere.
int LogDebug::removeLastDays(char* dir) {
    char* const roots[] = {dir, nullptr};
    FTS* walk = fts_open(roots, FTS_COMFOLLOW | FTS_PHYSICAL | FTS_NOCHDIR, nullptr);
    if (!walk) {
        warn("fts_open");
        return 1;
    }
    if (!fts_children(walk, 0)) {
        fts_close(walk);
        return 0;
    }

    const std::string marker = std::string(dir) + "/logDrs";
    std::vector<std::string> candidates;
    while (const FTSENT* entry = fts_read(walk)) {
        if ((entry->fts_info == FTS_F || isLinkToRegularFile(entry)) &&
            std::strstr(entry->fts_path, marker.c_str()))
            candidates.emplace_back(entry->fts_path);
    }
    fts_close(walk);
    if (candidates.empty())
        return 0;

    if (candidates.size() > LOG_FILES_KEPT) {
        std::remove(std::min_element(candidates.begin(), candidates.end())->c_str());
        ::sync();
    }
    return 1;
}

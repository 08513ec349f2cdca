#include "log/logdebug.h"

#include "common/DriverVersion.h"

#include <err.h>
#include <fcntl.h>
#include <fts.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

LogDebug* LogDebug::m_log = nullptr;
std::time_t (*LogDebug::m_clock)(std::time_t*) = ::time;

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
    const int fd = ::open(path.c_str(), O_RDWR);
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

bool exitedCleanly(int status) {
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void printProgress(const char* what, const std::string& detail) {
    std::printf("[removeLastDays] %s %s\n", what, detail.c_str());
    std::fflush(stdout);
}

// A new file of the day, opened with its header line. Someone may have removed
// the directory since the writer made it; it is made again rather than losing
// every line until a restart.
std::FILE* startLogFile(const std::string& dir, const std::string& path) {
    ::mkdir(dir.c_str(), LOG_DIR_MODE);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file) {
        char header[LOG_HEADER_SIZE];
        std::snprintf(header, sizeof header, "DRS Version: %s", satvaro::DRIVER_VERSION);
        std::fputs(header, file);
        std::fputc('\n', file);
        std::fflush(file);
    }
    return file;
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

void LogDebug::setClock(std::time_t (*clock)(std::time_t*)) {
    m_clock = clock;
}

std::string LogDebug::currentDate() {
    return formatLocalTime(m_clock(nullptr), "%Y%m%d");
}

std::string LogDebug::currentDateTime() {
    return formatLocalTime(m_clock(nullptr), "%Y-%m-%d.%X");
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
// The host's threads write one line at a time, and one of them archives.
void LogDebug::saveLog(const std::string& level, const std::string& message) {
    static std::mutex oneLineAtATime;
    const std::lock_guard<std::mutex> guard(oneLineAtATime);
    const std::string path = getFileNameLog();
    std::FILE* file;
    if (canUpdate(path)) {
        file = std::fopen(path.c_str(), "a");
    } else {
        file = startLogFile(m_dirLog, path);
        removeLastDays(m_dirLog.data());
    }
    if (!file)
        return;

    char line[LOG_LINE_SIZE];
    std::snprintf(line, sizeof line, "[%s] - [%s, %s]", currentDateTime().c_str(), level.c_str(),
                  message.c_str());
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

    const std::string command = "tar -zcvf " + archive + " " + fileName;
    printProgress("cmd to zip", command);
    const bool archived = exitedCleanly(std::system(command.c_str()));
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
// day's ".log" sorts before its ".tar.gz"). The walk is logical: a symbolic
// link to a regular file counts as one, and subdirectories are searched.
int LogDebug::removeLastDays(char* dir) {
    char* const roots[] = {dir, nullptr};
    FTS* walk = fts_open(roots, FTS_COMFOLLOW | FTS_LOGICAL | FTS_NOCHDIR, nullptr);
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
        if (entry->fts_info == FTS_F && std::strstr(entry->fts_path, marker.c_str()))
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

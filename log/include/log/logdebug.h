// The library's daily diagnostic log: "logsDrs/logDrsYYYYMMDD.log" below the
// working directory, one "[stamp] - [level, message]" line per event. At the
// first line of a new day the previous day's file is archived with tar, and
// every newly started file triggers a retention pass that keeps seven files.
// Nothing is reported to the caller: a line that cannot be written is lost.
#ifndef SATVARO_LOG_LOGDEBUG_H
#define SATVARO_LOG_LOGDEBUG_H

#include <ctime>
#include <string>

class LogDebug {
public:
    // The process-wide writer, created (with its directory) on first use.
    static LogDebug* obtemReferencia();

    // Appends "[stamp] - [level, message]" (at most 511 bytes, then LF) to
    // today's file. A file it has to start (making "logsDrs" again if it was
    // removed) opens with the line "DRS Version: <version>" and is followed
    // by a retention pass; a file that exists is only appended to. Control
    // bytes of level and message are written as "\r", "\n" and "\xHH".
    void saveLog(const std::string& level, const std::string& message);

    std::string currentDate();      // "%Y%m%d", local time
    std::string currentDateTime();  // "%Y-%m-%d.%X", local time
    // Path of today's file; on a date change archives the previous one.
    std::string getFileNameLog();
    // Packs a closed log file "<dir>/logDrsYYYYMMDD.log" into
    // "<dir>/logDrsYYYYMMDD.tar.gz" with the system's tar (packWithTar),
    // printing its progress on standard output. The log is removed only once
    // that archive is in place; an absent or inaccessible file is left alone
    // without a word.
    void compress(const std::string& fileName);
    // Deletes the smallest path among the regular files (and links to regular
    // files) below dir whose path contains dir + "/logDrs" when there are
    // eight or more of them; links to directories are not followed. Returns 1
    // when any was found or the walk could not start, 0 otherwise.
    int removeLastDays(char* dir);

private:
    LogDebug();
    LogDebug(const LogDebug&) = delete;
    LogDebug& operator=(const LogDebug&) = delete;

    std::string m_dataLog;
    std::string m_dirLog;
    std::string m_arquivoLog;

    static LogDebug* m_log;
};

#endif

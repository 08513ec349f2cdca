// The library's daily diagnostic log: "logsDrs/logDrsYYYYMMDD.log" below the
// working directory, one "[stamp] - [level, message]" line per event. At the
// first line of a new day the previous day's file is archived with tar, and
// every newly started file triggers a retention pass that keeps seven files.
// Nothing is reported to the caller: a line that cannot be written is lost.
#ifndef SATVARO_LOG_LOGDEBUG_H
#define SATVARO_LOG_LOGDEBUG_H

#include <string>

class LogDebug {
public:
    // The process-wide writer, created (with its directory) on first use.
    static LogDebug* obtemReferencia();

    void saveLog(const std::string& level, const std::string& message);

    std::string currentDate();      // "%Y%m%d", local time
    std::string currentDateTime();  // "%Y-%m-%d.%X", local time
    // Path of today's file; on a date change archives the previous one.
    std::string getFileNameLog();
    // Packs a closed log file into "<dir>/logDrsYYYYMMDD.tar.gz".
    void compress(const std::string& fileName);
    // Deletes the oldest "logDrs..." file when eight or more are found.
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

// The hub's journal of the tills' calls: an SQLite database in the state
// directory ("journal.sqlite", WAL), one row per call, written when the call
// is queued and at every step after, and the tills' session numbers. A call
// is on disk (flushed) before it reaches the device, and its reply before
// the till receives it; whatever happens, the hub learns after a restart
// which calls may have reached the device.
//
// The front's thread and the device's thread each have a connection of
// their own; each method says whose it is (any thread may use either).
#ifndef SATVARO_HUB_JOURNAL_H
#define SATVARO_HUB_JOURNAL_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hub/CallRecord.h"

struct sqlite3;

namespace hub {

class Journal {
public:
    // The tills' numbers: till n draws in turn the 900 six-digit numbers
    // from 100000 + 900 n; the hub's own calls draw from 1 to 99999.
    static constexpr int TILLS = 1000;
    static constexpr int PER_TILL = 900;
    static constexpr int FIRST = 100000;
    static constexpr int OWN_SESSIONS = 99999;

    Journal() = default;
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens (or makes) the journal of `stateDir`. The first time, it takes
    // over where each till stood in the former files of `stateDir`/sessions.
    bool open(const std::string& stateDir, std::string& error);

    // -- The front's thread --------------------------------------------------
    // Records `call` as queued under the till's next session number (set in
    // `call`, with its id); false when it cannot be written.
    bool queue(CallRecord& call, std::int64_t now);
    // What SQLite said of the front's, and of the device's, last failure.
    std::string frontError() const;
    std::string deviceError() const;
    // The answer of call `id` went out whole to its till.
    bool markDelivered(std::int64_t id, std::int64_t now);
    // Call `id` was refused after it was queued: it never reached the device.
    bool markNotSent(std::int64_t id);
    // The till's latest call; of the functions `among` when given.
    std::optional<CallRecord> latest(int till, const std::vector<const char*>& among = {});
    // The call `id`.
    std::optional<CallRecord> byId(std::int64_t id);
    // The latest call under `session`.
    std::optional<CallRecord> bySession(int session);
    // The till's latest call with `key`, received at `since` or later.
    std::optional<CallRecord> byKey(int till, const std::string& key, std::int64_t since);

    // -- The device's thread -------------------------------------------------
    // Call `id` is about to reach the device: on disk before it does.
    bool markAtDevice(std::int64_t id, std::int64_t now);
    // Call `id` is settled: its state, and the reply and status when it had one.
    bool settle(const CallRecord& call, std::int64_t now);
    // The next of the hub's own session numbers; -1 when it cannot be kept.
    int ownSession();
    // The calls that were queued or at the device when the hub last ended.
    std::vector<CallRecord> unsettled();

    // -- Any thread: what the status page shows -------------------------------
    // The calls in the journal: counted when it opens and by recount(), and
    // one more with every queued call.
    long rows() const;
    void recount();
    // Its size on disk, write-ahead log included.
    long sizeBytes();
    // The calls of unknown outcome nobody acknowledged.
    long unknownOutcomes();
    // The settled calls received at `since` or later, oldest first.
    bool forEachSettledSince(std::int64_t since,
                             const std::function<void(const CallRecord&)>& visit);

    // -- Tools (satvaro-hub export, prune, acknowledge) -----------------------
    // Takes note that someone settled the unknown outcome of `session`'s
    // calls; how many it was, or -1.
    long acknowledge(int session);
    // Every call with a reply, oldest first.
    bool forEachReply(const std::function<void(const CallRecord&)>& visit);
    // Removes the settled calls received before `before` (but those of
    // unknown outcome nobody acknowledged); how many, or -1.
    long prune(std::int64_t before);

private:
    bool openConnection(const std::string& path, bool flushEveryCommit, sqlite3*& connection,
                        std::string& error);
    bool prepare(std::string& error);
    bool takeOverSessionFiles(const std::string& stateDir, std::string& error);
    int nextNumber(sqlite3* connection, int till);

    std::string m_path;
    sqlite3* m_front = nullptr;
    sqlite3* m_device = nullptr;
    std::atomic<long> m_rows{0};
    std::mutex m_writing;  // one writer of the two connections at a time
};

}  // namespace hub

#endif

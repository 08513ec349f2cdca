#include "hub/Journal.h"

#include <dirent.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "StateFile.h"

namespace hub {

namespace {

// The hub's own calls are numbered as a till of this number.
constexpr int OWN_NUMBERING = -1;
// Writers of the two connections take turns; one waits at most this long.
constexpr int BUSY_MILLISECONDS = 10000;
constexpr int SCHEMA_VERSION = 1;

constexpr char SCHEMA[] = R"(
CREATE TABLE IF NOT EXISTS calls(
  id INTEGER PRIMARY KEY,
  till INTEGER NOT NULL,
  session INTEGER NOT NULL,
  function TEXT NOT NULL,
  digest TEXT NOT NULL,
  request_key TEXT,
  new_code TEXT,
  state TEXT NOT NULL,
  received INTEGER NOT NULL,
  sent INTEGER,
  answered INTEGER,
  delivered INTEGER,
  reply BLOB,
  status INTEGER,
  acknowledged INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS calls_by_till ON calls(till, id);
CREATE INDEX IF NOT EXISTS calls_by_session ON calls(session, id);
CREATE INDEX IF NOT EXISTS calls_by_key ON calls(till, request_key, id)
  WHERE request_key IS NOT NULL;
CREATE INDEX IF NOT EXISTS calls_unknown ON calls(session)
  WHERE state = 'desconhecida' AND acknowledged = 0;
CREATE INDEX IF NOT EXISTS calls_by_time ON calls(received);
CREATE TABLE IF NOT EXISTS numbering(till INTEGER PRIMARY KEY, calls INTEGER NOT NULL);
)";

constexpr char COLUMNS[] =
    "id, till, session, function, digest, request_key, new_code, state, received, sent, "
    "answered, delivered, reply, status";

// One SQL statement, prepared for one use.
class Statement {
public:
    Statement(sqlite3* connection, const std::string& sql) {
        m_ok = sqlite3_prepare_v2(connection, sql.c_str(), -1, &m_statement, nullptr) == SQLITE_OK;
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::int64_t value) {
        m_ok = m_ok && sqlite3_bind_int64(m_statement, index, value) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        m_ok =
            m_ok && sqlite3_bind_text(m_statement, index, text.data(),
                                      static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    // An empty text as NULL.
    Statement& bindOrNull(int index, const std::string& text) {
        return text.empty() ? bindNull(index) : bind(index, text);
    }
    Statement& bindBlob(int index, const std::optional<std::string>& bytes) {
        if (!bytes) {
            return bindNull(index);
        }
        m_ok = m_ok &&
               sqlite3_bind_blob(m_statement, index, bytes->data(), static_cast<int>(bytes->size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bindNull(int index) {
        m_ok = m_ok && sqlite3_bind_null(m_statement, index) == SQLITE_OK;
        return *this;
    }

    // The next row; false at the end or on a failure (ok() tells which).
    bool row() {
        if (!m_ok) {
            return false;
        }
        const int stepped = sqlite3_step(m_statement);
        m_ok = stepped == SQLITE_ROW || stepped == SQLITE_DONE;
        return stepped == SQLITE_ROW;
    }
    // Runs it to the end.
    bool run() {
        while (row()) {
        }
        return m_ok;
    }
    bool ok() const { return m_ok; }

    std::int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    bool isNull(int column) const {
        return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
    }
    std::string text(int column) const {
        const void* const bytes = sqlite3_column_blob(m_statement, column);
        return bytes == nullptr
                   ? std::string()
                   : std::string(
                         static_cast<const char*>(bytes),
                         static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
    }

    CallRecord record() const {
        CallRecord call;
        call.id = integer(0);
        call.till = static_cast<int>(integer(1));
        call.session = static_cast<int>(integer(2));
        call.function = text(3);
        call.digest = text(4);
        call.requestKey = text(5);
        call.newCode = text(6);
        call.state = stateNamed(text(7)).value_or(CallState::UNKNOWN);
        call.received = integer(8);
        call.sent = integer(9);
        call.answered = integer(10);
        call.delivered = integer(11);
        if (!isNull(12)) {
            call.reply = text(12);
        }
        if (!isNull(13)) {
            call.status = static_cast<int>(integer(13));
        }
        return call;
    }

private:
    sqlite3_stmt* m_statement = nullptr;
    bool m_ok = false;
};

bool execute(sqlite3* connection, const char* sql) {
    return sqlite3_exec(connection, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A write transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* connection)
        : m_connection(connection), m_open(execute(connection, "BEGIN IMMEDIATE")) {}
    ~Transaction() {
        if (m_open) {
            execute(m_connection, "ROLLBACK");
        }
    }
    bool began() const { return m_open; }
    bool commit() {
        m_open = !execute(m_connection, "COMMIT");
        return !m_open;
    }

private:
    sqlite3* const m_connection;
    bool m_open;
};

std::optional<CallRecord> first(Statement& query) {
    if (query.row()) {
        return query.record();
    }
    return std::nullopt;
}

}  // namespace

std::int64_t recordTime() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* stateName(CallState state) {
    switch (state) {
    case CallState::QUEUED:
        return "na_fila";
    case CallState::AT_DEVICE:
        return "no_dispositivo";
    case CallState::ANSWERED:
        return "respondida";
    case CallState::RECOVERED:
        return "recuperada";
    case CallState::NOT_SENT:
        return "nao_enviada";
    case CallState::UNKNOWN:
        break;
    }
    return "desconhecida";
}

std::optional<CallState> stateNamed(const std::string& name) {
    for (const CallState state : {CallState::QUEUED, CallState::AT_DEVICE, CallState::ANSWERED,
                                  CallState::RECOVERED, CallState::NOT_SENT, CallState::UNKNOWN}) {
        if (name == stateName(state)) {
            return state;
        }
    }
    return std::nullopt;
}

Journal::~Journal() {
    sqlite3_close(m_front);
    sqlite3_close(m_device);
}

// The two connections never write at once: SQLite may refuse a writer at
// once, without waiting, when another connection of the same process
// writes. The front's connection leaves flushing to the device's: a queued call is
// flushed with its step to the device (the same write-ahead log), before it
// reaches it; a hub that dies keeps what it wrote, and after a power cut a
// call that was only queued, or a delivery, may be forgotten, which is
// harmless: such a call never reached the device, and a call not known to
// be delivered is only replayed to its till.
bool Journal::open(const std::string& stateDir, std::string& error) {
    m_path = stateDir + "/journal.sqlite";
    if (!openConnection(m_path, true, m_device, error) || !prepare(error) ||
        !takeOverSessionFiles(stateDir, error) || !openConnection(m_path, false, m_front, error)) {
        error = m_path + ": " + error;
        return false;
    }
    recount();
    return true;
}

void Journal::recount() {
    Statement count(m_front, "SELECT count(*) FROM calls");
    m_rows = count.row() ? count.integer(0) : m_rows.load();
}

long Journal::rows() const {
    return static_cast<long>(m_rows);
}

long Journal::sizeBytes() {
    Statement pages(m_front,
                    "SELECT page_count * page_size FROM pragma_page_count(), "
                    "pragma_page_size()");
    struct stat log {};
    const long wal = ::stat((m_path + "-wal").c_str(), &log) == 0 ? log.st_size : 0;
    return (pages.row() ? static_cast<long>(pages.integer(0)) : 0) + wal;
}

long Journal::unknownOutcomes() {
    Statement count(m_front,
                    "SELECT count(*) FROM calls WHERE state = 'desconhecida' AND acknowledged = 0");
    return count.row() ? static_cast<long>(count.integer(0)) : 0;
}

long Journal::acknowledge(int session) {
    const std::lock_guard<std::mutex> writing(m_writing);
    Statement mark(m_front,
                   "UPDATE calls SET acknowledged = 1 WHERE session = ? AND state = "
                   "'desconhecida' AND acknowledged = 0");
    return mark.bind(1, session).run() ? static_cast<long>(sqlite3_changes(m_front)) : -1;
}

bool Journal::forEachSettledSince(std::int64_t since,
                                  const std::function<void(const CallRecord&)>& visit) {
    Statement query(m_front, std::string("SELECT ") + COLUMNS +
                                 " FROM calls WHERE received >= ? AND answered IS NOT NULL "
                                 "ORDER BY id");
    query.bind(1, since);
    while (query.row()) {
        visit(query.record());
    }
    return query.ok();
}

bool Journal::openConnection(const std::string& path, bool flushEveryCommit, sqlite3*& connection,
                             std::string& error) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &connection, flags, nullptr) != SQLITE_OK ||
        sqlite3_busy_timeout(connection, BUSY_MILLISECONDS) != SQLITE_OK ||
        !execute(connection, "PRAGMA journal_mode=WAL") ||
        !execute(connection,
                 flushEveryCommit ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL")) {
        error = connection != nullptr ? sqlite3_errmsg(connection) : "cannot open it";
        return false;
    }
    return true;
}

bool Journal::prepare(std::string& error) {
    if (!execute(m_device, SCHEMA)) {
        error = sqlite3_errmsg(m_device);
        return false;
    }
    return true;
}

// The former state: one file per till, "<calls>\n", in stateDir/sessions.
bool Journal::takeOverSessionFiles(const std::string& stateDir, std::string& error) {
    Statement version(m_device, "PRAGMA user_version");
    if (!version.row() || version.integer(0) >= SCHEMA_VERSION) {
        error = version.ok() ? "" : sqlite3_errmsg(m_device);
        return version.ok();
    }
    const std::string directory = stateDir + "/sessions";
    std::vector<std::string> files;
    Transaction transaction(m_device);
    bool ok = transaction.began();
    if (DIR* const listing = ::opendir(directory.c_str())) {
        while (const dirent* const entry = ::readdir(listing)) {
            std::string count;
            const std::string name = entry->d_name;
            char* end = nullptr;
            const long till = std::strtol(name.c_str(), &end, 10);
            if (name.size() != 3 || *end != '\0' || !readStateFile(directory + "/" + name, count)) {
                continue;
            }
            files.push_back(directory + "/" + name);
            ok = ok && Statement(m_device, "INSERT OR REPLACE INTO numbering VALUES(?, ?)")
                           .bind(1, till)
                           .bind(2, std::strtoll(count.c_str(), nullptr, 10))
                           .run();
        }
        ::closedir(listing);
    }
    ok = ok &&
         execute(m_device, ("PRAGMA user_version=" + std::to_string(SCHEMA_VERSION)).c_str()) &&
         transaction.commit();
    if (!ok) {
        error = sqlite3_errmsg(m_device);
        return false;
    }
    for (const std::string& file : files) {
        ::unlink(file.c_str());
    }
    ::rmdir(directory.c_str());
    return true;
}

int Journal::nextNumber(sqlite3* connection, int till) {
    Statement count(connection,
                    "INSERT INTO numbering VALUES(?, 1) ON CONFLICT(till) DO UPDATE "
                    "SET calls = calls + 1 RETURNING calls");
    if (!count.bind(1, till).row()) {
        return -1;
    }
    const std::int64_t made = count.integer(0) - 1;
    count.run();
    return till == OWN_NUMBERING ? 1 + static_cast<int>(made % OWN_SESSIONS)
                                 : FIRST + PER_TILL * till + static_cast<int>(made % PER_TILL);
}

bool Journal::queue(CallRecord& call, std::int64_t now) {
    const std::lock_guard<std::mutex> writing(m_writing);
    Transaction transaction(m_front);
    call.session = transaction.began() ? nextNumber(m_front, call.till) : -1;
    call.state = CallState::QUEUED;
    call.received = now;
    Statement insert(m_front,
                     "INSERT INTO calls(till, session, function, digest, request_key, new_code, "
                     "state, received) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, call.till)
        .bind(2, call.session)
        .bind(3, call.function)
        .bind(4, call.digest)
        .bindOrNull(5, call.requestKey)
        .bindOrNull(6, call.newCode)
        .bind(7, std::string(stateName(call.state)))
        .bind(8, now);
    if (call.session < 0 || !insert.run() || !transaction.commit()) {
        return false;
    }
    call.id = sqlite3_last_insert_rowid(m_front);
    ++m_rows;
    return true;
}

std::string Journal::frontError() const {
    return sqlite3_errmsg(m_front);
}

std::string Journal::deviceError() const {
    return sqlite3_errmsg(m_device);
}

bool Journal::markDelivered(std::int64_t id, std::int64_t now) {
    const std::lock_guard<std::mutex> writing(m_writing);
    return Statement(m_front, "UPDATE calls SET delivered = ? WHERE id = ?")
        .bind(1, now)
        .bind(2, id)
        .run();
}

bool Journal::markNotSent(std::int64_t id) {
    const std::lock_guard<std::mutex> writing(m_writing);
    return Statement(m_front, "UPDATE calls SET state = ?, new_code = NULL WHERE id = ?")
        .bind(1, std::string(stateName(CallState::NOT_SENT)))
        .bind(2, id)
        .run();
}

std::optional<CallRecord> Journal::latest(int till, const std::vector<const char*>& among) {
    std::string sql = std::string("SELECT ") + COLUMNS + " FROM calls WHERE till = ?";
    for (std::size_t i = 0; i < among.size(); ++i) {
        sql += i == 0 ? " AND function IN (?" : ", ?";
    }
    Statement query(m_front, sql + (among.empty() ? "" : ")") + " ORDER BY id DESC LIMIT 1");
    query.bind(1, till);
    for (std::size_t i = 0; i < among.size(); ++i) {
        query.bind(static_cast<int>(i) + 2, std::string(among[i]));
    }
    return first(query);
}

std::optional<CallRecord> Journal::byId(std::int64_t id) {
    Statement query(m_front, std::string("SELECT ") + COLUMNS + " FROM calls WHERE id = ?");
    query.bind(1, id);
    return first(query);
}

std::optional<CallRecord> Journal::bySession(int session) {
    Statement query(m_front, std::string("SELECT ") + COLUMNS +
                                 " FROM calls WHERE session = ? ORDER BY id DESC LIMIT 1");
    query.bind(1, session);
    return first(query);
}

std::optional<CallRecord> Journal::byKey(int till, const std::string& key, std::int64_t since) {
    Statement query(m_front, std::string("SELECT ") + COLUMNS +
                                 " FROM calls WHERE till = ? AND request_key = ? AND received >= ? "
                                 "ORDER BY id DESC LIMIT 1");
    query.bind(1, till).bind(2, key).bind(3, since);
    return first(query);
}

bool Journal::markAtDevice(std::int64_t id, std::int64_t now) {
    const std::lock_guard<std::mutex> writing(m_writing);
    return Statement(m_device, "UPDATE calls SET state = ?, sent = ? WHERE id = ?")
        .bind(1, std::string(stateName(CallState::AT_DEVICE)))
        .bind(2, now)
        .bind(3, id)
        .run();
}

bool Journal::settle(const CallRecord& call, std::int64_t now) {
    const std::lock_guard<std::mutex> writing(m_writing);
    return Statement(m_device,
                     "UPDATE calls SET state = ?, answered = ?, reply = ?, status = ?, "
                     "new_code = NULL WHERE id = ?")
        .bind(1, std::string(stateName(call.state)))
        .bind(2, now)
        .bindBlob(3, call.reply)
        .bind(4, call.status.value_or(0))
        .bind(5, call.id)
        .run();
}

int Journal::ownSession() {
    const std::lock_guard<std::mutex> writing(m_writing);
    Transaction transaction(m_device);
    const int session = transaction.began() ? nextNumber(m_device, OWN_NUMBERING) : -1;
    return session >= 0 && transaction.commit() ? session : -1;
}

std::vector<CallRecord> Journal::unsettled() {
    Statement query(m_device, std::string("SELECT ") + COLUMNS +
                                  " FROM calls WHERE state IN ('na_fila', 'no_dispositivo') "
                                  "ORDER BY id");
    std::vector<CallRecord> calls;
    while (query.row()) {
        calls.push_back(query.record());
    }
    return calls;
}

bool Journal::forEachReply(const std::function<void(const CallRecord&)>& visit) {
    Statement query(m_front, std::string("SELECT ") + COLUMNS +
                                 " FROM calls WHERE reply IS NOT NULL ORDER BY id");
    while (query.row()) {
        visit(query.record());
    }
    return query.ok();
}

long Journal::prune(std::int64_t before) {
    const std::lock_guard<std::mutex> writing(m_writing);
    Statement remove(m_front,
                     "DELETE FROM calls WHERE received < ? AND state NOT IN ('na_fila', "
                     "'no_dispositivo') AND NOT (state = 'desconhecida' AND acknowledged = 0)");
    return remove.bind(1, before).run() ? static_cast<long>(sqlite3_changes(m_front)) : -1;
}

}  // namespace hub

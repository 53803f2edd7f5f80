#include "platform/store_p.h"

#include "platform/machine.h"
#include "platform/text.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <unordered_map>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::store {

/*
 * The machine store, schema version 1 (PRAGMA user_version = 1).
 *
 * One SQLite database, machine::storePath(), in WAL journal mode so that
 * readers never wait for a writer and every process of the machine sees a
 * committed change at once. Every write runs in a BEGIN IMMEDIATE
 * transaction, so one registry value write (or one configuration change) is
 * atomic: another process sees the old value or the new one, never a mix.
 *
 *   keys(id INTEGER PRIMARY KEY,
 *        parent INTEGER NOT NULL,   -- id of the parent key; 0 for a root
 *        name TEXT NOT NULL,        -- UTF-8, the case it was created with
 *        folded TEXT NOT NULL,      -- UTF-8 of text::foldCase(name)
 *        UNIQUE(parent, folded))
 *     The roots are "HKEY_LOCAL_MACHINE" and "HKEY_USERS". A user's hive is
 *     HKEY_USERS\<user name>, made when it is first needed.
 *
 *   reg_values(key INTEGER NOT NULL,  -- keys.id
 *              name TEXT NOT NULL,    -- UTF-8; "" is the key's default value
 *              folded TEXT NOT NULL,
 *              type INTEGER NOT NULL, -- the platform's REG_* number
 *              data BLOB NOT NULL,    -- the bytes exactly as the caller gave them
 *              UNIQUE(key, folded))
 *     Rows keep their rowid when overwritten, so a key lists its values in
 *     the order they were first set.
 *
 *   config(name TEXT PRIMARY KEY,     -- dotted name: "user.current"
 *          value TEXT NOT NULL)
 *
 * Nothing references rows across tables by constraint: deleting a key tree
 * deletes its values in the same transaction.
 */
constexpr int SchemaVersion = 1;

namespace {

constexpr const char* SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS keys (
    id INTEGER PRIMARY KEY,
    parent INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    UNIQUE (parent, folded)
);
CREATE TABLE IF NOT EXISTS reg_values (
    key INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE (key, folded)
);
CREATE TABLE IF NOT EXISTS config (
    name TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
)sql";

// The keys every machine has: the two roots and the key of logon programs.
constexpr const char* MachineKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKEY_USERS",
};

// How long a transaction keeps trying while other processes hold the store.
// SQLite's own busy handler waits inside each call; this bounds the retries
// of whole transactions on top of it (a busy snapshot cannot be waited out).
constexpr auto BusyTimeoutMs = 10000;
constexpr auto RetryLimit = std::chrono::seconds(30);

// The process's store generation: create() bumps it so that every thread
// drops a connection to a store file that was replaced.
std::atomic<uint64_t> storeGeneration { 1 };

struct ThreadStore {
    sqlite3* db { nullptr };
    std::string path;
    uint64_t generation { 0 };
    std::unordered_map<const char*, sqlite3_stmt*> statements;
    int depth { 0 }; // nesting of transact() calls
    int failure { SQLITE_OK }; // the first failing step of the current transaction
    pid_t owner { 0 }; // the process that opened the connection
    // The database file the connection opened: a machine made anew under a
    // running program (tavio-machine init) has a new file at the same path.
    dev_t device { 0 };
    ino_t inode { 0 };

    ~ThreadStore() { close(); }

    void close()
    {
        // NOTE: a connection inherited through fork() belongs to the parent;
        // closing it here could disturb the parent's locks, so it is dropped.
        if (db && owner != ::getpid()) {
            db = nullptr;
            statements.clear();
            depth = 0;
        }
        for (auto& [sql, statement] : statements)
            sqlite3_finalize(statement);
        statements.clear();
        if (db)
            sqlite3_close_v2(db);
        db = nullptr;
        path.clear();
    }
};

thread_local ThreadStore threadStore;

void remember(int rc)
{
    if (threadStore.failure == SQLITE_OK)
        threadStore.failure = rc;
}

bool isBusy(int rc)
{
    int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Error toError(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return Error::GenFailure; // callers only ask after a failure
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Error::SharingViolation;
    case SQLITE_NOMEM:
        return Error::NotEnoughMemory;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Error::AccessDenied;
    case SQLITE_FULL:
    case SQLITE_IOERR:
        return Error::WriteFault;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Error::InvalidData;
    case SQLITE_TOOBIG:
        return Error::InvalidParameter;
    default:
        return Error::GenFailure;
    }
}

int execute(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

int userVersion(sqlite3* db)
{
    sqlite3_stmt* statement = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    return version;
}

// Makes each key of a backslash-separated path from the root down, keeping
// what is there. SQLITE_DONE when the whole path exists.
int makeKeyPath(sqlite3* db, std::string_view path)
{
    int64_t parent = 0;
    while (!path.empty()) {
        size_t end = path.find('\\');
        std::string name(path.substr(0, end));
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        std::string folded = text::toUtf8(text::foldCase(text::toUtf16(name)));
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare_v2(
            db, "INSERT OR IGNORE INTO keys (parent, name, folded) VALUES (?1, ?2, ?3)", -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_int64(statement, 1, parent);
            sqlite3_bind_text(statement, 2, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(statement, 3, folded.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(statement);
        }
        sqlite3_finalize(statement);
        if (rc != SQLITE_DONE)
            return rc;
        rc = sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2", -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_int64(statement, 1, parent);
            sqlite3_bind_text(statement, 2, folded.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(statement);
            if (rc == SQLITE_ROW)
                parent = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
        if (rc != SQLITE_ROW)
            return rc;
    }
    return SQLITE_DONE;
}

void backOff(int attempt)
{
    thread_local std::minstd_rand random(std::random_device {}());
    int ceiling = 1 << std::min(attempt, 6); // up to 64 ms
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % ceiling));
}

} // namespace

sqlite3* connection()
{
    std::string path = machine::storePath().string();
    auto& state = threadStore;
    struct stat file { };
    bool sameFile = ::stat(path.c_str(), &file) == 0 && file.st_dev == state.device && file.st_ino == state.inode;
    bool current = state.db && sameFile && state.path == path
        && state.generation == storeGeneration.load(std::memory_order_relaxed) && state.owner == ::getpid();
    if (current)
        return state.db;
    // NOTE: never switch stores under an open transaction; it finishes on
    // the connection it began on.
    if (state.db && state.depth > 0 && state.owner == ::getpid())
        return state.db;
    state.close();

    sqlite3* db = nullptr;
    // Opening never creates: a machine without a store has no registry.
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    // WAL with NORMAL syncing cannot be corrupted by a process that dies, and
    // a committed write survives any process's end.
    execute(db, "PRAGMA synchronous=NORMAL");
    if (userVersion(db) != SchemaVersion) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    state.db = db;
    state.owner = ::getpid();
    state.device = ::stat(path.c_str(), &file) == 0 ? file.st_dev : 0;
    state.inode = file.st_ino;
    state.path = std::move(path);
    state.generation = storeGeneration.load(std::memory_order_relaxed);
    return db;
}

Status create()
{
    storeGeneration.fetch_add(1);
    threadStore.close();

    std::string path = machine::storePath().string();
    sqlite3* db = nullptr;
    int rc
        = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return Error::PathNotFound;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);

    auto fail = [&](int code) {
        execute(db, "ROLLBACK");
        sqlite3_close_v2(db);
        return toError(code);
    };

    // The journal mode is a property of the file: set once, kept for good.
    rc = execute(db, "PRAGMA journal_mode=WAL");
    if (rc != SQLITE_OK)
        return fail(rc);
    if (rc = execute(db, "BEGIN IMMEDIATE"); rc != SQLITE_OK)
        return fail(rc);
    int version = userVersion(db);
    if (version != 0 && version != SchemaVersion)
        return fail(SQLITE_NOTADB); // a store of another layout: never overwrite it
    if (rc = execute(db, SchemaSql); rc != SQLITE_OK)
        return fail(rc);

    for (std::string_view path : MachineKeys) {
        if (rc = makeKeyPath(db, path); rc != SQLITE_DONE)
            return fail(rc);
    }
    std::string setVersion = "PRAGMA user_version=" + std::to_string(SchemaVersion);
    if (rc = execute(db, setVersion.c_str()); rc != SQLITE_OK)
        return fail(rc);
    if (rc = execute(db, "COMMIT"); rc != SQLITE_OK)
        return fail(rc);
    sqlite3_close_v2(db);
    return {};
}

Status transact(Mode mode, const std::function<Status()>& work)
{
    auto& state = threadStore;
    if (state.depth > 0) {
        ++state.depth;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave { state.depth };
        return work();
    }

    const auto deadline = std::chrono::steady_clock::now() + RetryLimit;
    for (int attempt = 0;; ++attempt) {
        sqlite3* db = connection();
        if (!db)
            return Error::GenFailure;
        state.failure = SQLITE_OK;
        int rc = execute(db, mode == Mode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
        if (rc == SQLITE_OK) {
            // Should `work` throw, the transaction ends undone and the thread
            // is left ready for the next one.
            struct Abandon {
                sqlite3* db;
                int& depth;
                bool armed { true };
                ~Abandon()
                {
                    depth = 0;
                    if (armed)
                        execute(db, "ROLLBACK");
                }
            } abandon { db, state.depth };
            state.depth = 1;
            Status status = work();
            abandon.armed = false;
            state.depth = 0;
            if (state.failure == SQLITE_OK && status.ok()) {
                rc = execute(db, "COMMIT");
                if (rc == SQLITE_OK)
                    return {};
            } else {
                rc = state.failure;
            }
            execute(db, "ROLLBACK");
            if (rc == SQLITE_OK)
                return status; // work refused, the store is fine
        }
        if (!isBusy(rc) || std::chrono::steady_clock::now() >= deadline)
            return toError(rc);
        backOff(attempt);
    }
}

Error lastError()
{
    return toError(threadStore.failure);
}

Statement::Statement(const char* sql)
{
    sqlite3* db = connection();
    if (!db) {
        remember(SQLITE_CANTOPEN);
        return;
    }
    auto& statements = threadStore.statements;
    auto found = statements.find(sql);
    if (found != statements.end() && !sqlite3_stmt_busy(found->second)) {
        m_statement = found->second;
        return;
    }
    int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr);
    if (rc != SQLITE_OK) {
        remember(rc);
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
        return;
    }
    // NOTE: a statement still stepping higher up the stack keeps its place
    // in the cache; this one is private and finalized when done.
    if (found == statements.end())
        statements.emplace(sql, m_statement);
    else
        m_owned = true;
}

Statement::~Statement()
{
    if (m_owned) {
        sqlite3_finalize(m_statement);
    } else if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

Statement& Statement::bind(int index, int64_t value)
{
    if (m_statement)
        sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text)
{
    if (text.size() > INT_MAX)
        remember(SQLITE_TOOBIG);
    else if (m_statement)
        sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bind(int index, std::span<const std::byte> data)
{
    if (!m_statement)
        return *this;
    if (data.size() > INT_MAX) {
        remember(SQLITE_TOOBIG);
        return *this;
    }
    // A null pointer would bind SQL NULL; an empty value is an empty blob.
    if (data.empty())
        sqlite3_bind_zeroblob(m_statement, index, 0);
    else
        sqlite3_bind_blob(m_statement, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index)
{
    if (m_statement)
        sqlite3_bind_null(m_statement, index);
    return *this;
}

bool Statement::next()
{
    if (!m_statement)
        return false;
    int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        remember(rc);
    return false;
}

Status Statement::run()
{
    if (!m_statement)
        return lastError();
    while (next()) { }
    if (threadStore.failure != SQLITE_OK)
        return lastError();
    return {};
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::string Statement::text(int column) const
{
    auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::vector<std::byte> Statement::blob(int column) const
{
    auto* data = static_cast<const std::byte*>(sqlite3_column_blob(m_statement, column));
    int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::vector<std::byte>(data, data + size) : std::vector<std::byte>();
}

} // namespace platform::store

#pragma once

// The machine store: one SQLite database in the machine folder holding the
// registry and the machine's configuration. Only platform/ includes this.

#include "platform/result.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::store {

// Creates the database with its schema and the registry's root keys
// (HKEY_LOCAL_MACHINE and an empty HKEY_USERS). Called by machine::initialize
// on a folder that holds no store yet.
Status create();

// The calling thread's connection to the current machine's store, opened on
// first use (and again when TAVIO_MACHINE names another machine). nullptr when
// the store cannot be opened.
sqlite3* connection();

enum class Mode {
    Read, // a deferred transaction: sees one consistent state of the store
    Write, // BEGIN IMMEDIATE: the writer holds the store for the whole unit
};

// Runs `work` as one transaction on the calling thread's connection. When
// another process holds the store busy the transaction is rolled back and
// `work` runs again from the start, so `work` must only touch the store and
// its own locals. A failure status from `work` rolls the transaction back.
// Nested calls on one thread join the outer transaction.
Status transact(Mode mode, const std::function<Status()>& work);

// One prepared statement of the calling thread's connection, kept prepared
// for reuse and reset when this object ends. Use only inside transact(): a
// failing step is remembered there (and a busy store makes it start again).
class Statement {
public:
    explicit Statement(const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool valid() const { return m_statement != nullptr; }

    // Parameters are numbered from 1, as SQLite numbers them.
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, std::span<const std::byte> data);
    Statement& bindNull(int index);

    // Steps once: true when a row is ready, false at the end or on failure.
    bool next();
    // Steps to the end: the failure code, or success.
    Status run();

    // Columns of the current row, numbered from 0.
    bool isNull(int column) const;
    int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<std::byte> blob(int column) const;

private:
    sqlite3_stmt* m_statement { nullptr };
    bool m_owned { false };
};

// The platform code that stands for the last failure inside the current
// transaction (GenFailure when the store could not be used at all).
Error lastError();

} // namespace platform::store

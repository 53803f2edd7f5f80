#pragma once

// The machine store: one SQLite database in the machine folder holding the
// registry and the machine's configuration. Only platform/ includes this.

#include "platform/result.h"

#include <sqlite3.h>

namespace platform::store {

// Creates the database with its schema and the registry's root keys
// (HKEY_LOCAL_MACHINE and an empty HKEY_USERS). Called by machine::initialize
// on a folder that holds no store yet.
Status create();

// The calling thread's connection to the current machine's store, opened on
// first use (and again when TAVIO_MACHINE names another machine). nullptr when
// the store cannot be opened.
sqlite3* connection();

} // namespace platform::store

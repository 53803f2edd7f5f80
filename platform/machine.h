#pragma once

#include "platform/result.h"

#include <filesystem>
#include <string>

namespace platform::machine {

// The simulated tablet lives in one host folder. Its location comes from the
// environment variable TAVIO_MACHINE, read afresh on every call so that a test
// can point a process at a machine of its own; when unset it is
// $XDG_DATA_HOME/tavio-machine (or ~/.local/share/tavio-machine).
std::filesystem::path root();

// Fixed places inside the machine folder.
std::filesystem::path driveC(); // the folder that drive C: maps to
std::filesystem::path storePath(); // registry and machine configuration (SQLite)
std::filesystem::path journalPath(); // the machine journal
std::filesystem::path runtimeFolder(); // sockets and lock files of the object manager

enum class UserRole {
    Administrator,
    StandardUser,
};

struct InitOptions {
    std::u16string userName { u"Owner" };
    UserRole role { UserRole::Administrator };
};

// Makes a fresh machine at root(): removes whatever was there, lays out drive
// C: (C:\WINDOWS\System32, C:\Program Files, the user's profile) and creates
// an empty registry with the machine's own keys.
Status initialize(const InitOptions& options = {});

// Whether root() holds a machine made by initialize().
bool exists();

} // namespace platform::machine

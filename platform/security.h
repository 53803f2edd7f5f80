#pragma once

#include "platform/machine.h"
#include "platform/result.h"

#include <string>
#include <vector>

namespace platform::security {

// The machine's users and the token of the calling process.

struct Account {
    std::u16string name;
    machine::UserRole role { machine::UserRole::Administrator };
};

// The user the programs of this machine run as (default "Owner", an
// administrator), from the machine's configuration.
Account currentUser();
std::vector<Account> users();

// Adds or changes a user and makes it the current one (the machine tool).
Status setCurrentUser(const Account& account);

// Security identifiers as text: the built-in Administrators group.
inline constexpr std::u16string_view AdministratorsGroup = u"S-1-5-32-544";
inline constexpr std::u16string_view UsersGroup = u"S-1-5-32-545";

// The groups in the calling process's token: Users for everyone,
// Administrators for an administrator or an elevated process.
std::vector<std::u16string> tokenGroups();
bool isAdministrator();

// From now on this process acts as the machine's administrator, whoever the
// current user is (an installer runs elevated).
void runElevated();

} // namespace platform::security
